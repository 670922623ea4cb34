// printorb-tool macros PRINTER [--home DIR]: what the overlay lookup finds
// for a printer in the server's driver-data file, so that IT staff can check
// an imported key (the Lexmark overlay list, or the HP mark).
#include "delivery/overlaylookup.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/textutil.h"

#include <iostream>

int MacrosCommand(const TCommandLine& line)
{
    const std::string printer = FromUnicode(QString::fromStdString(line.Arg(0)));
    TOverlayLookup lookup(line.Home() + kDriverDataFileName);
    const TResult<TMacroAnswer> found = lookup.MacroLookup(0, printer);
    if (!found) {
        std::cout << ToUnicode(ErrorText(found.Failure())).toStdString() << '\n';
        if (!found.Detail().empty())
            std::cerr << ToUnicode(found.Detail()).toStdString() << '\n';
        return kExitFailed;
    }
    // The driver data keeps CR LF; a shell and its scripts want LF.
    const std::string list = ReplaceAll(found->Text, "\r\n", "\n");
    if (list.empty())
        std::cerr << printer << " is a Lexmark printer with an empty overlay list\n";
    std::cout << ToUnicode(list).toStdString();
    if (!list.empty() && list.back() != '\n')
        std::cout << '\n';
    return kExitOk;
}
