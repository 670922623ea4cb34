#include "delivery/rawprinter.h"
#include "platform/printing/rawjob.h"

#include "support/testsettings.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <gtest/gtest.h>
#include <map>

namespace {

struct TSpoolerSetup {
    TCupsPeer Cups;
    TTempDir Dir;
    TTestSettings Settings;
    bool Ready = false;

    TSpoolerSetup()
    {
        Ready = Cups.Started() && Cups.AddQueue("Laser-A") && Cups.AddQueue("Default-Q") && Cups.SetDefault("Default-Q");
    }
    bool Send(const std::string& name, const std::string& bytes)
    {
        WriteFile(Dir / name, bytes);
        return SendViaSpooler(Dir / name, Settings.Config).Ok();
    }
    std::string Job(const std::string& queue, int n, const char* kind) const
    {
        const std::string path = Cups.OutDir(queue) + "job-" + std::to_string(n) + "." + kind;
        WaitFor([&] { return FileExists(path); }, 10000);
        return ReadFile(path);
    }
};

}  // namespace

TEST(RawSpooler, ARawJobArrivesByteExactTitledWithTheFileName)
{
    TSpoolerSetup s;
    ASSERT_TRUE(s.Ready);
    s.Settings.Set("PRINTER3", "Laser-A|spare");
    std::string pcl = "\x1b" "E";
    for (int i = 0; i < 256; ++i)
        pcl += static_cast<char>(i);
    pcl += std::string(70000, '\0') + "\x0c\x1b" "E";
    ASSERT_TRUE(s.Send("_3_LAB123.prn", pcl));
    EXPECT_EQ(s.Job("Laser-A", 1, "data"), pcl);
    EXPECT_NE(s.Job("Laser-A", 1, "info").find("title=_3_LAB123.prn"), std::string::npos);
}

TEST(RawSpooler, NoPrinterEntryGoesToTheDefaultAndAnUnknownQueueFails)
{
    TSpoolerSetup s;
    ASSERT_TRUE(s.Ready);
    ASSERT_TRUE(s.Send("_abc.prn", "PCL"));  // the number abc.prn has no entry
    EXPECT_EQ(s.Job("Default-Q", 1, "data"), "PCL");

    s.Settings.Set("PRINTER4", "Not-Installed");
    EXPECT_FALSE(s.Send("_4_x.prn", "PCL"));
    EXPECT_FALSE(SendViaSpooler(s.Dir / "missing.prn", s.Settings.Config));
    // The route says which printer took the file: the entry's, else the default.
    EXPECT_EQ(*SendViaSpooler((s.Dir / "_abc.prn"), s.Settings.Config), "Default-Q");
    s.Settings.Set("PRINTER5", "laser-a");
    WriteFile(s.Dir / "_5_y.prn", "PCL");
    EXPECT_EQ(*SendViaSpooler(s.Dir / "_5_y.prn", s.Settings.Config), "Laser-A");

    TRAWPrinter printer;
    printer.PrinterName = "Laser-A";
    printer.DocumentTitle = "states";
    ASSERT_TRUE(printer.BeginDoc());
    EXPECT_EQ(printer.State(), TRAWPrinter::TState::PageStarted);
    EXPECT_TRUE(printer.AbortDoc());
    EXPECT_EQ(printer.State(), TRAWPrinter::TState::Closed);
}

// An empty printer file is no job: it fails for good, saying so, and the
// scheduler never makes a job of it (the next file is its first job).
TEST(RawSpooler, AnEmptyFileFailsWithoutAJobReachingTheScheduler)
{
    TSpoolerSetup s;
    ASSERT_TRUE(s.Ready);
    s.Settings.Set("PRINTER3", "Laser-A");
    WriteFile(s.Dir / "_3_empty.prn", "");
    const TResult<std::string> sent = SendViaSpooler(s.Dir / "_3_empty.prn", s.Settings.Config);
    ASSERT_FALSE(sent);
    EXPECT_EQ(sent.Kind(), TFailureKind::Final);
    EXPECT_EQ(sent.Reason(), "the printer file " + (s.Dir / "_3_empty.prn") + " is empty");
    ASSERT_TRUE(s.Send("_3_next.prn", "PCL"));
    const std::vector<TCapturedJob> jobs = s.Cups.Jobs("Laser-A", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Id, 1);
    EXPECT_EQ(jobs[0].Title, "_3_next.prn");
}
