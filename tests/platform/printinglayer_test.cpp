#include "platform/printing/printinglayer.h"

#include "platform/printing/pclraster.h"

#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QElapsedTimer>
#include <cups/cups.h>
#include <algorithm>
#include <QDateTime>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(PrintingLayer, NoSchedulerGivesNoPrintersAtOnce)
{
    ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(ClosedPort())).c_str(), 1);
    TPrintingLayer layer;
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(layer.InstalledPrinters().empty());
    EXPECT_EQ(layer.SystemDefaultPrinter(), "");
    EXPECT_LT(timer.elapsed(), 3000);
    ::unsetenv("CUPS_SERVER");
}

TEST(PrintingLayer, ListsTheSchedulersQueuesAndItsDefault)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Laser-A"));
    ASSERT_TRUE(cups.AddQueue("Laser-B"));
    TPrintingLayer layer;
    EXPECT_EQ(layer.SystemDefaultPrinter(), "");  // none chosen yet
    ASSERT_TRUE(cups.SetDefault("Laser-B"));

    auto names = layer.InstalledPrinters();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> {"Laser-A", "Laser-B"}));
    EXPECT_EQ(layer.SystemDefaultPrinter(), "Laser-B");
}

TEST(PrintingLayer, PdfJobsReachThePrinterWhole)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Laser-A"));
    ASSERT_TRUE(cups.AddQueue("Laser-B"));
    ASSERT_TRUE(cups.SetDefault("Laser-B"));
    TPrintingLayer layer;
    const std::string pdf = "%PDF-1.4\n% a tiny document\n%%EOF\n";
    const TResult<int> first = layer.PrintPdf("Laser-A", "R1 P1", pdf);
    ASSERT_TRUE(first) << first.Reason();
    EXPECT_GT(*first, 0);
    layer.CurrentPrinter = "";
    const TResult<int> second = layer.PrintPdf("", "Default job", pdf);  // the system default
    ASSERT_TRUE(second);
    EXPECT_GT(*second, *first);
    EXPECT_FALSE(layer.PrintPdf("No-Such-Queue", "x", pdf));

    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-A") + "job-1.info"); }, 10000));
    EXPECT_EQ(ReadFile(cups.OutDir("Laser-A") + "job-1.data"), pdf);
    EXPECT_NE(ReadFile(cups.OutDir("Laser-A") + "job-1.info").find("title=R1 P1"), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-B") + "job-2.info"); }, 10000));
    EXPECT_NE(ReadFile(cups.OutDir("Laser-B") + "job-2.info").find("title=Default job"), std::string::npos);

    // A job created whose document never came (the sender was killed between
    // the two) did not print.
    const int orphan = cupsCreateJob(CUPS_HTTP_DEFAULT, "Laser-A", "R1 P3", 0, nullptr);
    ASSERT_GT(orphan, 0) << cupsLastErrorString();

    // A job taken is found again by its printer, title and time, completed or not.
    const long long now = QDateTime::currentSecsSinceEpoch();
    const struct {
        const char* printer;
        const char* title;
        long long since;
        int job;
    } finds[] = {{"Laser-A", "R1 P1", now - 60, *first},
                 {"Laser-A", "R1 P1", now + 60, 0},   // created before the attempt began
                 {"Laser-A", "R1 P2", now - 60, 0},   // another title
                 {"Laser-A", "R1 P3", now - 60, 0},   // no document
                 {"Laser-B", "R1 P1", now - 60, 0}};  // another printer
    for (const auto& f : finds) {
        const TResult<int> found = layer.FindJob(f.printer, f.title, f.since);
        ASSERT_TRUE(found) << found.Reason();
        EXPECT_EQ(*found, f.job) << f.printer << " " << f.title << " " << f.since;
    }
    // Before its page is sent again, the job left without it is cancelled;
    // a job that holds its page is left alone.
    const TResult<std::vector<int>> cancelled = layer.CancelJobsWithoutDocument("Laser-A", "R1 P3", now - 60);
    ASSERT_TRUE(cancelled) << cancelled.Reason();
    EXPECT_EQ(*cancelled, std::vector<int> {orphan});
    EXPECT_EQ(layer.CancelJobsWithoutDocument("Laser-A", "R1 P3", now - 60).ValueOr({-1}), std::vector<int> {});
    EXPECT_EQ(layer.CancelJobsWithoutDocument("Laser-A", "R1 P1", now - 60).ValueOr({-1}), std::vector<int> {});
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, "Laser-A", 0, CUPS_WHICHJOBS_ALL);
    int orphanState = 0, firstState = 0;
    for (int i = 0; i < count; ++i) {
        if (jobs[i].id == orphan)
            orphanState = jobs[i].state;
        if (jobs[i].id == *first)
            firstState = jobs[i].state;
    }
    cupsFreeJobs(count, jobs);
    EXPECT_EQ(orphanState, IPP_JSTATE_CANCELED);
    EXPECT_NE(firstState, IPP_JSTATE_CANCELED);
    ::setenv("CUPS_SERVER", "127.0.0.1:1", 1);
    EXPECT_FALSE(layer.FindJob("Laser-A", "R1 P1", 0)) << "no scheduler: unknown, not \"none\"";
    EXPECT_FALSE(layer.CancelJobsWithoutDocument("Laser-A", "R1 P3", 0));
    ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(cups.Port())).c_str(), 1);
}

TEST(DevMode, FieldsAndOverlaySlots)
{
    TDevMode mode;
    EXPECT_GE(mode.Size(), TDevMode::kOtherOverlaySlot + 64);
    EXPECT_GE(mode.Size() - TDevMode::kPublicSize, 1024u);
    mode.SetDeviceName("A printer name longer than thirty-one characters");
    EXPECT_EQ(mode.DeviceName(), "A printer name longer than thir");
    mode.SetOrientation(TDevMode::DMORIENT_LANDSCAPE);
    mode.SetPaperSize(kPaperA5);
    mode.SetDefaultSource(3);
    const auto& b = mode.Bytes();
    EXPECT_EQ(b[44], 2);  // orientation, paper and default source where drivers keep them
    EXPECT_EQ(b[46], 11);
    EXPECT_EQ(b[56], 3);

    const struct {
        std::string text;
        std::string slot;
    } cases[] = {
        {"LETTER", "LETTER"},
        {"", ""},
        {std::string(80, 'X'), std::string(63, 'X')},         // a slot holds 63 characters
        {"1\tA\r\n2\tB\r\n", "1"},                            // a whole list is not a name
        {"HP OVERLAY\tAuto Assigned", "HP OVERLAY"},
    };
    for (const auto& c : cases) {
        TDevMode m;
        m.WriteSlot(TDevMode::kFirstOverlaySlot, std::string(70, 'Z'));  // something to overwrite
        m.WriteSlot(TDevMode::kFirstOverlaySlot, c.text);
        m.WriteSlot(TDevMode::kOtherOverlaySlot, c.text);
        EXPECT_EQ(m.Slot(TDevMode::kFirstOverlaySlot), c.slot) << c.text;
        EXPECT_EQ(m.Slot(TDevMode::kOtherOverlaySlot), c.slot) << c.text;
        EXPECT_EQ(m.Bytes()[TDevMode::kFirstOverlaySlot + c.slot.size()], 0) << "a zero byte ends " << c.text;
        EXPECT_EQ(m.Bytes()[TDevMode::kOtherOverlaySlot + c.slot.size()], 0) << c.text;
    }
}

TEST(PrintingLayer, TrayMatching)
{
    const std::vector<std::string> bins {"Printer Default", "Tray 1", "Tray 2", "Manual Feed"};
    const struct {
        const char* tray;
        int position;
    } cases[] = {{"tray 2", 3}, {"TRAY 1", 2}, {"Manual Feed", 4}, {"", 0}, {" tray 2", 0}, {"Tray 9", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(MatchTray(bins, c.tray), c.position) << c.tray;
    EXPECT_EQ(MatchTray({}, "Tray 1"), 0);
}

TEST(PrintingLayer, APrintersSettingsTraysAndDeviceContexts)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("PCL-Laser", "-m drv:///sample.drv/generpcl.ppd"));
    ASSERT_TRUE(cups.AddQueue("Raw-Laser"));
    TPrintingLayer layer;
    const TResult<std::shared_ptr<TPrinterHandle>> none = layer.OpenPrinter("No-Such-Printer");
    EXPECT_FALSE(none);
    EXPECT_NE(none.Reason().find("No-Such-Printer"), std::string::npos);

    const TResult<std::shared_ptr<TPrinterHandle>> opened = layer.OpenPrinter("pcl-laser");  // names without case
    ASSERT_TRUE(opened) << opened.Reason();
    const std::shared_ptr<TPrinterHandle> pcl = *opened;
    ASSERT_NE(pcl, nullptr);
    EXPECT_EQ(pcl->DeviceName(), "PCL-Laser");
    std::vector<std::string> names;
    for (const TTray& t : pcl->Trays())
        names.push_back(t.Name + "=" + t.Choice + "/" + std::to_string(t.PclSource));
    EXPECT_EQ(names, (std::vector<std::string> {"Printer Default=Default/0", "Tray 1=Tray1/8", "Tray 2=Tray2/1",
                                                 "Tray 3=Tray3/4", "Tray 4=Tray4/5", "Manual Feed=Manual/2",
                                                 "Envelope Feed=Envelope/3"}));
    TDevMode mode = pcl->DocumentProperties();
    EXPECT_EQ(mode.DeviceName(), "PCL-Laser");
    EXPECT_EQ(mode.PaperSize(), kPaperLetter);  // the driver's default paper
    EXPECT_EQ(mode.Orientation(), TDevMode::DMORIENT_PORTRAIT);
    EXPECT_EQ(mode.DefaultSource(), 1);
    mode.SetPaperSize(77);
    mode.SetDefaultSource(42);
    pcl->MergeDocumentProperties(mode);
    EXPECT_EQ(mode.PaperSize(), kPaperA4);
    EXPECT_EQ(mode.DefaultSource(), 1);

    const std::shared_ptr<TPrinterHandle> raw = layer.OpenPrinter("Raw-Laser").ValueOr(nullptr);
    ASSERT_NE(raw, nullptr);
    EXPECT_TRUE(raw->Trays().empty());

    // A device context without an output file: one PDF job with the device mode as options.
    mode.SetPaperSize(kPaperA4);
    mode.SetDefaultSource(3);
    mode.WriteSlot(TDevMode::kFirstOverlaySlot, "LETTERHEAD");
    mode.WriteSlot(TDevMode::kOtherOverlaySlot, "FOLLOW ON");
    TResult<std::unique_ptr<TPrinterDC>> created = pcl->CreateDC(mode);
    ASSERT_TRUE(created) << created.Reason();
    const std::unique_ptr<TPrinterDC> dc = std::move(created).Value();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dc->PhysicalWidth(), 2480);
    EXPECT_EQ(dc->PhysicalOffsetX(), 75);  // the driver's unprintable margin, 6.35 mm
    for (int page = 0; page < 2; ++page) {
        const TOutcome started = dc->StartDoc({"R1 P1 Page 1", ""});
        ASSERT_TRUE(started) << started.Reason();
        ASSERT_TRUE(dc->StartPage());
        dc->Painter()->drawText(300, 300, QStringLiteral("Hello"));
        ASSERT_TRUE(dc->EndPage());
        const TOutcome ended = dc->EndDoc();
        ASSERT_TRUE(ended) << ended.Reason();
    }
    const auto jobs = cups.Jobs("PCL-Laser", 2);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].Title, "R1 P1 Page 1");
    for (const std::string option : {"media=iso_a4_210x297mm", "InputSlot=Tray2", "overlay-first-page=LETTERHEAD",
                                     "overlay-other-pages=FOLLOW\\ ON"})
        EXPECT_TRUE(jobs[0].HasOption(option)) << option << " in " << jobs[0].Options;
    EXPECT_NE(jobs[0].Data.find("\x1b&l26A"), std::string::npos);  // the driver printed A4 ...
    EXPECT_NE(jobs[0].Data.find("\x1b&l1H"), std::string::npos);   // ... from tray 2

    // With an output file: a PCL page file, written whole.
    TTempDir dir;
    ASSERT_TRUE(dc->StartDoc({"R1 P1 Page 2", dir / "7_3_x.prn"}));
    ASSERT_TRUE(dc->StartPage());
    dc->Painter()->fillRect(QRect(300, 300, 200, 100), Qt::black);
    ASSERT_TRUE(dc->EndPage());
    ASSERT_TRUE(dc->EndDoc());
    const std::string file = ReadFile(dir / "7_3_x.prn");
    EXPECT_NE(file.find("\x1b&l1H"), std::string::npos);
    EXPECT_NE(file.find("\x1b*p6815Y"), std::string::npos);
    const auto pages = DecodePclRaster(file);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].pixelIndex(400 - 71, 350), 1);  // the raster starts at PCL's logical page
    EXPECT_EQ(pages[0].pixelIndex(600 - 71, 350), 0);
    ASSERT_TRUE(dc->StartDoc({"x", "/no/such/folder/x.prn"}));
    ASSERT_TRUE(dc->StartPage());
    ASSERT_TRUE(dc->EndPage());
    const TOutcome unwritten = dc->EndDoc();
    EXPECT_FALSE(unwritten);
    EXPECT_NE(unwritten.Reason().find("/no/such/folder/x.prn"), std::string::npos);
    EXPECT_FALSE(pcl->CreateDC(TDevMode())) << "a device mode without a printer";
}
