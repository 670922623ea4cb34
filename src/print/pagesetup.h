// The page setup of the current job: orientation and paper code, derived
// from the letterhead's page and the request's overrides.
#pragma once

#include "platform/printing/devmode.h"
#include "util/logger.h"

#include <cstdint>
#include <string_view>

struct TJobPageSetup {
    bool PageLandscape = false;
    std::uint16_t PagePaperSize = 0;  // 0 stands for A4
};

// The paper code of a page height (twips); the width does not matter.
std::uint16_t PaperSizeFromPage(int widthTwips, int heightTwips);

// Fills the page setup from the page size and the request's ORIENTATION and
// PAPERSIZE values, logging what it overrides.
void FillPageSetup(TJobPageSetup& setup, int widthTwips, int heightTwips, std::string_view orientation,
                   std::string_view paperSize, TLogger& log);
