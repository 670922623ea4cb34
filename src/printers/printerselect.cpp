#include "printers/printerselect.h"
#include "config/settingkeys.h"

#include "util/textutil.h"

std::string SelectPrinterByNumber(std::string_view number,
                                  const std::function<std::string(std::string_view)>& settingValue,
                                  TPrintingLayer& printing)
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
        const int at = std::max(0, indexOf(Trim(settingValue(keys::DefaultPrinter))));
        printing.CurrentPrinter = installed && at < static_cast<int>(installed->size())
                                      ? (*installed)[static_cast<std::size_t>(at)]
                                      : std::string();
        return std::string();
    };
    if (!installed)
        return fallback();

    const std::string trimmed = Trim(number);
    const std::string entry = trimmed.empty() ? std::string() : settingValue(keys::Printer(trimmed));
    const std::string name = Trim(TextBefore(entry + "|", "|"));
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
