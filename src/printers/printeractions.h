// The Printers page's operations on the printer table: showing an entry,
// applying the editing fields to the table and the settings, New, Update,
// Delete and Set as Default. They work on TPrinterTable's state and the
// settings store; the page's widgets mirror the state after each one.
#pragma once

#include "config/settingseditor.h"
#include "printers/overlaylist.h"
#include "printers/printertable.h"
#include "util/prompts.h"

#include <functional>
#include <string>
#include <vector>

class TPrinterActions {
public:
    // Which control started an operation: some steps depend on it.
    enum class TSender { PrinterList, NumberBox, Other };

    struct TContext {
        TPrinterTable& Table;
        TSettingsEditor& Settings;
        TOverlayList& Overlays;
        std::function<TPrompts&()> Prompts;
        std::function<std::vector<std::string>()> InstalledPrinters;
        std::function<void()> SaveSettings;  // the Settings page's "Update Now"
    };

    explicit TPrinterActions(TContext context) : C(std::move(context)) {}

    void ShowPrinterEntry(TSender sender);
    void updatePrinterNumList() { C.Table.updatePrinterNumList(); }
    void UpdatePrinterList(TSender sender);
    void printernumbereditChange(TSender sender);
    void PrinterNameComboChange();
    void NewButtonClick();
    void printerupdateClick();
    void PrinterlistKeyUp();
    void PrinterPopUpPopup();
    void DeletePrinterClick();
    void setasdefaultClick();
    void PrinterPageEnter();

    // Set when Update found a number that is not a whole number: the page
    // selects the number text for correction.
    bool NumberNeedsCorrection = false;
    // The pop-up menu's first item.
    std::string DeleteCaption = "&Delete Printer";

    static constexpr const char* kNewPrinterName = "NEW HALVORIN PRINTER";

private:
    // Position of the list line named by that number, or -1.
    int LineOfNumber(std::string_view number) const;
    // Whether a line of that number has a printer name.
    bool Holds(std::string_view number) const;

    TContext C;
};
