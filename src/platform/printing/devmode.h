// The device mode: a printer's settings for one document, laid out as
// printer drivers keep it: public fields at fixed offsets, then the driver's
// private area, in which the overlay names sit at offsets 400 and 464.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Paper codes of the standard paper list.
enum : int { kPaperLetter = 1, kPaperLegal = 5, kPaperA3 = 8, kPaperA4 = 9, kPaperA5 = 11 };

class TDevMode {
public:
    static constexpr std::size_t kPublicSize = 156;
    static constexpr std::size_t kPrivateSize = 1024;
    static constexpr std::size_t kFirstOverlaySlot = 400;
    static constexpr std::size_t kOtherOverlaySlot = 464;
    // Each slot holds at most this many characters before its zero byte.
    static constexpr std::size_t kSlotChars = 63;

    enum : std::uint32_t { DM_ORIENTATION = 0x1, DM_PAPERSIZE = 0x2, DM_DEFAULTSOURCE = 0x200 };
    enum : int { DMORIENT_PORTRAIT = 1, DMORIENT_LANDSCAPE = 2 };

    TDevMode();  // zero-filled, sizes set

    std::size_t Size() const { return FBytes.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }

    std::string DeviceName() const;             // at most 31 characters
    void SetDeviceName(std::string_view name);
    std::uint32_t Fields() const { return Dword(40); }
    void SetFields(std::uint32_t fields) { SetDword(40, fields); }
    int Orientation() const { return Short(44); }
    void SetOrientation(int value) { SetShort(44, value); }
    int PaperSize() const { return Short(46); }
    void SetPaperSize(int code) { SetShort(46, code); }
    int DefaultSource() const { return Short(56); }
    void SetDefaultSource(int position) { SetShort(56, position); }

    // An overlay name with its zero byte; cut at the slot's length and at the
    // first control character, since a list text is not a name.
    void WriteSlot(std::size_t offset, std::string_view text);
    std::string Slot(std::size_t offset) const;

private:
    int Short(std::size_t at) const;
    void SetShort(std::size_t at, int value);
    std::uint32_t Dword(std::size_t at) const;
    void SetDword(std::size_t at, std::uint32_t value);

    std::vector<std::uint8_t> FBytes;
};

// Paper sizes in tenths of a millimetre (portrait), and the names print
// systems use for them; unknown codes are A4.
struct TPaper {
    int Code;
    int WidthTenthMm;
    int HeightTenthMm;
    const char* PwgName;
    int PclCode;  // ESC & l # A
    bool Metric;
};
const TPaper& PaperOf(int code);
// The paper code of a print system's media name; 0 when not one of ours.
int PaperCodeOfMedia(std::string_view pwgName);
