#include "delivery/overlaylookup.h"

#include "util/fileutil.h"
#include "util/textutil.h"

#include <functional>

namespace {

// Little-endian record fields; bytes past the used length read as zero, as
// in the fixed buffer the list is read into.
unsigned Word(std::string_view block, std::size_t at)
{
    auto byte = [&](std::size_t i) { return i < block.size() ? static_cast<unsigned char>(block[i]) : 0u; };
    return byte(at) | (byte(at + 1) << 8);
}

std::string RecordName(std::string_view block, std::size_t record)
{
    std::string name;
    for (std::size_t i = record + 13; i < record + 33 && i < block.size() && block[i] != '\0'; ++i)
        name += block[i];
    return name;
}

// Calls visit(number, name) per record; visit returns false to stop.
void WalkRecords(std::string_view block, const std::function<bool(unsigned, const std::string&)>& visit)
{
    std::size_t at = 0;
    while (at < block.size()) {
        const unsigned length = Word(block, at);
        if (length == 0)
            break;
        if (!visit(Word(block, at + 6), RecordName(block, at)))
            break;
        at += length;
    }
}

}  // namespace

std::string MacroListText(std::string_view block)
{
    std::string text;
    WalkRecords(block, [&](unsigned number, const std::string& name) {
        text += std::to_string(number) + "\t" + name + "\r\n";
        return true;
    });
    return text;
}

std::string MacroName(std::string_view block, std::uint16_t number)
{
    std::string found;
    WalkRecords(block, [&](unsigned n, const std::string& name) {
        if (n != number)
            return true;
        found = name;
        return false;
    });
    return found;
}

std::string TOverlayLookup::OpenPrinterKey(std::string_view printer, std::string& manufacturer)
{
    if (printer.empty())
        return "ERROR: No printer name.";
    const std::string key = TDriverData::DriverDataKey(printer);
    if (!FDriverData.OpenKey(key))
        return "ERROR: Key failed to open: " + key;
    if (FDriverData.ReadText("MANUFACTURER", manufacturer) == TDriverData::TRead::WrongType)
        return "ERROR: Could not read Manufacturer";
    manufacturer = LowerCase(manufacturer);
    return {};
}

std::string TOverlayLookup::MacroLookup(std::uint16_t number, std::string_view printer)
{
    std::string manufacturer;
    if (std::string error = OpenPrinterKey(printer, manufacturer); !error.empty())
        return error;
    if (manufacturer.empty() && FDriverData.ValueExists("HPDUMMY"))
        return number == 0 ? "HP OVERLAY\tAuto Assigned" : "HP OVERLAY-" + std::to_string(number);
    if (manufacturer.find("lexmark") == std::string::npos)
        return "ERROR: Not a Lexmark Printer";
    std::string block;
    const TDriverData::TRead read = FDriverData.ReadBinary("Macro", block, kMaxMacroBytes);
    if (read == TDriverData::TRead::WrongType || read == TDriverData::TRead::TooLong)
        return "ERROR: No macro data.";
    LastMacroBlock = {block, std::string(printer)};
    return number == 0 ? MacroListText(block) : MacroName(block, number);
}

std::string TOverlayLookup::WriteMacroList(std::string_view printer, std::string_view block, int length)
{
    std::string manufacturer;
    if (std::string error = OpenPrinterKey(printer, manufacturer); !error.empty())
        return error;
    if (manufacturer.find("lexmark") == std::string::npos)
        return "ERROR: Not a Lexmark Printer";
    const std::size_t used = length <= 0 ? 0 : std::min(block.size(), static_cast<std::size_t>(length));
    if (!FDriverData.WriteBinary("Macro", block.substr(0, used)))
        return "ERROR: Can't wrote data.";
    return {};
}

void TOverlayLookup::GetMacros(const TOverlayRequest& request, std::string_view overlayDir, std::string_view printer,
                               TLogger& log, std::string& first, std::string& other)
{
    first.clear();
    other.clear();
    if (!request.PrnFileName.empty()) {
        if (FileExists(std::string(overlayDir) + request.PrnFileName))
            first = "MERGE MACRO-" + request.PrnFileName;
        else
            log.loginfo("ERROR: Request for OVERLAY failed " + request.PrnFileName + " does not exist.");
    }
    if (!request.PrintMask.empty() && first.empty()) {
        if (LowerCase(request.PrintMask) != "blank")
            if (const auto number = TryStrToInt(request.PrintMask))
                first = MacroLookup(static_cast<std::uint16_t>(*number), printer);
        if (first.empty())
            first = "ERROR: Macro ID " + request.PrintMask + " not present in interface.";
    }
    if (first.rfind("ERROR:", 0) == 0) {
        log.loginfo("Request for Printer Mask (Page 1) failed " + first);
        first.clear();
    }

    if (LowerCase(request.PrintMask2) == "blank")
        return;
    if (request.PrintMask2.empty()) {
        other = first;
        return;
    }
    if (!request.PrnOtherFileName.empty()) {
        if (FileExists(std::string(overlayDir) + request.PrnOtherFileName))
            other = "MERGE MACRO-" + request.PrnOtherFileName;
        else
            log.loginfo("Request for OVERLAY (other Pages) failed " + request.PrnOtherFileName + " does not exist.");
    }
    if (other.empty()) {
        if (const auto number = TryStrToInt(request.PrintMask2))
            other = MacroLookup(static_cast<std::uint16_t>(*number), printer);
        if (other.rfind("ERROR:", 0) == 0) {
            log.loginfo("Request for Printer Mask (Other pages) failed " + other);
            other.clear();
        }
    }
}
