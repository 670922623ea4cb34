// printorb-tool macros PRINTER [--home DIR]: what the overlay lookup finds
// for a printer in the server's driver-data file, so that IT staff can check
// an imported key (the Lexmark overlay list, or the HP mark).
#include "delivery/overlaylookup.h"
#include "tool/commands.h"
#include "util/codepage.h"

#include <iostream>

int MacrosCommand(const TArgs& args)
{
    const TArgs rest = Positionals(args, {"--home"});
    if (rest.size() != 1) {
        std::cerr << "usage: printorb-tool macros PRINTER [--home DIR]\n";
        return 2;
    }
    const std::string printer = FromUnicode(QString::fromStdString(rest[0]));
    TOverlayLookup lookup(ToolHome(args) + kDriverDataFileName);
    const std::string list = lookup.MacroLookup(0, printer);
    if (list.rfind("ERROR:", 0) == 0) {
        std::cout << ToUnicode(list).toStdString() << '\n';
        if (!lookup.LastOpenError().empty())
            std::cerr << ToUnicode(lookup.LastOpenError()).toStdString() << '\n';
        return 1;
    }
    if (list.empty())
        std::cerr << printer << " is a Lexmark printer with an empty overlay list\n";
    std::cout << ToUnicode(list).toStdString();
    if (!list.empty() && list.back() != '\n')
        std::cout << '\n';
    return 0;
}
