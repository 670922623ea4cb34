// The Printers page's state without its widgets: the printer list (lines
// "<n>=<printer name>", kept sorted as text), the number box, the installed
// printer names, the host box and the default label. The page shows it.
#pragma once

#include "config/settingsstore.h"

#include <string>
#include <string_view>
#include <vector>

class TPrinterTable {
public:
    // Adds a line and keeps the list sorted as text (so "10=…" precedes "2=…").
    int AddLine(std::string line);
    void RemoveLine(int index);  // the selection follows its line, none when it was this one
    void Clear();
    const std::vector<std::string>& Printerlist() const { return FPrinterlist; }
    int Selected() const { return FSelected; }
    void Select(int index);  // -1 for none

    // Position of the first line whose printer name matches, or -1.
    int IndexOfPrinterName(std::string_view name) const;

    // The number box: the number part of every line, in list order, and the
    // box's own selection (empty text for none).
    const std::vector<std::string>& NumberBox() const { return FNumberBox; }
    const std::string& NumberBoxText() const { return FNumberBoxText; }
    void SetNumberBoxText(std::string text) { FNumberBoxText = std::move(text); }
    void updatePrinterNumList();

    std::vector<std::string> PrinterNameCombo;  // installed printers
    std::string PrinterNameText;
    std::string HostText;
    std::string DefaultLabel;

    static std::string NumberOf(std::string_view line);       // trimmed text before "="
    static std::string PrinterNameOf(std::string_view line);  // before any "|", trimmed

private:
    std::vector<std::string> FPrinterlist;
    int FSelected = -1;
    std::vector<std::string> FNumberBox;
    std::string FNumberBoxText;
};

// The entry number of the default printer, as the start-up finds it: the
// printer PRINTER names, else the first entry's; empty when no entry has it.
std::string DefaultPrinterNumber(const TSettings& settings);
