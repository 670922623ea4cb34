#include "printers/overlaylist.h"

#include "util/fileutil.h"
#include "util/textutil.h"

void TOverlayList::ShowOverlayList(std::string_view printer)
{
    std::string text = ReplaceAll(FLookup.MacroLookup(0, printer), "\t", "=");
    if (text.find("ERROR:") != std::string::npos)
        text.clear();
    Rows.clear();
    for (const std::string& line : SplitLines(text))
        if (!line.empty())
            Rows.emplace_back(TextBefore(line + "=", "="), TextAfter(line, "="));
    CopyEnabled = !text.empty() && text.find("HP OVERLAY") == std::string::npos;
}

void TOverlayList::CopyOverlayButtonClick(std::string_view printer)
{
    if (printer.empty()) {
        FPrompts().ShowMessage("", "No Printer Selected");
        return;
    }
    const std::string answer = FLookup.MacroLookup(0, printer);
    if (answer.starts_with("ERROR:")) {
        FPrompts().ShowMessage("", answer, TPrompts::Icon::Error);
        return;
    }
    if (answer.find("HP OVERLAY") != std::string::npos)
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
    const std::string error =
        FLookup.WriteMacroList(target, FCopied.Bytes, static_cast<int>(FCopied.Bytes.size()));
    if (!error.empty())
        FPrompts().ShowMessage("", error, TPrompts::Icon::Error);
    ShowOverlayList(target);
}
