#include "printers/overlaylist.h"

#include "util/fileutil.h"
#include "util/textutil.h"

std::vector<std::pair<std::string, std::string>> OverlayRows(const TResult<TMacroAnswer>& found)
{
    const std::string text = found ? ReplaceAll(found->Text, "\t", "=") : std::string();
    std::vector<std::pair<std::string, std::string>> rows;
    for (const std::string& line : SplitLines(text))
        if (!line.empty())
            rows.emplace_back(TextBefore(line + "=", "="), TextAfter(line, "="));
    return rows;
}

void TOverlayList::ShowOverlayList(std::string_view printer)
{
    const TResult<TMacroAnswer> found = FLookup.MacroLookup(0, printer);
    Rows = OverlayRows(found);
    CopyEnabled = found && !found->Hp && !Rows.empty();
}

void TOverlayList::CopyOverlayButtonClick(std::string_view printer)
{
    if (printer.empty()) {
        FPrompts().ShowMessage("", "No Printer Selected");
        return;
    }
    const TResult<TMacroAnswer> found = FLookup.MacroLookup(0, printer);
    if (!found) {
        FPrompts().ShowMessage("", ErrorText(found.Failure()), TPrompts::Icon::Error);
        return;
    }
    if (found->Hp)
        return;
    FCopied = FLookup.LastMacroBlock;
    PasteCaption = "Paste Overlays from " + FCopied.PrinterName + " to " + FCopied.PrinterName;
    PasteVisible = true;
}

void TOverlayList::ShowPasteTarget(std::string_view target)
{
    PasteCaption = "Paste Overlays from " + FCopied.PrinterName + " to " + std::string(target);
}

void TOverlayList::PasteToListButtonClick(std::string_view target)
{
    if (FCopied.PrinterName.empty())
        return;
    if (target.empty()) {
        FPrompts().ShowMessage("", "No target printer selected");
        return;
    }
    const std::string question = "Are you sure you want to overwrite the Overlay list from " + std::string(target) +
                                 " with the list from " + FCopied.PrinterName + "?";
    if (!FPrompts().AskYesNo("Overwrite Macro List", question))
        return;
    const TOutcome written = FLookup.WriteMacroList(target, FCopied.Bytes, static_cast<int>(FCopied.Bytes.size()));
    if (!written)
        FPrompts().ShowMessage("", ErrorText(written.Failure()), TPrompts::Icon::Error);
    ShowOverlayList(target);
}
