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

TResult<std::string> TOverlayLookup::OpenPrinterKey(std::string_view printer)
{
    if (printer.empty())
        return Fail("No printer name.");
    const std::string key = TDriverData::DriverDataKey(printer);
    if (const TOutcome opened = FDriverData.OpenKey(key); !opened)
        return Fail("Key failed to open: " + key, opened.Reason());
    std::string manufacturer;
    if (FDriverData.ReadText("MANUFACTURER", manufacturer) == TDriverData::TRead::WrongType)
        return Fail("Could not read Manufacturer");
    return LowerCase(manufacturer);
}

TResult<TMacroAnswer> TOverlayLookup::MacroLookup(std::uint16_t number, std::string_view printer)
{
    const TResult<std::string> manufacturer = OpenPrinterKey(printer);
    if (!manufacturer)
        return manufacturer.Failure();
    if (manufacturer->empty() && FDriverData.ValueExists("HPDUMMY"))
        return TMacroAnswer {true, number == 0 ? "HP OVERLAY\tAuto Assigned" : "HP OVERLAY-" + std::to_string(number)};
    if (manufacturer->find("lexmark") == std::string::npos)
        return Fail("Not a Lexmark Printer");
    std::string block;
    const TDriverData::TRead read = FDriverData.ReadBinary("Macro", block, kMaxMacroBytes);
    if (read == TDriverData::TRead::WrongType || read == TDriverData::TRead::TooLong)
        return Fail("No macro data.");
    LastMacroBlock = {block, std::string(printer)};
    return TMacroAnswer {false, number == 0 ? MacroListText(block) : MacroName(block, number)};
}

TOutcome TOverlayLookup::WriteMacroList(std::string_view printer, std::string_view block, int length)
{
    const TResult<std::string> manufacturer = OpenPrinterKey(printer);
    if (!manufacturer)
        return manufacturer.Failure();
    if (manufacturer->find("lexmark") == std::string::npos)
        return Fail("Not a Lexmark Printer");
    const std::size_t used = length <= 0 ? 0 : std::min(block.size(), static_cast<std::size_t>(length));
    if (const TOutcome written = FDriverData.WriteBinary("Macro", block.substr(0, used)); !written)
        return Fail("Can't wrote data.", written.Reason());
    return TOutcome::Done();
}

TResult<std::string> TOverlayLookup::FirstPageOverlay(std::string_view mask, std::string_view printer)
{
    const auto number = LowerCase(mask) == "blank" ? std::nullopt : TryStrToInt(mask);
    TResult<TMacroAnswer> found = Fail("");
    if (number) {
        found = MacroLookup(static_cast<std::uint16_t>(*number), printer);
        if (!found)
            return found.Failure();
    }
    if (!number || found->Text.empty())
        return Fail("Macro ID " + std::string(mask) + " not present in interface.");
    return found->Text;
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
            log.logwarning("ERROR: Request for OVERLAY failed " + request.PrnFileName + " does not exist.");
    }
    if (!request.PrintMask.empty() && first.empty()) {
        const TResult<std::string> found = FirstPageOverlay(request.PrintMask, printer);
        if (found)
            first = *found;
        else
            log.logwarning("Request for Printer Mask (Page 1) failed " + ErrorText(found.Failure()));
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
            log.logwarning("Request for OVERLAY (other Pages) failed " + request.PrnOtherFileName + " does not exist.");
    }
    if (other.empty())
        if (const auto number = TryStrToInt(request.PrintMask2)) {
            const TResult<TMacroAnswer> found = MacroLookup(static_cast<std::uint16_t>(*number), printer);
            if (found)
                other = found->Text;
            else
                log.logwarning("Request for Printer Mask (Other pages) failed " + ErrorText(found.Failure()));
        }
}
