// Overlay macro lookup: which overlay a report page carries, from the
// request's overlay fields and the printer's driver data. Lexmark printers
// list their overlays in the binary value "Macro"; printers marked HP get PCL
// macro calls; overlay printer files are merged. A failed lookup says why;
// the log and the window show it as "ERROR: " and the reason.
#pragma once

#include "platform/driverdata/driverdata.h"
#include "util/logger.h"
#include "util/result.h"

#include <cstdint>
#include <string>
#include <string_view>

// The value "Macro" holds at most this many bytes.
inline constexpr std::size_t kMaxMacroBytes = 10000;

struct TMacroBlock {
    std::string Bytes;  // the value "Macro" as read; its length is the used length
    std::string PrinterName;
};

// The overlay fields of a request.
struct TOverlayRequest {
    std::string PrintMask;         // PMASK
    std::string PrintMask2;        // PMASK2
    std::string PrnFileName;       // PRNFILENAME, with ".prn"
    std::string PrnOtherFileName;  // PRNOTHERFILENAME
};

// What the lookup found for a printer.
struct TMacroAnswer {
    bool Hp = false;   // a printer marked HP: its overlays are PCL macro numbers
    std::string Text;  // the list, the "HP OVERLAY" text, or one overlay's name
};

// How a lookup's failure reads in the log and the window.
inline std::string ErrorText(const TFailure& failure)
{
    return "ERROR: " + failure.Reason;
}

class TOverlayLookup {
public:
    explicit TOverlayLookup(std::string driverDataPath) : FDriverData(std::move(driverDataPath)) {}

    // Number 0: the whole list of a Lexmark printer, "number TAB name CR LF"
    // per record; any other number: that overlay's name (empty when absent).
    // A printer marked HP answers with its "HP OVERLAY" text. A failure's
    // detail says which file or key the driver data lacked.
    TResult<TMacroAnswer> MacroLookup(std::uint16_t number, std::string_view printer);
    // Writes a Lexmark list (the first length bytes of block) as "Macro".
    TOutcome WriteMacroList(std::string_view printer, std::string_view block, int length);

    // The first-page and other-pages overlay texts of a request for the
    // printer; failures are logged and give empty texts.
    void GetMacros(const TOverlayRequest& request, std::string_view overlayDir, std::string_view printer, TLogger& log,
                   std::string& first, std::string& other);

    // The list of the last lookup that read a "Macro" value.
    TMacroBlock LastMacroBlock;
    const std::string& DriverDataPath() const { return FDriverData.FilePath(); }

private:
    // Steps shared by lookup and write: the key opened, the manufacturer read
    // (lower case).
    TResult<std::string> OpenPrinterKey(std::string_view printer);
    // The first page's overlay of a PMASK value; fails when the value names
    // no overlay of the printer.
    TResult<std::string> FirstPageOverlay(std::string_view mask, std::string_view printer);

    TDriverData FDriverData;
};

// The records of a "Macro" value, as "number TAB name CR LF" lines.
std::string MacroListText(std::string_view block);
// The name of the first record with that number; empty when none has it.
std::string MacroName(std::string_view block, std::uint16_t number);
