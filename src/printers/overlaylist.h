// The overlay grid under the printer table: the overlay list of the printer
// chosen in the printer-name box, and copying one printer's list over
// another's. The page's widgets show this state.
#pragma once

#include "delivery/overlaylookup.h"
#include "util/prompts.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The rows of a printer's overlay list as the lookup found it: overlay
// number, description; none when it found nothing.
std::vector<std::pair<std::string, std::string>> OverlayRows(const TResult<TMacroAnswer>& found);

class TOverlayList {
public:
    TOverlayList(TOverlayLookup& lookup, std::function<TPrompts&()> prompts)
        : FLookup(lookup), FPrompts(std::move(prompts))
    {
    }

    // Fills the grid for that printer and sets whether it may be copied.
    void ShowOverlayList(std::string_view printer);
    void CopyOverlayButtonClick(std::string_view printer);
    void PasteToListButtonClick(std::string_view target);
    // The paste button names the entry being shown as its target.
    void ShowPasteTarget(std::string_view target);

    // Rows of the grid: overlay number, description.
    std::vector<std::pair<std::string, std::string>> Rows;
    bool CopyEnabled = false;
    std::string PasteCaption = "&Paste XXX List to XXXX";
    bool PasteVisible = false;

    // The copied list, kept until the next copy or the end of the program.
    const TMacroBlock& Copied() const { return FCopied; }

private:
    TOverlayLookup& FLookup;
    std::function<TPrompts&()> FPrompts;
    TMacroBlock FCopied;
};
