// libFuzzer: the driver-data file reader takes any bytes (REGEDIT4 or
// UTF-16) without crash, hang or runaway memory, and what it read writes
// back to a file that reads the same.
#include "platform/driverdata/regfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TRegFile file;
    if (!file.Parse(bytes))
        return 0;
    TRegFile again;
    if (!again.Parse(file.Serialize()) || again.Keys().size() != file.Keys().size())
        std::abort();
    return 0;
}
