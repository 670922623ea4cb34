#include "printers/printerselect.h"

#include "util/textutil.h"

std::string SelectPrinterByNumber(std::string_view number, const TServerConfig& config, TPrintingLayer& printing,
                                  std::string* fellBack)
{
    const std::string trimmed = Trim(number);
    const std::string name = trimmed.empty() ? std::string() : config.PrinterName(trimmed);
    // A printer found among those the scheduler named a moment ago is taken;
    // anything else is asked anew, so no job goes to the default printer
    // for want of a fresh answer.
    TDestinations said = printing.Destinations(TPrintingLayer::kDestinationsReuseMs);
    std::string found = name.empty() ? std::string() : said.Find(name);
    if (found.empty()) {
        said = printing.Destinations(0);
        found = name.empty() ? std::string() : said.Find(name);
    }
    if (!found.empty()) {
        printing.CurrentPrinter = found;
        return found;
    }
    if (said.Answered && !said.Default.empty()) {
        if (fellBack && !trimmed.empty())
            *fellBack = name.empty() ? "is not in the printer table"
                                     : "(" + name + ") is not known to the print system";
        printing.CurrentPrinter = said.Default;
        return said.Default;
    }
    // No printer could be selected: the one at the default's position (the
    // first when there is none) is current all the same.
    const std::string fallback = said.Find(Trim(config.DefaultPrinterName()));
    printing.CurrentPrinter = !fallback.empty() ? fallback : said.Names.empty() ? std::string() : said.Names.front();
    return std::string();
}
