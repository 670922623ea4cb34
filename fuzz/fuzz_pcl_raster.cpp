// libFuzzer: the PCL raster reader (printorb-tool pclview, the tests) takes
// any bytes within its page and size bounds.
#include "platform/printing/pclraster.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string error;
    (void)DecodePclRaster(std::string_view(reinterpret_cast<const char*>(data), size), &error);
    return 0;
}
