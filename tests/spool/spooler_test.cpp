#include "spool/pipeline.h"

#include "spool/spoolhome.h"
#include "support/pipelineaccess.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kUnprintable = "HV_PATSUR~NOBODY";
const std::string kReport = "HV_TEMPLATE~LH^HV_REQCODE~R1^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH";

std::vector<std::string> Files(const std::string& dir)
{
    std::vector<std::string> names;
    for (const QString& n : QDir(QString::fromStdString(dir)).entryList(QDir::Files, QDir::Name))
        names.push_back(n.toStdString());
    return names;
}

}  // namespace

TEST(SpoolTick, OneFilePerTickInCaseInsensitiveOrder)
{
    TSpoolHome home;
    home.Drop("c.tvq", kUnprintable);
    home.Drop("B.prn", "PCL");
    home.Drop("a.tvq", kUnprintable);
    home.Drop("notes.txt", "not for the server");
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Indicators.PrintQueueText(), "0003");
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"a.tvq"}));
    EXPECT_FALSE(home.S().State().SpoolHeld);
    home.S().SpoolTimerTimer();
    home.S().SpoolTimerTimer();
    home.S().SpoolTimerTimer();  // nothing left
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"a.tvq", "B.prn", "c.tvq"}));
    EXPECT_EQ(home.Dispatches, 4);  // the LPR queue is delivered at every working tick
    EXPECT_EQ(Files(home.Dir / "lpd"), (std::vector<std::string> {"_B.prn"}));
    EXPECT_EQ(ReadFile(home.Dir / "lpd/_B.prn"), "PCL");
    EXPECT_EQ(Files(home.Dir / "spool"), (std::vector<std::string> {"notes.txt"}));
    EXPECT_EQ(Files(home.Dir / "spool/temp"), (std::vector<std::string> {"B.prn", "a.tvq", "c.tvq"}));
    EXPECT_EQ(Files(home.Dir / "spool/unprintable"), (std::vector<std::string> {"a.tvq", "c.tvq"}));
    EXPECT_EQ(home.Indicators.Light(TLight::Convert), TLightColor::Off);
}

TEST(SpoolTick, AFileThatChangedSinceListingWaitsForTheNextRefill)
{
    TSpoolHome home;
    home.Drop("a.tvq", kUnprintable);
    home.Drop("b.tvq", kUnprintable + std::string(800 - kUnprintable.size(), ' '));
    home.S().SpoolTimerTimer();  // lists both, takes a
    home.Drop("b.tvq", kUnprintable + std::string(1200 - kUnprintable.size(), ' '));
    home.S().SpoolTimerTimer();  // b is still growing: left for the next listing, without a word
    EXPECT_EQ(home.Log.CountStarting("Spooler file b.tvq"), 0);
    EXPECT_FALSE(home.S().State().SpoolHeld);
    EXPECT_TRUE(home.InSpool("b.tvq"));
    home.S().SpoolTimerTimer();  // listed again with 1200 bytes
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"a.tvq", "b.tvq"}));
    EXPECT_FALSE(home.InSpool("b.tvq"));
}

// A file that cannot be opened for reading and writing (read-only, or
// immutable, which holds even for root) is never taken, and said once with
// its reason, not at every look: nobody is still writing it.
TEST(SpoolTick, AFileThatCannotBeOpenedIsReportedOnceAndNotTaken)
{
    TSpoolHome home;
    home.Drop("r.tvq", kUnprintable);
    const std::string path = home.Dir / "spool/r.tvq";
    const bool root = ::geteuid() == 0;
    if (root) {
        if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0)
            GTEST_SKIP() << "chattr +i is not possible here, and root opens a read-only file anyway";
    } else {
        ::chmod(path.c_str(), 0444);
    }
    for (int tick = 0; tick < 3; ++tick)
        home.S().SpoolTimerTimer();
    if (root) {
        EXPECT_EQ(std::system(("chattr -i '" + path + "'").c_str()), 0);
    }
    EXPECT_EQ(home.Log.CountStarting("Spooler file r.tvq: it cannot be opened for reading and writing: " +
                                     std::string(root ? "Operation not permitted" : "Permission denied") +
                                     " (the file is "),
              1);
    EXPECT_EQ(home.Log.Count("Spooler file r.tvq is locked by another process, is faulty or is incompletely written."),
              0);
    EXPECT_TRUE(home.InSpool("r.tvq"));
    EXPECT_TRUE(home.Found().empty());
}

// A file is taken once its size and time have stayed the same for the
// settle time, measured here or, for a file written long ago, by its time.
TEST(SpoolTick, AFileIsTakenOnlyOnceItHasSettled)
{
    TSpoolHome home;
    home.Settings.Config.SettleSeconds = 10;
    // Written at the pipeline's time, as a writer would write it.
    const auto write = [&](const std::string& name, const std::string& bytes, std::int64_t at) {
        home.Drop(name, bytes);
        const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(at / 1000), (at % 1000) * 1000000}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (home.Dir / ("spool/" + name)).c_str(), times, 0), 0);
    };
    write("new.tvq", kUnprintable, home.Clock);
    home.S().SpoolTimerTimer();
    home.Clock += 5000;
    home.S().SpoolTimerTimer();
    EXPECT_TRUE(home.Found().empty()) << "written 5 s ago";
    // More is written: the settle time starts again.
    home.Clock += 1000;
    write("new.tvq", kUnprintable + " ", home.Clock);
    home.Clock += 5000;
    home.S().SpoolTimerTimer();
    home.Clock += 4000;
    home.S().SpoolTimerTimer();
    EXPECT_TRUE(home.Found().empty()) << "unchanged for 9 s";
    home.Clock += 1000;
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"new.tvq"}));

    // One written long ago is taken at first sight; one whose writer's
    // clock is ahead is taken once it has stayed the same for the settle
    // time as seen here.
    write("old.tvq", kUnprintable, home.Clock - 60000);
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"new.tvq", "old.tvq"}));
    write("ahead.tvq", kUnprintable, home.Clock + 3600000);
    home.S().SpoolTimerTimer();
    home.Clock += 9000;
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Found().size(), 2u);
    home.Clock += 1000;
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"new.tvq", "old.tvq", "ahead.tvq"}));
}

TEST(SpoolTick, ARefillListsAHundredRequests)
{
    TSpoolHome home;
    for (int i = 0; i < 150; ++i)
        home.Drop("req" + std::to_string(1000 + i) + ".tvq", kUnprintable);
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.S().State().Listed, 99u);
    EXPECT_EQ(home.Indicators.PrintQueueText(), "0100");
    for (int i = 1; i < 100; ++i)
        home.S().SpoolTimerTimer();
    EXPECT_TRUE(home.S().State().Listed == 0);
    home.S().SpoolTimerTimer();  // the other 50
    EXPECT_EQ(home.S().State().Listed, 49u);
    EXPECT_EQ(Files(home.Dir / "spool/unprintable").size(), 101u);
}

TEST(SpoolTick, PrinterFilesGoIntoTheLprQueue)
{
    TSpoolHome home;
    home.Drop("3_LAB123.prn", "\x1b" "E page");
    home.S().SpoolTimerTimer();
    EXPECT_EQ(ReadFile(home.Dir / "lpd/_3_LAB123.prn"), "\x1b" "E page");
    EXPECT_FALSE(home.InSpool("3_LAB123.prn"));
    EXPECT_EQ(ReadFile(home.Dir / "spool/temp/3_LAB123.prn"), "\x1b" "E page");

    // A copy that fails keeps the printer file in the spool folder, and no
    // "temp" folder means no backup copies.
    TSpoolHome broken;
    ::rmdir((broken.Dir / "spool/temp").c_str());
    broken.Settings.Config.LprQueueDir = broken.Dir / "missing/";
    broken.Drop("4_LAB9.prn", "PCL");
    broken.S().SpoolTimerTimer();
    EXPECT_TRUE(broken.Log.Has("Failed to copy PRN file 4_LAB9.prn"));
    EXPECT_TRUE(broken.InSpool("4_LAB9.prn"));
    EXPECT_FALSE(broken.S().State().SpoolHeld);
    EXPECT_FALSE(DirExists(broken.Dir / "spool/temp"));
}

TEST(SpoolTick, UnprintableRequests)
{
    TSpoolHome home;
    home.Drop("empty.tvq", "");
    home.Drop("nocodes.tvq", "HV_REQCODE~R1");
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Log.Lines.back(),
              "Spooler file empty.tvq was unpritable because \r\n"
              "  either there was no Request or Procedure code; OR\r\n"
              "  A PDF or Scanned Image print request was not specified.");
    EXPECT_FALSE(home.S().State().SpoolHeld);
    EXPECT_TRUE(FileExists(home.Dir / "spool/unprintable/empty.tvq"));

    WriteFile(home.Dir / "spool/unprintable/nocodes.tvq", "an earlier one");  // the move cannot replace it
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Log.Lines.back(), "ERROR - destination exists");
    EXPECT_TRUE(home.InSpool("nocodes.tvq"));
    EXPECT_FALSE(home.S().State().SpoolHeld);
}

TEST(SpoolTick, StallsAndTheWatchdog)
{
    TSpoolHome home;
    home.Settings.Config.SettingsScore = 6;
    home.Drop("a.tvq", kReport);
    home.S().SpoolTimerTimer();
    EXPECT_TRUE(home.Log.Has("At least 1 critical value is not set, Check printers and Settings"));
    EXPECT_TRUE(home.S().State().SpoolHeld);
    EXPECT_EQ(home.Dispatches, 1);

    home.S().SpoolTimerTimer();  // busy: only the watchdog looks
    EXPECT_EQ(home.Dispatches, 1);
    EXPECT_EQ(home.Indicators.Light(TLight::Spool), TLightColor::Red);

    TJobPipelineTestAccess::SetPrintPending(home.S(), true);
    TJobPipelineTestAccess::DuePrintRun(home.S());
    TJobPipelineTestAccess::SetBusySince(home.S(), QDateTime::currentDateTime().addSecs(-179));
    home.S().SpoolTimerTimer();
    EXPECT_TRUE(home.S().State().SpoolHeld);
    TJobPipelineTestAccess::SetBusySince(home.S(), QDateTime::currentDateTime().addSecs(-181));
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Log.Lines.back(), "The Print Spooler has been busy for too long:\r\n             Forcing Reset..");
    EXPECT_FALSE(home.S().State().SpoolHeld);
    EXPECT_FALSE(home.S().State().PrintPending);
    EXPECT_FALSE(home.S().State().PrintRunDue);
    EXPECT_EQ(home.Indicators.Light(TLight::Spool), TLightColor::Off);
    EXPECT_TRUE(home.InSpool("a.tvq"));

    // After a watchdog reset a late print run only updates its light.
    TJobPipelineTestAccess::SetPrintPending(home.S(), true);
    home.S().printingtimerTimer();
    EXPECT_EQ(home.Indicators.Light(TLight::Printing), TLightColor::Red);
    EXPECT_TRUE(home.S().State().PrintPending);
}

TEST(SpoolTick, RequestsStayUntilTheirOutputExists)
{
    TSpoolHome home;
    home.Drop("saved.tvq", kReport + "^HV_PDFDOC~" + (home.Dir / "results/R1.pdf"));
    home.Drop("unsaved.tvq", kReport + "^HV_PDFDOC~" + (home.Dir / "gone/R1.pdf"));
    home.S().SpoolTimerTimer();
    EXPECT_TRUE(home.S().State().SpoolHeld);
    EXPECT_TRUE(home.S().State().PrintPending);
    EXPECT_TRUE(home.S().State().PrintRunDue);
    EXPECT_EQ(home.S().State().PrintRunInterval, 1500);
    EXPECT_TRUE(home.InSpool("saved.tvq")) << "kept until the PDF exists";
    EXPECT_EQ(home.Indicators.Light(TLight::Printing), TLightColor::Green);
    home.S().printingtimerTimer();
    EXPECT_TRUE(home.Log.Has("PDF Document created as \"" + (home.Dir / "results/R1.pdf") + "\""));
    EXPECT_EQ(home.Log.SeverityOf("PDF Document created as "), TSeverity::Info);
    EXPECT_NE(TextOfPdf(ReadFile(home.Dir / "results/R1.pdf")).find("Template for SMITH"), std::string::npos);
    EXPECT_FALSE(home.InSpool("saved.tvq"));
    EXPECT_FALSE(home.S().State().SpoolHeld);
    EXPECT_FALSE(home.S().State().PrintPending);
    EXPECT_FALSE(home.S().State().PrintRunDue);

    home.TickAndPrint();
    EXPECT_TRUE(home.Log.Has("PDF Document creation FAILED \"" + (home.Dir / "gone/R1.pdf") + "\""));
    EXPECT_EQ(home.Log.SeverityOf("PDF Document creation FAILED "), TSeverity::Error);
    EXPECT_EQ(home.Log.SeverityOf("Could not save " + (home.Dir / "gone/R1.pdf") + ": "), TSeverity::Error);
    EXPECT_EQ(home.Log.Lines.back().rfind("Spooler file unsaved.tvq stays in the spool folder; attempt 2 of 5 at ", 0), 0u)
        << home.Log.Lines.back();
    EXPECT_EQ(home.Log.Severities.back(), TSeverity::Info);
    EXPECT_TRUE(home.InSpool("unsaved.tvq"));
    EXPECT_TRUE(ForceDir(home.Dir / "gone"));
    home.TickAndPrint();  // the next refill takes it again
    EXPECT_TRUE(FileExists(home.Dir / "gone/R1.pdf"));
    EXPECT_FALSE(home.InSpool("unsaved.tvq"));
}

TEST(SpoolTick, AJobThatCannotBeComposedWaitsWithoutHoldingUpTheOthers)
{
    TSpoolHome home;
    const std::string notRtf = QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + QByteArray(64, '\0')).toBase64().toStdString();
    home.Drop("word.tvq", kReport + "^HV_PDFDOC~x.pdf^HV_B64DATA~" + notRtf);
    home.S().SpoolTimerTimer();
    EXPECT_FALSE(home.S().State().SpoolHeld) << "not until the watchdog: the next tick goes on";
    EXPECT_FALSE(home.S().State().PrintPending);
    EXPECT_TRUE(home.InSpool("word.tvq"));
    const std::string loading = " Error loading " + (home.Dir / "results/R1_P1.doc") + " with ";
    ASSERT_GE(home.Log.Lines.size(), 2u);
    EXPECT_EQ(home.Log.Lines[home.Log.Lines.size() - 2].rfind(loading, 0), 0u);
    EXPECT_EQ(home.JobOf("word.tvq")->State, TJobState::Waiting);
    EXPECT_EQ(home.JobOf("word.tvq")->Reason.rfind(loading, 0), 0u);
}

TEST(ReportJobSequence, PrinterSelectionAndItsFallbacks)
{
    TSpoolHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Laser-A"));
    home.Settings.Set("PRINTER1", "Laser-A");  // no system default on this scheduler

    EXPECT_EQ(home.S().RunReportJob(kReport + "^HV_PRINTER~7", "r.tvq"), TJobExit::Completed);
    EXPECT_TRUE(home.Log.Has("Printer 7 does not exist, using default (printer 1)."));
    EXPECT_EQ(home.Record.PrinterNumber, "1");
    EXPECT_EQ(home.Printing.CurrentPrinter, "Laser-A");

    home.Settings.Config.DefaultPrinterNumber = "";
    home.Record.ResetFields();  // as the tick does before every request
    home.Drop("lost.tvq", kReport);
    home.S().HoldSpool();
    EXPECT_EQ(home.S().RunReportJob(kReport + "^HV_PRINTER~7", "lost.tvq"), TJobExit::NoPrinter);
    EXPECT_EQ(home.Log.Lines.back(), "No default printer!");
    EXPECT_FALSE(home.S().State().SpoolHeld);
    EXPECT_TRUE(FileExists(home.Dir / "spool/unprintable/lost.tvq"));

    // A saved document needs no printer.
    home.Record.ResetFields();
    EXPECT_EQ(home.S().RunReportJob(kReport + "^HV_PRINTER~7^HV_PDFDOC~x.pdf", "pdf.tvq"), TJobExit::Completed);

    // A scheduler that does not answer holds requests back instead of
    // rejecting them.
    ::setenv("CUPS_SERVER", "127.0.0.1:1", 1);
    home.Record.ResetFields();
    home.Drop("wait.tvq", kReport);
    const std::size_t before = home.Log.Lines.size();
    EXPECT_EQ(home.S().RunReportJob(kReport + "^HV_PRINTER~7", "wait.tvq"), TJobExit::SchedulerDown);
    EXPECT_TRUE(home.InSpool("wait.tvq"));
    ASSERT_EQ(home.Log.Lines.size(), before + 1) << "one line, and no printer taken for missing: "
                                                 << home.Log.Lines[before] << " / " << home.Log.Lines.back();
    EXPECT_EQ(home.Log.Lines.back().rfind("The print system at 127.0.0.1:1 is down since ", 0), 0u)
        << home.Log.Lines.back();
    EXPECT_TRUE(home.S().Outages().IsDown("cups"));
    ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(home.Cups().Port())).c_str(), 1);
}

TEST(ReportJobSequence, AComposedReportIsPrintedPageByPage)
{
    TSpoolHome home;
    ASSERT_TRUE(home.Cups().AddQueue("Laser-A"));
    ASSERT_TRUE(home.Cups().SetDefault("Laser-A"));
    home.Settings.Set("PRINTER1", "Laser-A");
    home.Drop("123.tvq", kReport + "^HV_ORIENTATION~landscape");
    home.TickAndPrint();
    EXPECT_FALSE(home.InSpool("123.tvq"));
    const auto jobs = home.Cups().Jobs("Laser-A", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, "R1 P1 Page 1");
    EXPECT_EQ(TextOfPdf(jobs[0].Data), "Lab SMITH\nTemplate for SMITH\n\f");
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Page size"), "842 x 595 pts (A4)");
    EXPECT_TRUE(home.Log.Has("Selected Landscape paper orientation"));

    // A scan request prints within its tick and is gone at its end.
    home.Drop("scan.tvq", "HV_SCANID~4711^HV_PRINTER~1");
    home.S().SpoolTimerTimer();
    EXPECT_FALSE(home.S().State().SpoolHeld);
    EXPECT_FALSE(home.InSpool("scan.tvq"));
    EXPECT_TRUE(home.Log.Has("Image for 4711 was requested but it was not present"));
    EXPECT_EQ(home.Cups().Jobs("Laser-A", 2).back().Title, "4711");
}
