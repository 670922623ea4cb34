#include "platform/printing/pclraster.h"

#include "delivery/pcloverlay.h"
#include "platform/printing/devmode.h"
#include "platform/printing/printerdc.h"
#include "platform/printing/printinglayer.h"
#include "support/smallfs.h"
#include "support/testsupport.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <random>

namespace {

constexpr std::string_view kPageEnd = "\x0c\x1b" "E";
constexpr std::string_view kMark = "\x1b*p6815Y";
constexpr std::string_view kCursorHome = "\x1b*p0x0Y";

QImage BlankPage(int width, int height)
{
    QImage page(width, height, QImage::Format_Mono);
    page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    page.fill(0);
    const int dotsPerMeter = qRound(kPclDpi / 0.0254);
    page.setDotsPerMeterX(dotsPerMeter);
    page.setDotsPerMeterY(dotsPerMeter);
    return page;
}

// A report-like page: a letterhead box, a rule, lines of 10-point text.
QImage TextPage(int width = 2338, int height = 3507, int lines = 30)
{
    QImage page = BlankPage(width, height);
    QPainter p(&page);
    p.setPen(QPen(Qt::black, 4));
    p.drawRect(150, 120, 2000, 300);
    p.setFont(QFont(QStringLiteral("Liberation Sans"), 10));
    for (int line = 0; line < lines; ++line)
        p.drawText(200, 600 + line * 60,
                   QStringLiteral("%1  Haemoglobin 135 g/L (115-165)   White cell count 7.2 x10^9/L   Platelets 250")
                       .arg(line + 1));
    p.drawLine(150, height - 100, 2180, height - 100);
    return page;
}

// Equal in the bytes that carry pixels (the padding of a row is undefined).
void ExpectSamePixels(const QImage& decoded, const QImage& page)
{
    ASSERT_EQ(decoded.width(), page.width());
    ASSERT_GE(decoded.height(), page.height());
    const int bytes = (page.width() + 7) / 8;
    const auto mask = static_cast<unsigned char>(0xFF << ((8 - page.width() % 8) % 8));
    int different = 0;
    for (int y = 0; y < page.height(); ++y) {
        const uchar* a = decoded.constScanLine(y);
        const uchar* b = page.constScanLine(y);
        for (int x = 0; x < bytes; ++x) {
            const unsigned char m = x + 1 == bytes ? mask : 0xFF;
            if ((a[x] & m) != (b[x] & m))
                ++different;
        }
    }
    EXPECT_EQ(different, 0);
}

}  // namespace

TEST(PclRaster, ATextPageIsSmallAndDecodesToItsPixels)
{
    const QImage page = TextPage();
    const std::string pcl = PclPage(page, {kPaperA4, false, 0});
    EXPECT_LT(pcl.size(), 100u * 1024) << "a text page goes through LPD's per-kilobyte delay";
    EXPECT_GT(pcl.size(), 5000u);
    std::string error;
    const std::vector<QImage> pages = DecodePclRaster(pcl, &error);
    EXPECT_EQ(error, "");
    ASSERT_EQ(pages.size(), 1u);
    ExpectSamePixels(pages[0], page);
}

TEST(PclRaster, PageLayoutForBothOverlayRoutes)
{
    const QImage page = TextPage(3300 - 2 * 60, 2550, 25);  // Letter landscape
    const std::string pcl = PclPage(page, {kPaperLetter, true, 8});
    EXPECT_EQ(pcl.rfind("\x1b" "E\x1b&l2A\x1b&l1O\x1b&l8H", 0), 0u);  // reset, Letter, landscape, tray
    const auto home = pcl.find(kCursorHome);
    const auto mark = pcl.find(kMark);
    ASSERT_NE(home, std::string::npos);
    ASSERT_NE(mark, std::string::npos);
    EXPECT_LT(home, mark);
    EXPECT_EQ(pcl.find(kMark, mark + 1), std::string::npos) << "the mark appears once";
    EXPECT_EQ(pcl.find(kPageEnd), pcl.size() - kPageEnd.size()) << "the page end appears only at the end";

    // The macro route: a call in front of the mark, the raster untouched.
    const std::string withMacro = InsertMacroCallBytes(pcl, "12");
    EXPECT_EQ(withMacro.find("\x1b&f12Y\x1b&f3X"), mark);
    ASSERT_EQ(DecodePclRaster(withMacro).size(), 1u);
    ExpectSamePixels(DecodePclRaster(withMacro)[0], page);

    // The merge route takes everything from the cursor home to the page end.
    const std::string body = PageBody(pcl);
    EXPECT_EQ(body, pcl.substr(home, pcl.size() - kPageEnd.size() - home));
    EXPECT_NE(body.find("\x1b*t300R"), std::string::npos) << "the raster's resolution travels with the body";
    const std::string merged = "\x1b" "E\x1b&l2A\x1b&l1O" + body + std::string(kPageEnd);
    ASSERT_EQ(DecodePclRaster(merged).size(), 1u);
    ExpectSamePixels(DecodePclRaster(merged)[0], page);
}

TEST(PclRaster, RowsNeverHoldThePageEnd)
{
    // Rows made of the page-end bytes and their neighbours, at every phase,
    // and random rows: mode 2 never writes FF ESC next to each other; the
    // whole page decodes back exactly.
    std::mt19937 random(7);
    const std::string alphabet = "\x0c\x1b\x45\x00\x0d\xff";
    QImage page = BlankPage(803, 400);
    for (int y = 0; y < page.height(); ++y) {
        uchar* row = page.scanLine(y);
        const int bytes = (page.width() + 7) / 8;
        for (int x = 0; x < bytes; ++x) {
            if (y % 4 == 0)
                row[x] = static_cast<uchar>(kPageEnd[static_cast<std::size_t>((x + y / 4) % 3)]);
            else if (y % 4 == 1)
                row[x] = static_cast<uchar>(alphabet[random() % alphabet.size()]);
            else if (y % 4 == 2)
                row[x] = static_cast<uchar>(random());
            else
                row[x] = x < 13 || (x > 40 && x < 69) ? 0x0c : 0x1b;  // literal runs of 13 and 28
        }
        const std::string packed = PackBitsRow(std::string_view(reinterpret_cast<const char*>(row), bytes));
        EXPECT_EQ(packed.find("\x0c\x1b"), std::string::npos) << "row " << y;
    }
    const std::string pcl = PclPage(page, {kPaperA4, false, 0});
    EXPECT_EQ(pcl.find(kPageEnd), pcl.size() - kPageEnd.size());
    const auto pages = DecodePclRaster(pcl);
    ASSERT_EQ(pages.size(), 1u);
    ExpectSamePixels(pages[0], page);
}

TEST(PclRaster, DeltaRowsAgainstTheSeed)
{
    const std::string seed(300, '\0');
    std::string row = seed;
    row[1] = 1;
    row[40] = 2;  // an offset of 38 takes an extra offset byte
    for (int i = 60; i < 75; ++i)
        row[static_cast<std::size_t>(i)] = 4;  // more than 8 bytes: two commands
    row[299] = 5;  // an offset of 224: 31 + 193
    const std::string expected = std::string("\x01\x01\x1f\x07\x02\xf3") + std::string(8, '\x04') + "\xc0" +
                                 std::string(7, '\x04') + "\x1f\xc1\x05";
    EXPECT_EQ(DeltaRow(row, seed), expected);
    EXPECT_EQ(DeltaRow(seed, seed), "");
    std::string far = seed;
    far[290] = 9;  // 290 = 31 + 255 + 4
    EXPECT_EQ(DeltaRow(far, seed), std::string("\x1f\xff\x04\x09"));
}

TEST(PclRaster, DecoderTakesAnyBytes)
{
    const std::string cases[] = {
        "",
        "\x1b",
        "\x1b*r1A\x1b*b99999999W",
        "\x1b*r99999999S\x1b*r1A\x1b*b2M\x1b*b3W\x80\x01",
        "\x1b*r100S\x1b*r1A\x1b*b3M\x1b*b2W\xff\xff",
        "\x1b*r100S\x1b*r1A\x1b*b-5Y\x1b*b999999999Y\x1b*b0W",
        "\x1b*r8s1a\x1b*b1W\xff\x0c",  // chained lower-case terminators
        std::string(200, '\x0c') + "\x1b*r1A\x0c",
    };
    for (const std::string& pcl : cases)
        (void)DecodePclRaster(pcl);
    std::string many;
    for (int i = 0; i < 100; ++i)
        many += "\x1b*r16S\x1b*r1A\x1b*b0M\x1b*b2W\xff\xff\x0c";
    std::string error;
    EXPECT_EQ(DecodePclRaster(many, &error).size(), static_cast<std::size_t>(kMaxDecodedPages));
    EXPECT_NE(error, "");
}

// A page file whose folder is full: the document fails as an outage that
// says where, no page file (nor a temporary one) is left, and with room the
// page file is written whole.
TEST(PclPageFile, AFullFolderIsAnOutageAndLeavesNoPageFile)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk;
    ASSERT_TRUE(disk.Mounted());
    TPrintingLayer layer;
    TDevMode mode;
    mode.SetPaperSize(9);  // A4
    TPrinterDC dc(layer, mode, TDeviceCaps {});
    const std::string pageFile = disk / "8_3_12345.tvq-1.prn";
    const auto page = [&] {
        EXPECT_TRUE(dc.StartDoc({"R1 P1 Page 1", pageFile}));
        EXPECT_TRUE(dc.StartPage());
        dc.Painter()->fillRect(QRect(300, 300, 600, 100), Qt::black);
        EXPECT_TRUE(dc.EndPage());
        return dc.EndDoc();
    };
    ASSERT_TRUE(disk.Fill());
    const TOutcome full = page();
    EXPECT_FALSE(full);
    EXPECT_EQ(full.Kind(), TFailureKind::Outage);
    EXPECT_EQ(full.Reason(), "cannot write " + pageFile + ": no space left in " + disk.Path());
    EXPECT_TRUE(disk.Names().empty());

    disk.MakeRoom();
    const TOutcome written = page();
    ASSERT_TRUE(written) << written.Reason();
    const std::vector<QImage> pages = DecodePclRaster(ReadFile(pageFile));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(disk.Names(), (std::vector<std::string> {"8_3_12345.tvq-1.prn"}));
}
