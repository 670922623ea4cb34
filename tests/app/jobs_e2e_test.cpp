// The whole loop with real peers: requests and printer files dropped into a
// spool folder, taken by the server's ticks, printed on a private CUPS
// scheduler, saved as PDF, or delivered by LPD; and a server killed between
// intake and output that loses no request.
#include "app/serverfixture.h"
#include "platform/printing/pclraster.h"
#include "support/readrows.h"
#include "support/regfiles.h"
#include "util/fileutil.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <map>

namespace {

const std::string kRequest =
    "HV_TEMPLATE~LH^HV_REQCODE~R1^HV_PROCCODE~P1^HV_PATSUR~SMITH^HV_PATGIVEN~JANE^HV_VALIDATED~DR WHO";

struct TJobsHome : TTestHome {
    TJobsHome()
    {
        WriteFile(Dir / "tags.txt", "3|PATSUR\r\n4|PATGIVEN\r\n");
        WriteFile(Dir / "templates/LH.doc",
                  "{\\rtf1{\\header Pathology Laboratory <<PATSUR>>\\par}\\paperw11906\\paperh16838 x\\par}");
        WriteFile(Dir / "templates/P1.tpl", "{\\rtf1 Result for <<PATSUR>>, <<PATGIVEN>>: no abnormality.\\par}");
        WriteFile(Dir / "printerdriverdata.reg",
                  "REGEDIT4\r\n\r\n" + PrinterKey("Lexmark-T640") + "\"MANUFACTURER\"=\"Lexmark\"\r\n\"Macro\"=hex:" +
                      RegHex(MacroRecords({{5, "PATHFORM"}})) + "\r\n\r\n" + PrinterKey("HP-Laser") +
                      "\"HPDUMMY\"=\"\"\r\n");
    }
    std::unique_ptr<TPrintServer> Start(const std::string& printers)
    {
        WriteSettings(Critical() + printers);
        auto server = std::make_unique<TPrintServer>(Dir.Path());
        server->SetPrompts(Prompts);
        EXPECT_TRUE(server->StartUp());
        return server;
    }
    void Drop(const std::string& name, const std::string& text) { WriteFile(Dir / ("spool/" + name), text); }
    // Ticks as the timers would run them, until the spool folder is empty.
    static void RunTicks(TPrintServer& server, int ticks)
    {
        for (int i = 0; i < ticks; ++i) {
            server.Pipeline().SpoolTimerTimer();
            if (server.Pipeline().State().PrintPending)
                server.Pipeline().printingtimerTimer();
        }
    }
};

}  // namespace

TEST(JobsEndToEnd, DroppedRequestsBecomeCupsJobsWithTheirSettings)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Lab-Laser", "-m drv:///sample.drv/generpcl.ppd"));
    ASSERT_TRUE(cups.AddQueue("Lexmark-T640"));
    ASSERT_TRUE(cups.SetDefault("Lab-Laser"));
    TJobsHome home;
    auto server = home.Start("PRINTER1=Lab-Laser\r\nPRINTER2=Lexmark-T640\r\n");
    home.Drop("a.tvq", kRequest + "^HV_PRINTER~1^HV_PAPERTRAY~Tray 2^HV_PAPERSIZE~Letter");
    home.Drop("b.tvq", kRequest + "^HV_PRINTER~2^HV_PMASK~5^HV_REQCODE~R2");
    TJobsHome::RunTicks(*server, 3);

    const auto laser = cups.Jobs("Lab-Laser", 1);
    ASSERT_EQ(laser.size(), 1u);
    EXPECT_EQ(laser[0].Title, "R1 P1 Page 1");
    EXPECT_TRUE(laser[0].HasOption("media=na_letter_8.5x11in")) << laser[0].Options;
    EXPECT_TRUE(laser[0].HasOption("InputSlot=Tray2"));
    EXPECT_NE(laser[0].Data.find("\x1b&l1H"), std::string::npos) << "the driver picked tray 2";

    const auto lexmark = cups.Jobs("Lexmark-T640", 1);
    ASSERT_EQ(lexmark.size(), 1u);
    EXPECT_EQ(lexmark[0].Title, "R2 P1 Page 1");
    EXPECT_TRUE(lexmark[0].HasOption("overlay-first-page=PATHFORM")) << lexmark[0].Options;
    EXPECT_TRUE(lexmark[0].HasOption("overlay-other-pages=PATHFORM"));
    const std::string text = TextOfPdf(lexmark[0].Data);
    EXPECT_NE(text.find("Pathology Laboratory SMITH"), std::string::npos) << text;
    EXPECT_NE(text.find("Result for SMITH, JANE: no abnormality."), std::string::npos) << text;

    EXPECT_TRUE(QDir(QString::fromStdString(home.Dir / "spool")).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(home.LogHas(*server, "Found file a.tvq"));
    EXPECT_TRUE(home.LogHas(*server, "Overriding Paper size to Letter"));
}

TEST(JobsEndToEnd, HpOverlayPagesAndPrinterFilesReachThePrinterByLpd)
{
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    ASSERT_GT(peer.Port(), 0);
    TCupsPeer cups;  // has a queue for the HP-marked printer, but not for printer 3
    ASSERT_TRUE(cups.Started() && cups.AddQueue("HP-Laser") && cups.SetDefault("HP-Laser"));
    TJobsHome home;
    auto server =
        home.Start("PRINTER1=HP-Laser\r\nPRINTER3=Not-Installed\r\nHOSTIP-3=127.0.0.1\r\nHOSTIP-1=127.0.0.1\r\n");
    server->Pipeline().LprQueue().Lpd.Client.Port = peer.Port();
    server->Pipeline().LprQueue().Lpd.Pause = [](int) {};
    home.Drop("3_LAB123.prn", "\x1b" "E printer file from the laboratory");
    TJobsHome::RunTicks(*server, 2);  // taken, then delivered at the next tick
    EXPECT_TRUE(home.LogHas(*server, "Sent LPD Job _3_LAB123.prn OK")) << ReadFile(home.Dir / "spoolerLog.txt");
    ASSERT_TRUE(WaitFor([&] { return FileExists(peerDir / "out/conn-1.bin"); }, 10000));
    EXPECT_NE(ReadFile(peerDir / "out/conn-1.bin").find("\x1b" "E printer file from the laboratory"),
              std::string::npos);

    // A report with an HP overlay becomes a page file; the LPR queue applies
    // the macro call and hands it to the print system's queue of printer 1.
    home.Drop("77.tvq", kRequest + "^HV_PRINTER~1^HV_PMASK~12");
    TJobsHome::RunTicks(*server, 2);
    const auto jobs = cups.Jobs("HP-Laser", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, "12_1_77.tvq-1.prn");
    EXPECT_NE(jobs[0].Data.find("\x1b&f12Y\x1b&f3X\x1b*p6815Y"), std::string::npos);
    const auto pages = DecodePclRaster(jobs[0].Data);
    ASSERT_EQ(pages.size(), 1u);

    // An overlay printer file and no PMASK: the page is merged with the
    // overlay by the LPR queue.
    EXPECT_TRUE(ForceDir(home.Dir / "overlays"));
    WriteFile(home.Dir / "overlays/FORM1.prn", "\x1b" "E\x1b&l26A<overlay head>\x1b*p0x0Y<overlay body>\x0c\x1b" "E");
    server->Page().OverlayDirectory = home.Dir / "overlays";
    server->OverlayEditChange();
    server->UpdateButtonClick();
    home.Drop("88.tvq", kRequest + "^HV_PRINTER~1^HV_PRNFILENAME~FORM1");
    TJobsHome::RunTicks(*server, 2);
    const auto merged = cups.Jobs("HP-Laser", 2);
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[1].Title, "FORM1.prn_1_88.tvq-1.prn");
    const std::string& data = merged[1].Data;
    EXPECT_EQ(data.rfind("\x1b" "E\x1b&l26A<overlay head>\x1b*p0x0Y\x1b*p6815Y", 0), 0u);
    EXPECT_NE(data.find("\x1b*p0x0Y<overlay body>\x0c\x1b" "E"), std::string::npos);
    const auto mergedPages = DecodePclRaster(data);
    ASSERT_EQ(mergedPages.size(), 1u);
    EXPECT_TRUE(QDir(QString::fromStdString(home.Dir / "lpdspooler")).entryList(QDir::Files).isEmpty());
}

// The template author's preview names exactly what the server then outputs,
// and changes nothing in the home.
// A job whose output cannot be written: its lines are errors in the log's
// entries (what the status page and the journal get), the news around them
// is news, and what another job went on without is a warning.
TEST(JobsEndToEnd, AFailingJobsLinesAreErrorsInTheLog)
{
    TJobsHome home;
    auto server = home.Start("PRINTER1=Lab-Laser\r\nJOBRETRIES=2\r\nJOBRETRYDELAY=0\r\n");
    const std::string unwritable = home.Dir / "results/missing/F1.pdf";
    home.Drop("f1.tvq", kRequest + "^HV_REQCODE~F1^HV_PDFDOC~" + unwritable);
    home.Drop("w1.tvq", "HV_TEMPLATE~NOLH^HV_REQCODE~W1^HV_PROCCODE~P1^HV_PATSUR~SMITH^HV_PDFDOC~" +
                            (home.Dir / "results/W1.pdf"));
    TJobsHome::RunTicks(*server, 6);
    const auto logText = [&] {
        std::string text;
        for (const TEventLog::TEntry& entry : server->Log().Entries())
            text += entry.Line + "\n";
        return text;
    };
    ASSERT_TRUE(FileExists(home.Dir / "spool/failed/f1.tvq")) << logText();
    ASSERT_TRUE(FileExists(home.Dir / "results/W1.pdf")) << logText();

    const struct {
        std::string start;  // of the line, after its stamp
        int priority;
    } rows[] = {
        {"Found file f1.tvq", TEventLog::kInfo},
        // The print system does not answer here; a document only saved has no use for a printer.
        {"No default printer!", TEventLog::kInfo},
        {"PDF Document creation FAILED \"" + unwritable + "\"", TEventLog::kErr},
        {"Could not save " + unwritable + ": ", TEventLog::kErr},
        {"Spooler file f1.tvq stays in the spool folder; attempt 2 of 2 at ", TEventLog::kInfo},
        {"Spooler file f1.tvq failed after 2 attempt(s): ", TEventLog::kErr},
        {"Found file w1.tvq", TEventLog::kInfo},
        {"Could not load a Letterhead for this template NOLH", TEventLog::kWarning},
        {"PDF Document created as \"" + (home.Dir / "results/W1.pdf") + "\"", TEventLog::kInfo},
    };
    for (const auto& row : rows) {
        int found = 0;
        for (const TEventLog::TEntry& entry : server->Log().Entries()) {
            const std::string line = entry.Line.substr(entry.Line.find('>') + 1);
            if (!line.starts_with(row.start))
                continue;
            ++found;
            EXPECT_EQ(entry.Priority, row.priority) << line;
        }
        EXPECT_GT(found, 0) << row.start << "\n" << logText();
    }
    // Only a warning is kept with its job.
    for (const TJobRow& job : Read(server->Pipeline().Journal().Jobs({})))
        EXPECT_EQ(job.Warnings, job.SpoolFile == "w1.tvq" ? 1 : 0) << job.SpoolFile;
}

TEST(JobsEndToEnd, RenderNamesWhatTheServerOutputs)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("HP-Laser") && cups.AddQueue("Lexmark-T640") &&
                cups.SetDefault("HP-Laser"));
    TJobsHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=HP-Laser\r\nPRINTER2=Lexmark-T640\r\n");
    const std::string pdf = home.Dir / "results/R3.pdf";
    const std::pair<std::string, std::string> requests[] = {
        {"a.tvq", kRequest + "^HV_PRINTER~2^HV_PMASK~5"},              // Lexmark overlay: printed
        {"b.tvq", kRequest + "^HV_PRINTER~1^HV_PMASK~12^HV_REQCODE~R2"},  // HP mark: a page file
        {"c.tvq", kRequest + "^HV_REQCODE~R3^HV_PDFDOC~" + pdf},
    };
    ASSERT_TRUE(ForceDir(home.Dir / "results") && ForceDir(home.Dir / "lpdspooler"));
    const auto listing = [&] {
        QStringList files;
        QDirIterator it(QString::fromStdString(home.Dir.Path()), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        return files;
    };
    TTempDir outside;
    std::map<std::string, std::string> rendered;
    const QStringList before = listing();
    for (const auto& [name, text] : requests) {
        WriteFile(outside / name, text);
        const TProgramRun run =
            RunProgram("printorb-tool", {"render", outside / name, outside / (name + ".pdf"), "--home", home.Dir.Path()});
        ASSERT_EQ(run.Status, 0) << name << run.Err;
        rendered[name] = run.Out;
    }
    EXPECT_EQ(listing(), before);

    auto server = home.Start("PRINTER1=HP-Laser\r\nPRINTER2=Lexmark-T640\r\n");
    for (const auto& [name, text] : requests)
        home.Drop(name, text);
    TJobsHome::RunTicks(*server, 4);
    for (const auto& [name, text] : requests) {
        TJournal& journal = server->Pipeline().Journal();
        std::optional<TJobRow> job;
        for (const TJobRow& row : Read(journal.Jobs({})))
            if (row.SpoolFile == name)
                job = row;
        ASSERT_TRUE(job) << name;
        EXPECT_EQ(job->State, TJobState::Done) << name;
        std::string outputs;
        for (const TOutputRow& output : Read(journal.Outputs(job->Id)))
            if (output.Kind == "cups")
                outputs += "printed on " + output.Printer + " (1 page)\n";
            else if (output.Kind == "page file" || output.Kind == "document")
                outputs += output.Path + "\n";
        EXPECT_EQ(rendered[name], outputs) << name;
    }
    EXPECT_EQ(rendered["c.tvq"], pdf + "\n");
    EXPECT_EQ(rendered["b.tvq"], home.Dir / "lpdspooler/12_1_b.tvq-1.prn\n");
}

// The unattended program, as the service runs it.
TEST(JobsEndToEnd, AKilledServerLosesNoRequest)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TJobsHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=Laser-A\r\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PRINTORB_HOME", QString::fromStdString(home.Dir.Path()));
    auto logHas = [&](const std::string& text) {
        return ReadFile(home.Dir / "spoolerLog.txt").find(text) != std::string::npos;
    };
    auto run = [&](QProcess& process) {
        process.setProcessEnvironment(env);
        process.start(QString::fromStdString(BinaryDir() + "/bin/printorbd"), {});
        return process.waitForStarted(5000);
    };

    // Killed right after taking the saved request, and while the printed one
    // waits for its print run.
    home.Drop("a.tvq", kRequest + "^HV_PRINTER~1^HV_PDFDOC~" + (home.Dir / "results/Smith.pdf"));
    home.Drop("b.tvq", kRequest + "^HV_PRINTER~1^HV_REQCODE~R2");
    for (const std::string found : {"Found file a.tvq", "Found file b.tvq"}) {
        QProcess server;
        ASSERT_TRUE(run(server));
        ASSERT_TRUE(WaitFor([&] { return logHas(found); }, 20000)) << found;
        ::kill(static_cast<pid_t>(server.processId()), SIGKILL);
        server.waitForFinished(5000);
        EXPECT_TRUE(FileExists(home.Dir / ("spool/" + found.substr(11)))) << found;
        // The next start takes it again.
        WriteFile(home.Dir / "spoolerLog.txt", "");
    }
    QProcess server;
    ASSERT_TRUE(run(server));
    ASSERT_TRUE(WaitFor(
        [&] {
            return QDir(QString::fromStdString(home.Dir / "spool")).entryList({"*.tvq"}, QDir::Files).isEmpty();
        },
        30000))
        << ReadFile(home.Dir / "spoolerLog.txt");
    server.terminate();
    server.waitForFinished(5000);
    EXPECT_EQ(ReadFile(home.Dir / "results/Smith.pdf").substr(0, 4), "%PDF");
    bool printed = false;
    for (const TCapturedJob& job : cups.Jobs("Laser-A", 1))
        printed = printed || job.Title == "R2 P1 Page 1";
    EXPECT_TRUE(printed);
}
