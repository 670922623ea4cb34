#include "request/base64.h"

#include <array>

namespace {

constexpr std::array<unsigned char, 256> MakeTable()
{
    std::array<unsigned char, 256> table {};
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    return table;
}

constexpr auto kValues = MakeTable();

// Decodes text into out, calling flush when out holds at least a block; a
// flush that returns false ends the decoding.
template <typename Flush>
bool Decode(std::string_view text, std::string& out, Flush flush)
{
    // A group starts wherever its start is before the last character.
    for (std::size_t start = 0; start + 1 < text.size(); start += 4) {
        unsigned bits = 0;
        std::size_t firstPad = 4;
        for (std::size_t i = 0; i < 4; ++i) {
            const char c = start + i < text.size() ? text[start + i] : 'A';  // missing characters count as zero
            if (c == '=' && firstPad == 4 && start + i < text.size())
                firstPad = i;
            bits = (bits << 6) | (c == '=' ? 0u : kValues[static_cast<unsigned char>(c)]);
        }
        // "=" at group position p (1-based) leaves p - 2 bytes: xx== one, xxx= two.
        const std::size_t count = firstPad == 4 ? 3 : (firstPad >= 2 ? firstPad - 1 : 0);
        const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
        out.append(bytes, count);
        if (out.size() >= 65536 && !flush())
            return false;
    }
    return flush();
}

}  // namespace

bool DecodeBase64ToFile(std::string_view text, std::ostream& stream)
{
    stream.seekp(0);
    std::string block;
    block.reserve(65536 + 3);
    Decode(text, block, [&] {
        stream.write(block.data(), static_cast<std::streamsize>(block.size()));
        block.clear();
        return true;  // a failed stream is seen below
    });
    stream.flush();
    const bool ok = static_cast<bool>(stream);
    stream.seekp(0);
    return ok;
}

std::string DecodeBase64(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    Decode(text, out, [] { return true; });
    return out;
}

bool DecodeBase64Blocks(std::string_view text, const std::function<bool(std::string_view bytes)>& write)
{
    std::string block;
    block.reserve(65536 + 3);
    return Decode(text, block, [&] {
        const bool written = block.empty() || write(block);
        block.clear();
        return written;
    });
}
