// libFuzzer: the decoder takes any text; output never exceeds 3 bytes per 4 in.
#include "request/base64.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = DecodeBase64(text);
    if (decoded.size() > (size + 3) / 4 * 3)
        std::abort();
    std::stringstream stream;
    DecodeBase64ToFile(text, stream);
    if (stream.str() != decoded)
        std::abort();
    return 0;
}
