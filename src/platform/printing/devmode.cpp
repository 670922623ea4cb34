#include "platform/printing/devmode.h"

namespace {

constexpr std::size_t kDeviceNameBytes = 32;

constexpr TPaper kPapers[] = {
    {kPaperA4, 2100, 2970, "iso_a4_210x297mm", 26, true},
    {kPaperLetter, 2159, 2794, "na_letter_8.5x11in", 2, false},
    {kPaperLegal, 2159, 3556, "na_legal_8.5x14in", 3, false},
    {kPaperA3, 2970, 4200, "iso_a3_297x420mm", 27, true},
    {kPaperA5, 1480, 2100, "iso_a5_148x210mm", 25, true},
};

}  // namespace

const TPaper& PaperOf(int code)
{
    for (const TPaper& paper : kPapers)
        if (paper.Code == code)
            return paper;
    return kPapers[0];
}

int PaperCodeOfMedia(std::string_view pwgName)
{
    for (const TPaper& paper : kPapers)
        if (pwgName == paper.PwgName)
            return paper.Code;
    return 0;
}

TDevMode::TDevMode() : FBytes(kPublicSize + kPrivateSize, 0)
{
    SetShort(32, 0x0401);  // the layout's version
    SetShort(36, static_cast<int>(kPublicSize));
    SetShort(38, static_cast<int>(kPrivateSize));
}

std::string TDevMode::DeviceName() const
{
    std::string name;
    for (std::size_t i = 0; i < kDeviceNameBytes && FBytes[i] != 0; ++i)
        name += static_cast<char>(FBytes[i]);
    return name;
}

void TDevMode::SetDeviceName(std::string_view name)
{
    for (std::size_t i = 0; i < kDeviceNameBytes; ++i)
        FBytes[i] = i < name.size() && i + 1 < kDeviceNameBytes ? static_cast<std::uint8_t>(name[i]) : 0;
}

void TDevMode::WriteSlot(std::size_t offset, std::string_view text)
{
    std::size_t n = 0;
    while (n < text.size() && n < kSlotChars && static_cast<unsigned char>(text[n]) >= 32)
        ++n;
    n = std::min(n, FBytes.size() - offset - 1);
    for (std::size_t i = 0; i < n; ++i)
        FBytes[offset + i] = static_cast<std::uint8_t>(text[i]);
    FBytes[offset + n] = 0;
}

std::string TDevMode::Slot(std::size_t offset) const
{
    std::string text;
    for (std::size_t i = offset; i < FBytes.size() && FBytes[i] != 0 && text.size() < kSlotChars; ++i)
        text += static_cast<char>(FBytes[i]);
    return text;
}

int TDevMode::Short(std::size_t at) const
{
    return static_cast<std::int16_t>(FBytes[at] | (FBytes[at + 1] << 8));
}

void TDevMode::SetShort(std::size_t at, int value)
{
    FBytes[at] = static_cast<std::uint8_t>(value & 0xFF);
    FBytes[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

std::uint32_t TDevMode::Dword(std::size_t at) const
{
    return FBytes[at] | (FBytes[at + 1] << 8) | (FBytes[at + 2] << 16) | (static_cast<std::uint32_t>(FBytes[at + 3]) << 24);
}

void TDevMode::SetDword(std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        FBytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
}
