#include "delivery/pcloverlay.h"

#include "util/codepage.h"
#include "util/fileutil.h"


namespace {

constexpr std::string_view kMark = kOverlayInsertionMark;
constexpr std::string_view kCursorHome = "\x1b*p0x0Y";
constexpr std::string_view kVerticalHome = "\x1b*p0Y";
constexpr std::string_view kPageEndA = "\x0c\x1b" "E";
constexpr std::string_view kPageEndB = "\x0c\x1b%-12345X";

// Files are read whole, with a bound far above any one-page printer file.
constexpr std::uint64_t kMaxPrinterFileBytes = 512ull * 1024 * 1024;

// A printer file read whole; an empty one holds no job, and never will.
TResult<std::string> ReadPrinterFile(const std::string& path)
{
    TResult<std::string> bytes = ReadFileBytes(path, kMaxPrinterFileBytes);
    if (!bytes)
        return Fail("Cant open file " + path, bytes.Reason());
    if (bytes->empty())
        return FailFinal("the printer file " + path + " is empty");
    return bytes;
}

// The prepared copy written whole; a full folder stays an outage.
TOutcome WritePrepared(const std::string& destination, std::string_view bytes)
{
    if (const TOutcome written = WriteFileAtomic(destination, bytes); !written)
        return TFailure {"Cant open new file " + destination, written.Reason(), written.Kind()};
    return TOutcome::Done();
}

}  // namespace

std::string InsertMacroCallBytes(std::string_view source, const std::string& number)
{
    if (number.empty())
        return std::string(source);
    // The candidate restarts after a byte that breaks it; that byte is not a new start.
    std::size_t matched = 0;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source[i] == kMark[matched]) {
            if (++matched == kMark.size()) {
                const std::size_t markStart = i + 1 - kMark.size();
                return std::string(source.substr(0, markStart)) + "\x1b&f" + number + "Y\x1b&f3X" +
                       std::string(source.substr(markStart));
            }
        } else {
            matched = 0;
        }
    }
    return std::string(source);
}

TOutcome InsertMacroCall(const std::string& source, const std::string& destination, const std::string& number)
{
    const TResult<std::string> bytes = ReadPrinterFile(source);
    if (!bytes)
        return bytes.Failure();
    // The prepared copy appears whole or not at all, in a folder that exists.
    return WritePrepared(destination, InsertMacroCallBytes(*bytes, number));
}

std::string OverlayHead(std::string_view s)
{
    auto at = s.find(kCursorHome);
    if (at == std::string_view::npos)
        at = s.find(kVerticalHome);
    return at == std::string_view::npos ? std::string() : std::string(s.substr(0, at));
}

std::string PageBody(std::string_view s)
{
    std::size_t start = s.find(kCursorHome);
    if (start == std::string_view::npos) {
        const auto vertical = s.find(kVerticalHome);
        // Without either home sequence the start falls after a five-byte sequence at 0.
        start = (vertical == std::string_view::npos ? 0 : vertical) + kVerticalHome.size();
    }
    auto end = s.find(kPageEndA);
    if (end == std::string_view::npos)
        end = s.find(kPageEndB);
    if (end == std::string_view::npos || end < start || start > s.size())
        return {};
    return std::string(s.substr(start, end - start));
}

std::string OverlayTail(std::string_view s)
{
    auto at = s.find(kPageEndA);
    if (at == std::string_view::npos)
        at = s.find(kPageEndB);
    return at == std::string_view::npos ? std::string(s) : std::string(s.substr(at));
}

std::string NotAMergeablePage(std::string_view s)
{
    if (s.empty() || s[0] != '\x1b')
        return "it does not start with a PCL escape sequence";
    auto home = s.find(kCursorHome);
    if (home == std::string_view::npos)
        home = s.find(kVerticalHome);
    if (home == std::string_view::npos)
        return "it has no cursor home (ESC*p0x0Y or ESC*p0Y)";
    const auto endA = s.find(kPageEndA, home);
    const auto endB = s.find(kPageEndB, home);
    if (endA == std::string_view::npos && endB == std::string_view::npos)
        return "it has no page end (FF ESC E or FF ESC%-12345X) after its cursor home";
    return {};
}

TOutcome MergeOverlayFile(const std::string& job, const std::string& destination, const std::string& overlay)
{
    const TResult<std::string> j = ReadPrinterFile(job);
    if (!j)
        return j.Failure();
    const TResult<std::string> o = ReadPrinterFile(overlay);
    if (!o)
        return o.Failure();
    return WritePrepared(destination, OverlayHead(*o) + PageBody(*j) + PageBody(*o) + OverlayTail(*o));
}
