#include "printers/printerselect.h"

#include "util/textutil.h"

std::string SelectPrinterByNumber(std::string_view number, const TServerConfig& config, TPrintingLayer& printing)
{
    const auto installed = printing.ListPrinters();
    auto indexOf = [&](std::string_view name) -> int {
        if (installed)
            for (std::size_t i = 0; i < installed->size(); ++i)
                if (SameText((*installed)[i], name))
                    return static_cast<int>(i);
        return -1;
    };
    auto fallback = [&] {
        const int at = std::max(0, indexOf(Trim(config.DefaultPrinterName())));
        printing.CurrentPrinter = installed && at < static_cast<int>(installed->size())
                                      ? (*installed)[static_cast<std::size_t>(at)]
                                      : std::string();
        return std::string();
    };
    if (!installed)
        return fallback();

    const std::string trimmed = Trim(number);
    const std::string name = trimmed.empty() ? std::string() : config.PrinterName(trimmed);
    if (const int at = indexOf(name); !name.empty() && at >= 0) {
        printing.CurrentPrinter = (*installed)[static_cast<std::size_t>(at)];
        return printing.CurrentPrinter;
    }
    const std::string system = printing.SystemDefaultPrinter();
    if (system.empty())
        return fallback();
    printing.CurrentPrinter = system;
    return system;
}
