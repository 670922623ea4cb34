#include "printers/printertable.h"

#include "config/serverconfig.h"
#include "util/textutil.h"

#include <algorithm>

int TPrinterTable::AddLine(std::string line)
{
    // Insert after equal lines so that repeated entries keep their file order.
    const auto pos = std::upper_bound(FPrinterlist.begin(), FPrinterlist.end(), line,
                                      [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    const int index = static_cast<int>(pos - FPrinterlist.begin());
    FPrinterlist.insert(pos, std::move(line));
    if (FSelected >= index)
        ++FSelected;
    return index;
}

void TPrinterTable::RemoveLine(int index)
{
    if (index < 0 || index >= static_cast<int>(FPrinterlist.size()))
        return;
    FPrinterlist.erase(FPrinterlist.begin() + index);
    if (FSelected == index)
        FSelected = -1;
    else if (FSelected > index)
        --FSelected;
}

void TPrinterTable::Clear()
{
    FPrinterlist.clear();
    FSelected = -1;
}

void TPrinterTable::Select(int index)
{
    FSelected = (index >= 0 && index < static_cast<int>(FPrinterlist.size())) ? index : -1;
}

int TPrinterTable::IndexOfPrinterName(std::string_view name) const
{
    for (std::size_t i = 0; i < FPrinterlist.size(); ++i) {
        const std::string& line = FPrinterlist[i];
        if (SameText(name, TextAfter(line, "=")) || SameText(name, TextBetween(line, "=", "|")))
            return static_cast<int>(i);
    }
    return -1;
}

std::string DefaultPrinterNumber(const TSettings& settings)
{
    const TPrinterLines lines = ReadPrinterLines(settings);
    TPrinterTable table;
    for (const std::string& line : lines.Numbered)
        table.AddLine(line);
    const std::vector<std::string>& entries = table.Printerlist();
    if (entries.empty())
        return {};
    const int index =
        table.IndexOfPrinterName(lines.Default ? *lines.Default : TPrinterTable::PrinterNameOf(entries.front()));
    return index < 0 ? std::string() : TPrinterTable::NumberOf(entries[static_cast<std::size_t>(index)]);
}

void TPrinterTable::updatePrinterNumList()
{
    const std::string remembered = FNumberBoxText;
    FNumberBox.clear();
    for (const std::string& line : FPrinterlist)
        FNumberBox.push_back(NumberOf(line));
    const bool present = std::find(FNumberBox.begin(), FNumberBox.end(), remembered) != FNumberBox.end();
    FNumberBoxText = present ? remembered : std::string();
}

std::string TPrinterTable::NumberOf(std::string_view line)
{
    return Trim(TextBefore(line, "="));
}

std::string TPrinterTable::PrinterNameOf(std::string_view line)
{
    return Trim(TextBefore(TextAfter(line, "="), "|"));
}
