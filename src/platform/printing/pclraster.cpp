#include "platform/printing/pclraster.h"

#include "platform/printing/devmode.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::string_view kCursorHome = "\x1b*p0x0Y";
constexpr std::string_view kInsertionMark = "\x1b*p6815Y";
constexpr std::string_view kPageEnd = "\x0c\x1b" "E";
// The escape sequence that switches a row's compression mode: "ESC*b#M".
constexpr std::size_t kModeSwitchBytes = 5;

std::string Command(std::string_view prefix, long long value, char terminator)
{
    return std::string(prefix) + std::to_string(value) + terminator;
}

// Literal runs of 13 or 28 bytes would put a count byte of FF or ESC in the
// stream; they are split instead.
std::size_t SafeLiteralLength(std::size_t length)
{
    return length == 13 || length == 28 ? length - 1 : length;
}

std::size_t RepeatLength(std::string_view row, std::size_t at)
{
    std::size_t n = 1;
    while (at + n < row.size() && n < 128 && row[at + n] == row[at])
        ++n;
    return n;
}

}  // namespace

std::string PackBitsRow(std::string_view row)
{
    // Trailing white needs no bytes: a short row is filled with white.
    std::size_t end = row.size();
    while (end > 0 && row[end - 1] == 0)
        --end;
    row = row.substr(0, end);
    std::string out;
    std::size_t i = 0;
    while (i < row.size()) {
        const std::size_t run = RepeatLength(row, i);
        if (run >= 3 || (run == 2 && i + 2 == row.size())) {
            out += static_cast<char>(static_cast<unsigned char>(257 - run));
            out += row[i];
            i += run;
            continue;
        }
        std::size_t j = i + 1;
        while (j < row.size() && j - i < 127 && RepeatLength(row, j) < 3 &&
               !(row[j - 1] == '\x0c' && row[j] == '\x1b'))  // FF ESC never stands together
            ++j;
        const std::size_t length = SafeLiteralLength(j - i);
        out += static_cast<char>(length - 1);
        out.append(row.substr(i, length));
        i += length;
    }
    return out;
}

std::string DeltaRow(std::string_view row, std::string_view seed)
{
    std::string out;
    std::size_t position = 0;  // just after the last replaced byte
    std::size_t i = 0;
    while (i < row.size()) {
        if (row[i] == seed[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < row.size() && j - i < 8 && row[j] != seed[j])
            ++j;
        const std::size_t count = j - i;
        std::size_t offset = i - position;
        out += static_cast<char>(((count - 1) << 5) | std::min<std::size_t>(offset, 31));
        if (offset >= 31) {
            offset -= 31;
            while (offset >= 255) {
                out += '\xff';
                offset -= 255;
            }
            out += static_cast<char>(offset);
        }
        out.append(row.substr(i, count));
        position = j;
        i = j;
    }
    return out;
}

std::string PclPage(const QImage& page, const TPclPageSetup& setup)
{
    const TPaper& paper = PaperOf(setup.PaperCode);
    std::string out = "\x1b" "E";
    out += Command("\x1b&l", paper.PclCode, 'A');
    out += Command("\x1b&l", setup.Landscape ? 1 : 0, 'O');
    if (setup.Source > 0)
        out += Command("\x1b&l", setup.Source, 'H');
    out += "\x1b&l0E";   // no top margin: row 0 is the top of the page
    out += kCursorHome;
    out += kInsertionMark;
    // From here on the page's own body, which an overlay merge keeps: the
    // raster set-up goes here, not with the printer set-up before it.
    out += kCursorHome;  // a macro or the mark may have moved the cursor
    out += "\x1b*t300R";
    out += "\x1b*r0F";   // the raster turns with the page
    out += Command("\x1b*r", page.width(), 'S');
    out += "\x1b*r1A";

    const std::size_t rowBytes = static_cast<std::size_t>((page.width() + 7) / 8);
    const unsigned char lastMask = static_cast<unsigned char>(0xFF << ((8 - page.width() % 8) % 8));
    std::string seed(rowBytes, '\0');
    std::string row(rowBytes, '\0');
    int mode = -1;
    long long blank = 0;
    for (int y = 0; y < page.height(); ++y) {
        std::memcpy(row.data(), page.constScanLine(y), rowBytes);
        if (rowBytes > 0)
            row.back() = static_cast<char>(static_cast<unsigned char>(row.back()) & lastMask);  // padding is undefined
        if (row.find_first_not_of('\0') == std::string::npos) {
            ++blank;
            continue;
        }
        if (blank > 0) {
            out += Command("\x1b*b", blank, 'Y');  // also clears the seed row
            blank = 0;
            std::fill(seed.begin(), seed.end(), '\0');
        }
        const std::string packed = PackBitsRow(row);
        std::string delta = DeltaRow(row, seed);
        const bool deltaSafe = delta.find(kPageEnd) == std::string::npos;
        const std::size_t cost2 = packed.size() + (mode == 2 ? 0 : kModeSwitchBytes);
        const std::size_t cost3 = delta.size() + (mode == 3 ? 0 : kModeSwitchBytes);
        const int use = deltaSafe && cost3 < cost2 ? 3 : 2;
        if (use != mode) {
            out += Command("\x1b*b", use, 'M');
            mode = use;
        }
        const std::string& data = use == 3 ? delta : packed;
        out += Command("\x1b*b", static_cast<long long>(data.size()), 'W');
        out += data;
        seed.swap(row);
    }
    out += "\x1b*rC";
    out += kPageEnd;
    return out;
}

namespace {

// A parameterised escape sequence: ESC, a parameter character, a group
// character, then value/terminator pairs (lower-case terminators chain).
struct TPclCommand {
    char Parameter = 0;
    char Group = 0;
    char Terminator = 0;  // upper case
    long long Value = 0;
};

class TPclReader {
public:
    explicit TPclReader(std::string_view pcl) : FPcl(pcl) {}

    std::vector<QImage> Pages;
    std::string Error;

    void Run()
    {
        while (FAt < FPcl.size() && Error.empty()) {
            const char c = FPcl[FAt++];
            if (c == '\x0c') {
                EndPage();
            } else if (c == '\x1b' && FAt < FPcl.size()) {
                Escape();
            }
        }
        if (FPage && FInk)
            EndPage();
    }

private:
    void Escape()
    {
        const char parameter = FPcl[FAt];
        if (parameter == 'E') {  // reset
            ++FAt;
            if (FPage && FInk)
                EndPage();
            FLandscape = false;
            FPaper = kPaperA4;
            return;
        }
        if (parameter < '!' || parameter > '/' || FAt + 1 >= FPcl.size())
            return;
        const char group = FPcl[FAt + 1];
        FAt += 2;
        if (parameter == '%' || parameter == '&' || parameter == '*' || parameter == '(' || parameter == ')') {
            for (;;) {
                TPclCommand command {parameter, group, 0, 0};
                if (!Number(command.Value))
                    return;
                if (FAt >= FPcl.size())
                    return;
                const char t = FPcl[FAt++];
                const bool chained = t >= 'a' && t <= 'z';
                command.Terminator = chained ? static_cast<char>(t - 32) : t;
                Apply(command);
                if (!chained || !Error.empty())
                    return;
            }
        }
    }

    bool Number(long long& value)
    {
        bool negative = false;
        if (FAt < FPcl.size() && (FPcl[FAt] == '+' || FPcl[FAt] == '-'))
            negative = FPcl[FAt++] == '-';
        value = 0;
        while (FAt < FPcl.size() && ((FPcl[FAt] >= '0' && FPcl[FAt] <= '9') || FPcl[FAt] == '.')) {
            if (FPcl[FAt] != '.' && value < 100000000)
                value = value * 10 + (FPcl[FAt] - '0');
            ++FAt;
        }
        if (negative)
            value = -value;
        return true;
    }

    void Apply(const TPclCommand& c)
    {
        if (c.Parameter == '&' && c.Group == 'l' && c.Terminator == 'A')
            FPaper = PaperCodeFromPcl(c.Value);
        else if (c.Parameter == '&' && c.Group == 'l' && c.Terminator == 'O')
            FLandscape = c.Value == 1;
        else if (c.Parameter == '*' && c.Group == 'p' && c.Terminator == 'Y')
            FCursorY = c.Value;
        else if (c.Parameter == '*' && c.Group == 'r' && c.Terminator == 'S')
            FWidth = std::clamp<long long>(c.Value, 0, MaxDots());
        else if (c.Parameter == '*' && c.Group == 'r' && c.Terminator == 'A')
            StartRaster();
        else if (c.Parameter == '*' && c.Group == 'r' && (c.Terminator == 'C' || c.Terminator == 'B'))
            FInRaster = false;
        else if (c.Parameter == '*' && c.Group == 'b' && c.Terminator == 'M')
            FMode = static_cast<int>(c.Value);
        else if (c.Parameter == '*' && c.Group == 'b' && c.Terminator == 'Y')
            SkipRows(c.Value);
        else if (c.Parameter == '*' && c.Group == 'b' && c.Terminator == 'W')
            Row(c.Value);
    }

    static int PaperCodeFromPcl(long long pcl)
    {
        for (int code : {kPaperLetter, kPaperLegal, kPaperA3, kPaperA4, kPaperA5})
            if (PaperOf(code).PclCode == pcl)
                return code;
        return kPaperA4;
    }

    static long long MaxDots()
    {
        const TPaper& a3 = PaperOf(kPaperA3);
        return a3.HeightTenthMm * kPclDpi / 254 + 1;
    }

    void StartRaster()
    {
        if (!FPage) {
            if (static_cast<int>(Pages.size()) >= kMaxDecodedPages) {
                Error = "more than " + std::to_string(kMaxDecodedPages) + " pages";
                return;
            }
            const TPaper& paper = PaperOf(FPaper);
            const long long heightDots = (FLandscape ? paper.WidthTenthMm : paper.HeightTenthMm) * kPclDpi / 254;
            const long long width = FWidth > 0 ? FWidth : (FLandscape ? paper.HeightTenthMm : paper.WidthTenthMm) * kPclDpi / 254;
            FImage = QImage(static_cast<int>(width), static_cast<int>(heightDots), QImage::Format_Mono);
            FImage.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
            FImage.fill(0);
            FPage = true;
            FInk = false;
        }
        FInRaster = true;
        FRowY = std::max(0LL, FCursorY);
        FSeed.assign(static_cast<std::size_t>((FImage.width() + 7) / 8), '\0');
    }

    void SkipRows(long long n)
    {
        if (n > 0)
            FRowY += std::min(n, MaxDots());
        std::fill(FSeed.begin(), FSeed.end(), '\0');
    }

    void Row(long long length)
    {
        if (length < 0 || static_cast<std::size_t>(length) > FPcl.size() - FAt) {
            Error = "a raster row runs past the end of the data";
            return;
        }
        const std::string_view data = FPcl.substr(FAt, static_cast<std::size_t>(length));
        FAt += static_cast<std::size_t>(length);
        if (!FInRaster || !FPage)
            return;
        std::string row(FSeed.size(), '\0');
        if (FMode == 0) {
            std::memcpy(row.data(), data.data(), std::min(data.size(), row.size()));
        } else if (FMode == 2) {
            std::size_t out = 0;
            for (std::size_t i = 0; i < data.size() && out < row.size();) {
                const int count = static_cast<signed char>(data[i++]);
                if (count >= 0) {
                    for (int k = 0; k <= count && i < data.size(); ++k, ++i)
                        if (out < row.size())
                            row[out++] = data[i];
                } else if (count != -128 && i < data.size()) {
                    for (int k = 0; k < 1 - count && out < row.size(); ++k)
                        row[out++] = data[i];
                    ++i;
                }
            }
        } else if (FMode == 3) {
            row = FSeed;
            std::size_t position = 0;
            for (std::size_t i = 0; i < data.size();) {
                const auto command = static_cast<unsigned char>(data[i++]);
                const std::size_t count = (command >> 5) + 1;
                std::size_t offset = command & 31;
                if (offset == 31) {
                    unsigned char more = 255;
                    while (more == 255 && i < data.size()) {
                        more = static_cast<unsigned char>(data[i++]);
                        offset += more;
                    }
                }
                position += offset;
                for (std::size_t k = 0; k < count && i < data.size(); ++k, ++i, ++position)
                    if (position < row.size())
                        row[position] = data[i];
            }
        } else {
            return;  // modes this system does not write
        }
        if (FRowY >= 0 && FRowY < FImage.height()) {
            std::memcpy(FImage.scanLine(static_cast<int>(FRowY)), row.data(), row.size());
            FInk = true;
        }
        ++FRowY;
        FSeed = std::move(row);
    }

    void EndPage()
    {
        if (FPage)
            Pages.push_back(FImage);
        FPage = false;
        FInk = false;
        FInRaster = false;
    }

    std::string_view FPcl;
    std::size_t FAt = 0;
    int FPaper = kPaperA4;
    bool FLandscape = false;
    long long FCursorY = 0;
    long long FWidth = 0;
    int FMode = 0;
    bool FPage = false;
    bool FInk = false;
    bool FInRaster = false;
    long long FRowY = 0;
    QImage FImage;
    std::string FSeed;
};

}  // namespace

std::vector<QImage> DecodePclRaster(std::string_view pcl, std::string* error)
{
    TPclReader reader(pcl);
    reader.Run();
    if (error)
        *error = reader.Error;
    return std::move(reader.Pages);
}
