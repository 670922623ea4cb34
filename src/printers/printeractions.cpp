#include "printers/printeractions.h"
#include "config/settingkeys.h"

#include "util/textutil.h"

#include <algorithm>

int TPrinterActions::LineOfNumber(std::string_view number) const
{
    const auto& lines = C.Table.Printerlist();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find('=') != std::string::npos && SameText(TextBefore(lines[i], "="), number))
            return static_cast<int>(i);
    return -1;
}

bool TPrinterActions::Holds(std::string_view number) const
{
    const int at = LineOfNumber(number);
    return at >= 0 && !TextAfter(C.Table.Printerlist()[static_cast<std::size_t>(at)], "=").empty();
}

void TPrinterActions::ShowPrinterEntry(TSender sender)
{
    TPrinterTable& t = C.Table;
    if (t.Selected() < 0)
        return;
    const std::string& line = t.Printerlist()[static_cast<std::size_t>(t.Selected())];
    const std::string number = Trim(TextBefore(line, "="));
    // The printer as the lookup finds it: "Laser C|spare" is Laser C.
    const std::string name = TPrinterTable::PrinterNameOf(line);
    const auto& numbers = t.NumberBox();
    if (std::find(numbers.begin(), numbers.end(), number) != numbers.end())
        t.SetNumberBoxText(number);
    t.HostText = C.Settings.Value(keys::HostIp(number));
    // A printer that is no longer installed leaves the box's choice as it was.
    for (const std::string& installed : t.PrinterNameCombo)
        if (SameText(installed, name))
            t.PrinterNameText = installed;
    C.Overlays.ShowPasteTarget(name);
    C.Overlays.ShowOverlayList(t.PrinterNameText);
    if (sender != TSender::NumberBox)
        printernumbereditChange(sender);
}

void TPrinterActions::printernumbereditChange(TSender sender)
{
    C.Table.Select(LineOfNumber(Trim(C.Table.NumberBoxText())));
    if (sender == TSender::NumberBox)
        ShowPrinterEntry(TSender::NumberBox);
}

void TPrinterActions::PrinterNameComboChange()
{
    C.Overlays.ShowOverlayList(C.Table.PrinterNameText);
}

void TPrinterActions::UpdatePrinterList(TSender sender)
{
    TPrinterTable& t = C.Table;
    NumberNeedsCorrection = false;
    if (t.NumberBoxText().empty())
        return;
    std::string number = Trim(t.NumberBoxText());
    while (number.size() > 1 && number.front() == '0')
        number.erase(0, 1);
    t.SetNumberBoxText(number);
    if (!TryStrToInt(number)) {
        NumberNeedsCorrection = true;
        return;
    }

    // The list line of that number takes the chosen printer, or goes when
    // no printer is chosen.
    const std::string& name = t.PrinterNameText;
    if (const int at = LineOfNumber(number); at >= 0)
        t.RemoveLine(at);
    int selected = -1;
    if (!name.empty())
        selected = t.AddLine(number + "=" + name);
    t.Select(selected);

    C.Settings.SetValue(keys::Printer(number), name);
    C.Settings.SetValue(keys::HostIp(number), t.HostText);
    t.updatePrinterNumList();
    ShowPrinterEntry(sender);
}

void TPrinterActions::NewButtonClick()
{
    int proposal = 1;
    while (Holds(std::to_string(proposal)))
        ++proposal;
    for (;;) {
        std::string answer = std::to_string(proposal);
        // Cancel ends here: answering Cancel with the preset text would
        // otherwise add the proposal, or ask forever about a held number.
        if (!C.Prompts().InputQuery("Please Entry Halvorin Printer Number", "Add a Halvorin Printer", answer))
            return;
        const std::string trimmed = Trim(answer);
        if (trimmed.empty())
            return;
        const auto number = TryStrToInt(trimmed);
        if (!number) {
            C.Prompts().ShowMessage("", "\"" + answer + "\" is not a valid number");
            continue;
        }
        proposal = *number;
        const std::string text = std::to_string(proposal);
        if (Holds(text)) {
            C.Prompts().ShowMessage("", "Printer " + text + " is already present");
            continue;
        }
        C.Table.AddLine(text + "=" + kNewPrinterName);
        C.Table.updatePrinterNumList();
        C.Table.SetNumberBoxText(text);
        return;
    }
}

void TPrinterActions::printerupdateClick()
{
    UpdatePrinterList(TSender::Other);
    C.SaveSettings();
}

void TPrinterActions::PrinterlistKeyUp()
{
    UpdatePrinterList(TSender::PrinterList);
}

void TPrinterActions::PrinterPopUpPopup()
{
    const TPrinterTable& t = C.Table;
    if (t.Selected() < 0)
        return;
    const std::string& line = t.Printerlist()[static_cast<std::size_t>(t.Selected())];
    DeleteCaption = "&Delete Printer " + TPrinterTable::NumberOf(line) + ", " + Trim(TextAfter(line, "="));
}

void TPrinterActions::DeletePrinterClick()
{
    TPrinterTable& t = C.Table;
    if (t.Selected() < 0)
        return;
    const std::string key = keys::Printer(TPrinterTable::NumberOf(t.Printerlist()[static_cast<std::size_t>(t.Selected())]));
    // A line that never reached the settings (New without Update) stays.
    if (C.Settings.IndexOfName(key) < 0)
        return;
    C.Settings.SetValue(key, "");
    t.RemoveLine(t.Selected());
}

void TPrinterActions::setasdefaultClick()
{
    TPrinterTable& t = C.Table;
    if (t.Selected() < 0)
        return;
    const std::string name = TPrinterTable::PrinterNameOf(t.Printerlist()[static_cast<std::size_t>(t.Selected())]);
    C.Settings.SetValue(keys::DefaultPrinter, name);
    t.DefaultLabel = name;
    printerupdateClick();
}

void TPrinterActions::PrinterPageEnter()
{
    TPrinterTable& t = C.Table;
    t.PrinterNameCombo = C.InstalledPrinters();
    // The box only holds installed printers.
    if (std::none_of(t.PrinterNameCombo.begin(), t.PrinterNameCombo.end(),
                     [&](const std::string& name) { return SameText(name, t.PrinterNameText); }))
        t.PrinterNameText.clear();
}
