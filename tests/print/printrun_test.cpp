#include "print/printrun.h"

#include "platform/printing/pclraster.h"
#include "print/printhome.h"
#include "support/regfiles.h"
#include "support/smallfs.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const std::string kBase = "HV_REQCODE~R1^HV_PROCCODE~P2^HV_PRINTER~3";

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

int InkPixels(const QImage& page)
{
    int ink = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            ink += page.pixelIndex(x, y);
    return ink;
}

}  // namespace

TEST(PrintRun, SavedDocuments)
{
    TTempDir dir;
    const std::string d = dir.Path();
    const struct {
        std::string output;
        std::string file;  // what appears
        std::string log;
        const char* starts;
        bool done;
    } cases[] = {
        {"pdf_" + d + "a?b.pdf", d + "a%3Fb.pdf", "PDF Document created as \"" + d + "a%3Fb.pdf\"", "%PDF", true},
        {"pdf_" + d + "a%3Fc.pdf", d + "a%3Fc.pdf", "PDF Document created as \"" + d + "a%3Fc.pdf\"", "%PDF", true},
        {"rtf_" + d + "x.rtf", d + "x.rtf", "RTF Doc created as \"" + d + "x.rtf\"", "{\\rtf", true},
        {"msword_" + d + "w.doc", d + "w.doc", "MS Word Doc created as \"" + d + "w.doc\"", "{\\rtf", true},
        {"pdf_" + d + "no/such/x.pdf", "", "PDF Document creation FAILED \"" + d + "no/such/x.pdf\"", "", false},
        {"rtf_" + d + "no/such/x.rtf", "", "RTF Doc creation FAILED \"" + d + "no/such/x.rtf\"  ", "", false},
        {"msword_" + d + "no/w.doc", "", "MS Word Doc creation FAILED \"" + d + "no/w.doc\"  ", "", false},
    };
    for (const auto& c : cases) {
        TPrintHome home;
        home.Request(kBase);
        home.Pages(2);
        std::string output = c.output;
        TPrintRunContext context = home.Context();
        EXPECT_EQ(PrintReport(context, output).Ok(), c.done) << c.output;
        ASSERT_FALSE(home.Log.Lines.empty());
        EXPECT_EQ(home.Log.Lines.front(), c.log);
        if (!c.file.empty()) {
            EXPECT_TRUE(StartsWith(ReadFile(c.file), c.starts)) << c.file;
        }
    }
    EXPECT_TRUE(QDir(QString::fromStdString(d)).entryList({"*.tmp", ".*"}, QDir::Files | QDir::Hidden).isEmpty());
}

// A saved document whose folder is full: the run fails as an outage, says
// where there was no room, claims nothing and leaves nothing; once there is
// room it is saved whole.
TEST(PrintRun, ASavedDocumentThatDoesNotFitIsAnOutageAndClaimsNothing)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk;
    ASSERT_TRUE(disk.Mounted());
    const struct {
        std::string prefix;
        std::string failed;
        std::string tail;  // the first line's, as operators know it
        std::string done;
        const char* starts;
    } cases[] = {
        {"pdf_", "PDF Document creation FAILED \"" + (disk / "R1.pdf") + "\"", "",
         "PDF Document created as \"" + (disk / "R1.pdf") + "\"", "%PDF"},
        {"rtf_", "RTF Doc creation FAILED \"" + (disk / "R1.pdf") + "\"", "  ",
         "RTF Doc created as \"" + (disk / "R1.pdf") + "\"", "{\\rtf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        TPrintHome home;
        home.Request(kBase);
        home.Pages(2);
        ASSERT_TRUE(disk.Fill());
        std::string output = c.prefix + (disk / "R1.pdf");
        TPrintRunContext context = home.Context();
        const TOutcome full = PrintReport(context, output);
        ASSERT_FALSE(full);
        EXPECT_EQ(full.Kind(), TFailureKind::Outage);
        const std::string why = "Could not save " + (disk / "R1.pdf") + ": no space left in " + disk.Path();
        EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {c.failed + c.tail, why}));
        EXPECT_EQ(full.Reason(), c.failed + ": " + why);
        EXPECT_TRUE(disk.Names().empty());

        disk.MakeRoom();
        home.Log.Clear();
        output = c.prefix + (disk / "R1.pdf");
        ASSERT_TRUE(PrintReport(context, output));
        EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {c.done}));
        EXPECT_TRUE(StartsWith(ReadFile(disk / "R1.pdf"), c.starts));
        EXPECT_EQ(disk.Names(), (std::vector<std::string> {"R1.pdf"}));
        ASSERT_TRUE(DeleteFileAt(disk / "R1.pdf"));
    }
}

// A document the request names onto the server's own files or folders is
// refused on the folder the kernel opens, whatever ".." and links say, with
// the log line operators know; no retry can mend it.
TEST(PrintRun, ARefusedDocumentIsFinalAndTheLogSaysWhy)
{
    TPrintHome home;
    const std::string d = home.Dir.Path();
    ASSERT_TRUE(ForceDir(d + "spool/temp") && ForceDir(d + "results"));
    WriteFile(d + "tags.txt", "3|PATSUR\r\n");
    TProtectedPlaces places;
    places.AddFile(d + "tags.txt");
    places.AddFolder("the spool folder", d + "spool/");
    places.AddFolder("the LPR queue folder", d + "lpd/");
    ASSERT_EQ(::symlink((d + "spool").c_str(), (d + "results/link").c_str()), 0);
    ASSERT_EQ(::symlink((d + "tags.txt").c_str(), (d + "results/tags.pdf").c_str()), 0);
    const struct {
        std::string output;
        std::string line;
    } cases[] = {
        {"pdf_" + d + "results/link/../tags.txt",
         "PDF Document creation FAILED \"" + d + "results/link/../tags.txt\": refused for spooler file R.tvq (R1): "
         "it is the server's own file " + d + "tags.txt"},
        {"rtf_" + d + "results/tags.pdf",
         "RTF Doc creation FAILED \"" + d + "results/tags.pdf\": refused for spooler file R.tvq (R1): "
         "it is the server's own file " + d + "tags.txt"},
        {"msword_" + d + "results/link/temp/x.doc",
         "MS Word Doc creation FAILED \"" + d + "results/link/temp/x.doc\": refused for spooler file R.tvq (R1): "
         "it lies in the spool folder " + d + "spool/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        home.Log.Clear();
        home.Request(kBase);
        home.Pages(1);
        std::string output = c.output;
        TPrintRunContext context = home.Context();
        context.ProtectedPlaces = places;
        context.RequestName = "R.tvq";
        const TOutcome refused = PrintReport(context, output);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.Kind(), TFailureKind::Final);
        EXPECT_EQ(refused.Reason(), c.line);
        EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {c.line}));
        EXPECT_EQ(ReadFile(d + "tags.txt"), "3|PATSUR\r\n");
    }
    EXPECT_TRUE(QDir(QString::fromStdString(d + "spool/temp")).isEmpty());
    const QDir spool(QString::fromStdString(d + "spool"));
    EXPECT_EQ(spool.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList {"temp"});
}

TEST(PrintRun, PageFileNames)
{
    const std::string q = "/q/";
    const struct {
        std::string output;
        std::string overlay;
        int page;
        std::string name;
    } cases[] = {
        {q + "7_3_12345.tvq.prn", "HP OVERLAY-9", 2, q + "9_3_12345.tvq-2.prn"},
        {q + "7_3_12345.tvq.prn", "MERGE MACRO-FORM1.prn", 2, q + "FORM1.prn_3_12345.tvq-2.prn"},
        {q + "7_3_12345.tvq.prn", "HP OVERLAY\tAuto Assigned", 2, q + "_3_12345.tvq-2.prn"},
        {q + "_3_12345.tvq.prn", "HP OVERLAY-8", 1, q + "8_3_12345.tvq-1.prn"},  // no PMASK, PMASK2 8
    };
    for (const auto& c : cases)
        EXPECT_EQ(PageFileName(q, c.output, c.overlay, c.page), c.name) << c.overlay;
}

TEST(PrintRun, HpOverlayPagesBecomePageFiles)
{
    TPrintHome home;
    ASSERT_TRUE(home.Cups().AddQueue("HP-Laser"));
    home.Settings.Set("PRINTER3", "HP-Laser");
    home.DriverData(PrinterKey("HP-Laser") + "\"HPDUMMY\"=dword:00000001\r\n");
    home.Request(kBase + "^HV_PMASK~7^HV_PMASK2~8");
    home.Pages(3);
    home.Select();
    std::string output = home.Dir / "lpd/7_3_12345.tvq.prn";
    TPrintRunContext context = home.Context();
    ASSERT_TRUE(PrintReport(context, output)) << (home.Log.Lines.empty() ? "" : home.Log.Lines.back());
    EXPECT_EQ(home.QueueFiles(),
              (std::vector<std::string> {"7_3_12345.tvq-1.prn", "8_3_12345.tvq-2.prn", "8_3_12345.tvq-3.prn"}));
    for (int page = 1; page <= 3; ++page) {
        const std::string name = (page == 1 ? "7" : "8") + std::string("_3_12345.tvq-") + std::to_string(page) + ".prn";
        const auto pages = DecodePclRaster(ReadFile(home.Dir / ("lpd/" + name)));
        ASSERT_EQ(pages.size(), 1u) << name;
        EXPECT_GT(InkPixels(pages[0]), 500) << name << " holds its page's text";
    }
    EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {"Printed R1 P2: 3 page file(s) for the LPR queue"}));
    QThread::msleep(500);
    EXPECT_TRUE(home.Cups().Jobs("HP-Laser", 0, 0).empty()) << "no page went to the printer itself";
}

TEST(PrintRun, LexmarkOverlaysTravelInEachPagesJob)
{
    TPrintHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Lexmark-T640"));
    home.Settings.Set("PRINTER3", "Lexmark-T640");
    home.DriverData(PrinterKey("Lexmark-T640") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:" +
                    RegHex(MacroRecords({{5, "FORM5"}, {6, "FORM6"}})) + "\r\n");
    home.Request(kBase + "^HV_PMASK~5^HV_PMASK2~6^HV_PAPERTRAY~Tray 2");
    home.Pages(2);
    home.Device.PageSetup = {true, kPaperA5};
    home.Select();
    std::string output = home.Dir / "lpd/5_3_1.tvq.prn";
    TPrintRunContext context = home.Context();
    ASSERT_TRUE(PrintReport(context, output));
    EXPECT_TRUE(home.QueueFiles().empty());
    const auto jobs = home.Cups().Jobs("Lexmark-T640", 2);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].Title, "R1 P2 Page 1");
    EXPECT_EQ(jobs[1].Title, "R1 P2 Page 2");
    EXPECT_TRUE(jobs[0].HasOption("overlay-first-page=FORM5")) << jobs[0].Options;
    EXPECT_TRUE(jobs[0].HasOption("overlay-other-pages=FORM6"));
    EXPECT_TRUE(jobs[1].HasOption("overlay-first-page=FORM6"));  // from page 2 on, the other pages' overlay
    EXPECT_TRUE(jobs[1].HasOption("media=iso_a5_148x210mm"));
    EXPECT_FALSE(jobs[1].HasOption("InputSlot=Tray2")) << "a queue without trays";
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Pages"), "1");
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Page size"), "595 x 420 pts (A5)");  // landscape
    EXPECT_NE(TextOfPdf(jobs[1].Data).find("Report page 2"), std::string::npos);
    EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {"Printed R1 P2: 2 page(s) on Lexmark-T640"}));
}

TEST(PrintRun, AFaxIsOneJobForAllPages)
{
    TPrintHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Fax"));
    home.Settings.Set("PRINTER3", "Fax");
    home.Request(kBase + "^HV_FaxNumber~0399998888");
    home.Pages(3);
    std::string output;
    TPrintRunContext context = home.Context();
    ASSERT_TRUE(PrintReport(context, output));
    const auto jobs = home.Cups().Jobs("Fax", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Pages"), "3");
    QThread::msleep(500);
    EXPECT_EQ(home.Cups().Jobs("Fax", 1, 0).size(), 1u);
    EXPECT_TRUE(home.Log.Has("Printed R1 P2: 3 page(s) on Fax"));

    // With an HP overlay too: one job, pages printed, no page files.
    TPrintHome hp;
    ASSERT_TRUE(hp.Cups().AddQueue("HP-Fax"));
    hp.Settings.Set("PRINTER3", "HP-Fax");
    hp.DriverData(PrinterKey("HP-Fax") + "\"HPDUMMY\"=\"\"\r\n");
    hp.Request(kBase + "^HV_ISFAX~1^HV_PMASK~7");
    hp.Pages(3);
    hp.Select();
    TPrintRunContext overlaid = hp.Context();
    ASSERT_TRUE(PrintReport(overlaid, output));
    EXPECT_EQ(hp.Cups().Jobs("HP-Fax", 1).size(), 1u);
    EXPECT_TRUE(hp.QueueFiles().empty());
    EXPECT_TRUE(hp.Log.Has("Printed R1 P2: 3 page(s) on HP-Fax")) << hp.Log.Lines.back();

    // A set-up that fails is logged for every page, and the fax is not sent.
    TPrintHome failing;
    ASSERT_TRUE(failing.Cups().AddQueue("Fax"));
    failing.Request(kBase + "^HV_ISFAX~1");
    failing.Pages(3);
    TPrintRunContext broken = failing.Context();
    broken.SelectPrinterByNumber = [&](std::string_view) {
        failing.Printing.CurrentPrinter = "Gone-Printer";  // removed since it was chosen
        return failing.Printing.CurrentPrinter;
    };
    EXPECT_FALSE(PrintReport(broken, output));
    EXPECT_EQ(failing.Log.Count("Failed to set printer information ERROR: Could not get printer Gone-Printer"), 3);
    EXPECT_TRUE(failing.Log.Has("The fax document R1 P2 was not printed: there is no printer device to print on"));
}

TEST(PrintRun, TheOperatorsPrintDialogDropsThePageMask)
{
    TPrintHome home;
    ASSERT_TRUE(home.Cups().AddQueue("HP-Laser"));
    home.Settings.Set("PRINTER3", "HP-Laser");
    home.DriverData(PrinterKey("HP-Laser") + "\"HPDUMMY\"=\"\"\r\n");
    home.Request(kBase + "^HV_PMASK~7");
    home.Pages(1);
    home.Select();
    home.ViewShown = true;
    std::string output = home.Dir / "lpd/7_3_1.tvq.prn";
    TPrintRunContext context = home.Context();
    ASSERT_TRUE(PrintReport(context, output));
    EXPECT_EQ(home.Dialogs, 1);
    EXPECT_TRUE(home.QueueFiles().empty());  // no overlay: printed on the printer
    EXPECT_EQ(home.Cups().Jobs("HP-Laser", 1).size(), 1u);
}
