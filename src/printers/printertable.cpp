#include "printers/printertable.h"

#include "config/settingkeys.h"
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

std::optional<std::string> AddPrinterEntries(TPrinterTable& table, const std::vector<std::string>& settingsLines)
{
    std::optional<std::string> defaultName;
    for (const std::string& line : settingsLines) {
        if (line.compare(0, 7, keys::DefaultPrinter) != 0 || line.find('=') == std::string::npos)
            continue;
        if (!TextBefore(std::string_view(line).substr(7), "=").empty())
            table.AddLine(line.substr(7));
        else
            defaultName = TextAfter(line, "=");
    }
    return defaultName;
}

std::string DefaultPrinterNumber(const std::vector<std::string>& settingsLines)
{
    TPrinterTable table;
    const std::optional<std::string> named = AddPrinterEntries(table, settingsLines);
    const std::vector<std::string>& entries = table.Printerlist();
    std::string name = named.value_or(std::string());
    if (!named && !entries.empty())
        name = TPrinterTable::PrinterNameOf(entries[0]);
    const int index = table.IndexOfPrinterName(name);
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
