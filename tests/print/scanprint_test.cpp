#include "print/scanprint.h"

#include "print/printhome.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

struct TScanHome : TPrintHome {
    TImageComponent MultiImage;
    std::vector<std::string> ImageDirs;

    TScanHome()
    {
        for (const char* sub : {"images1/", "images2/"}) {
            EXPECT_TRUE(ForceDir(Dir / sub));
            ImageDirs.push_back(Dir / sub);
        }
    }
    void Picture(const std::string& path, int width, int height, const char* format)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::white);
        image.setPixel(0, 0, qRgb(0, 0, 0));
        ASSERT_TRUE(image.save(QString::fromStdString(path), format)) << path;
    }
    bool Print(const std::string& scanId, const std::string& mask = "")
    {
        TScanContext context {scanId,  "",     ImageDirs, mask,
                              MultiImage, Device, Engine,  Log,
                              [](std::string& first, std::string& other) { first = other = ""; }};
        return PrintScanJob(context).Ok();
    }
};

}  // namespace

TEST(ScanPrint, FitToThePrintableArea)
{
    const struct {
        int w, h, pw, ph, W, H;
    } cases[] = {
        {4800, 6800, 2000, 2000, 4800, 4800},
        {4800, 6800, 3000, 1000, 4800, 1600},
        {4800, 6800, 1000, 4000, 1700, 6800},
        {2480, 3507, 2480, 3507, 2480, 3507},
        {2480, 3507, 3, 7, 1503, 3507},  // 3507 x 3/7 = 1503.0, truncated
    };
    for (const auto& c : cases) {
        const QSize fit = FitToPrintable(c.w, c.h, c.pw, c.ph);
        EXPECT_EQ(fit, QSize(c.W, c.H)) << c.pw << "x" << c.ph;
    }
}

TEST(ScanPrint, EveryImageOfTheFirstFolderThatHasSome)
{
    TScanHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Scans"));
    ASSERT_TRUE(home.Cups().SetDefault("Scans"));
    home.Picture(home.Dir / "images1/12345b.tif", 300, 100, "TIFF");
    home.Picture(home.Dir / "images1/12345a.png", 100, 300, "PNG");
    WriteFile(home.Dir / "images1/12345c.jpg", "not a picture at all");
    home.Picture(home.Dir / "images2/12345z.png", 10, 10, "PNG");  // a later folder is not looked at
    home.Picture(home.Dir / "images1/99999.png", 10, 10, "PNG");

    EXPECT_TRUE(home.Print("12345"));
    const auto jobs = home.Cups().Jobs("Scans", 2);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].Title, "ImagePrint: " + (home.Dir / "images1/12345a.png"));
    EXPECT_EQ(jobs[1].Title, "ImagePrint: " + (home.Dir / "images1/12345b.tif"));
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Page size"), "595 x 842 pts (A4)");  // before any report
    ASSERT_EQ(home.Log.Lines.size(), 2u);
    EXPECT_EQ(home.Log.Lines[0].rfind("The image " + (home.Dir / "images1/12345c.jpg") + " could not be read: ", 0), 0u)
        << home.Log.Lines[0];
    EXPECT_EQ(home.Log.Lines.back(), "Printed image for 12345");
    EXPECT_EQ(home.Log.Count("Printed image for 12345"), 1);
    QThread::msleep(500);
    EXPECT_EQ(home.Cups().Jobs("Scans", 2, 0).size(), 2u) << "the undecodable file is not printed as another picture";
}

TEST(ScanPrint, ALaterFolderAndASubFolderByMask)
{
    TScanHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Scans"));
    home.Printing.CurrentPrinter = "Scans";
    EXPECT_TRUE(ForceDir(home.Dir / "images2/12"));
    home.Picture(home.Dir / "images2/12/12345.png", 50, 50, "PNG");
    home.Device.PageSetup = {true, kPaperA4};  // a landscape report came before
    EXPECT_TRUE(home.Print("12345", "**"));
    const auto jobs = home.Cups().Jobs("Scans", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, "ImagePrint: " + (home.Dir / "images2/12/12345.png"));
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Page size"), "842 x 595 pts (A4)");
}

TEST(ScanPrint, NoImageGivesTheMissingImagePage)
{
    TScanHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Scans"));
    home.Printing.CurrentPrinter = "Scans";
    EXPECT_TRUE(home.Print("55555"));
    EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {"Image for 55555 was requested but it was not present"}));
    const auto jobs = home.Cups().Jobs("Scans", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, "55555");
    EXPECT_EQ(TextOfPdf(jobs[0].Data).substr(0, 20), "55555\nMissing Image\n");

    home.ImageDirs.clear();  // no image folders at all: the same
    EXPECT_TRUE(home.Print("66666"));
    EXPECT_TRUE(home.Log.Has("Image for 66666 was requested but it was not present"));

    home.Printing.CurrentPrinter = "Gone-Printer";
    EXPECT_FALSE(home.Print("77777"));
    EXPECT_NE(home.Log.Lines.back().find("The Missing Image page for 77777 was not printed"), std::string::npos);
}
