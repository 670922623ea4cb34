// libFuzzer: the PCL overlay functions take any bytes; what they return is
// always made of the input's own pieces.
#include "delivery/pcloverlay.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // First byte: where the job ends and the overlay begins.
    const std::size_t split = size == 0 ? 0 : data[0] % size;
    const std::string_view job = input.substr(size == 0 ? 0 : 1, split);
    const std::string_view overlay = input.substr(std::min(size, split + 1));

    const std::string head = OverlayHead(overlay);
    const std::string body = PageBody(job);
    const std::string tail = OverlayTail(overlay);
    if (overlay.substr(0, head.size()) != head || job.find(body) == std::string_view::npos ||
        overlay.substr(overlay.size() - tail.size()) != tail)
        std::abort();

    const std::string number = std::to_string(size % 1000);
    const std::string called = InsertMacroCallBytes(job, number);
    const std::string call = "\x1b&f" + number + "Y\x1b&f3X";
    if (called != job && called.size() != job.size() + call.size())
        std::abort();
    if (InsertMacroCallBytes(job, "") != job)
        std::abort();
    return 0;
}
