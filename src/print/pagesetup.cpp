#include "print/pagesetup.h"

#include "util/textutil.h"

#include <string>

std::uint16_t PaperSizeFromPage(int, int heightTwips)
{
    const auto h = static_cast<long long>(heightTwips / 1440.0 * 100.0);
    if (h >= 580 && h <= 600)
        return kPaperA5;
    if (h >= 1100 && h <= 1120)
        return kPaperLetter;
    if (h >= 1160 && h <= 1180)
        return kPaperA4;
    if (h >= 2320 && h <= 2350)
        return kPaperA3;
    return kPaperA4;
}

void FillPageSetup(TJobPageSetup& setup, int widthTwips, int heightTwips, std::string_view orientation,
                   std::string_view paperSize, TLogger& log)
{
    setup.PageLandscape = widthTwips > heightTwips;
    setup.PagePaperSize = PaperSizeFromPage(widthTwips, heightTwips);
    if (!orientation.empty()) {
        setup.PageLandscape = LowerCase(orientation).find("land") != std::string::npos;
        log.loginfo(setup.PageLandscape ? "Selected Landscape paper orientation" : "Selected Portrait paper orientation");
    }
    if (!paperSize.empty()) {
        log.loginfo("Overriding Paper size to " + std::string(paperSize));
        const std::string value = LowerCase(paperSize);
        const std::pair<const char*, std::uint16_t> known[] = {
            {"a4", kPaperA4}, {"a5", kPaperA5}, {"a3", kPaperA3}, {"letter", kPaperLetter}};
        bool found = false;
        for (const auto& [name, code] : known)
            if (value.find(name) != std::string::npos) {
                setup.PagePaperSize = code;
                found = true;
                break;
            }
        if (!found)
            log.logerror("Paper " + std::string(paperSize) + " is not known.");
    }
}
