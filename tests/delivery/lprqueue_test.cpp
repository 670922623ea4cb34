#include "delivery/lprqueue.h"

#include "delivery/rawprinter.h"
#include "util/outages.h"
#include "support/testsupport.h"
#include "util/fileutil.h"
#include "support/recordinglog.h"
#include "support/testsettings.h"

#include <gtest/gtest.h>
#include <QDir>
#include <algorithm>
#include <map>

namespace {

// A queue in temporary folders; the spooler route fails unless a test says otherwise.
struct TQueueHome {
    TTempDir Dir;
    TTestSettings Settings;
    TRecordingLog Log;
    TIndicators Indicators;
    TLprQueue Queue {Settings.Config, Log, Indicators};
    TsbLPD& Lpd = Queue.Lpd;
    TsbprinterFTP& Ftp = Queue.Ftp;
    int Beeps = 0;

    TQueueHome()
    {
        for (const char* sub : {"lpd", "temp", "overlays"})
            EXPECT_TRUE(ForceDir(Dir / sub));
        Settings.Config.LprQueueDir = Dir / "lpd/";
        Settings.Config.TempDir = Dir / "temp/";
        Settings.Config.OverlayDir = Dir / "overlays/";
        Lpd.Pause = [](int) {};  // the conversation's pauses are not under test here
        Queue.Pause = [](int) {};
        Queue.Beep = [this] { ++Beeps; };
        Queue.SendViaSpooler = [](const std::string&) -> TResult<std::string> { return Fail("not installed"); };
    }
    std::string Queued(const std::string& name) const { return Dir / ("lpd/" + name); }
    void Add(const std::string& name, const std::string& bytes) { WriteFile(Queued(name), bytes); }
    void Tick() { Queue.DispatchLprQueue(); }
    std::vector<std::string> TempFiles() const
    {
        std::vector<std::string> names;
        for (const QString& n : QDir(QString::fromStdString(Dir / "temp")).entryList(QDir::Files))
            names.push_back(n.toStdString());
        return names;
    }
};

// What the queue tells its journal, and whether a delivered file was still
// queued when the delivery was recorded.
struct TDeliveryRecords : TDeliveryJournal {
    explicit TDeliveryRecords(TQueueHome& home) : Home(home) { home.Queue.Journal = this; }
    TResult<bool> Delivered(const std::string& file, const std::string& fileId) override
    {
        if (!ReadFailure.empty())
            return FailOutage(ReadFailure);
        return std::find(DeliveredBefore.begin(), DeliveredBefore.end(), file + "|" + fileId) != DeliveredBefore.end();
    }
    void Attempted(const TDeliveryAttempt& attempt) override
    {
        Attempts.push_back(attempt);
        if (attempt.Code == 0)
            QueuedWhenDelivered.push_back(FileExists(Home.Queued(attempt.File)));
    }
    TQueueHome& Home;
    std::vector<TDeliveryAttempt> Attempts;
    std::vector<bool> QueuedWhenDelivered;
    std::vector<std::string> DeliveredBefore;
    std::string ReadFailure;  // the journal cannot be read
};

std::string Peer(const TTempDir& dir, const std::string& out, int n)
{
    const std::string path = dir / (out + "/conn-" + std::to_string(n) + ".bin");
    WaitFor([&] { return FileExists(path); }, 10000);
    return ReadFile(path);
}

// The data file inside a recorded LPD conversation.
std::string DataOf(const std::string& conversation)
{
    const auto header = conversation.find("\x03");
    const auto start = conversation.find('\n', header) + 1;
    return conversation.substr(start, conversation.size() - start - 1);
}

}  // namespace

TEST(LprQueue, AnEmptyQueueDoesNothing)
{
    TQueueHome home;
    home.Indicators.SetLight(TLight::Convert, TLightColor::Green);
    home.Tick();
    EXPECT_EQ(home.Indicators.LPRQueueText(), "0000");
    EXPECT_EQ(home.Indicators.Light(TLight::Convert), TLightColor::Off);
    EXPECT_EQ(home.Indicators.Light(TLight::LPR), TLightColor::Off);
    EXPECT_TRUE(home.Log.Lines.empty());
}

TEST(LprQueue, SpoolerRouteThenLpdWhenThePrinterIsNotInstalled)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    TQueueHome home;
    home.Queue.SendViaSpooler = nullptr;  // the real route through the print system
    home.Settings = {{"PRINTER3", "Laser-A"}, {"PRINTER4", "Not-Installed"}, {"HOSTIP-4", "127.0.0.1"}};
    home.Lpd.Client.Port = peer.Port();
    home.Add("_3_A.prn", "PCL for A");
    home.Add("_4_B.prn", "PCL for B");
    TDeliveryRecords records(home);
    home.Tick();
    // Each route's own line, then where the file went.
    const std::string lpdAt = "127.0.0.1:" + std::to_string(peer.Port());
    EXPECT_EQ(home.Log.Lines, (std::vector<std::string> {"Sent Job via windows Spooler.",
                                                         "_3_A.prn sent raw through CUPS to Laser-A",
                                                         "Sent LPD Job _4_B.prn OK",
                                                         "_4_B.prn sent to " + lpdAt + " by LPD"}));
    EXPECT_EQ(home.Log.Severities, std::vector<TSeverity>(4, TSeverity::Info));
    // Every attempt is recorded, a delivery while its file is still queued.
    ASSERT_EQ(records.Attempts.size(), 3u);
    EXPECT_EQ(records.Attempts[0].Route, "spooler");
    EXPECT_EQ(records.Attempts[0].Host, "Laser-A");
    EXPECT_EQ(records.Attempts[0].Code, 0);
    EXPECT_EQ(records.Attempts[0].Bytes, 9);
    EXPECT_EQ(records.Attempts[1].Route, "spooler");
    EXPECT_EQ(records.Attempts[1].File, "_4_B.prn");
    EXPECT_NE(records.Attempts[1].Code, 0);
    EXPECT_EQ(records.Attempts[2].Route, "lpd");
    EXPECT_EQ(records.Attempts[2].Host + ":" + std::to_string(records.Attempts[2].Port), lpdAt);
    EXPECT_EQ(records.Attempts[2].Code, 0);
    EXPECT_EQ(records.QueuedWhenDelivered, (std::vector<bool> {true, true}));
    EXPECT_TRUE(home.Queue.LprQueueFiles.empty());
    EXPECT_FALSE(FileExists(home.Queued("_3_A.prn")));
    EXPECT_FALSE(FileExists(home.Queued("_4_B.prn")));
    EXPECT_TRUE(home.TempFiles().empty());  // prepared copies and the FTP copy are gone
    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-A") + "job-1.data"); }, 10000));
    EXPECT_EQ(ReadFile(cups.OutDir("Laser-A") + "job-1.data"), "PCL for A");
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 1)), "PCL for B");
}

TEST(LprQueue, AFileDeliveredBeforeACrashIsNotSentAgain)
{
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    TQueueHome home;
    home.Settings = {{"HOSTIP-3", "127.0.0.1"}};
    home.Lpd.Client.Port = peer.Port();
    TDeliveryRecords records(home);
    home.Add("_3_A.prn", "sent before the crash");
    home.Add("_3_B.prn", "a file of the same name, anew");
    records.DeliveredBefore = {"_3_A.prn|" + FileIdentity(home.Queued("_3_A.prn")), "_3_B.prn|0:0:0.0"};
    home.Tick();
    EXPECT_TRUE(home.Log.Has("The queued file _3_A.prn was delivered before; it is removed without being sent again."));
    EXPECT_FALSE(FileExists(home.Queued("_3_A.prn")));
    EXPECT_TRUE(home.Log.Has("Sent LPD Job _3_B.prn OK"));
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 1)), "a file of the same name, anew");
    EXPECT_FALSE(FileExists(peerDir / "out/conn-2.bin")) << "one LPD job only";

    // A journal that cannot say is no "not delivered": the file waits.
    records.ReadFailure = "database is locked";
    home.Add("_3_C.prn", "perhaps sent before the crash");
    home.Tick();
    EXPECT_TRUE(home.Log.Has("The queued file _3_C.prn stays queued: the journal cannot say whether it was "
                             "delivered before: database is locked"));
    EXPECT_TRUE(FileExists(home.Queued("_3_C.prn")));
    records.ReadFailure.clear();
    home.Tick();
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 2)), "perhaps sent before the crash");
    EXPECT_FALSE(FileExists(home.Queued("_3_C.prn")));
}

TEST(LprQueue, RepeatedFailuresAreRecordedOnceAnHour)
{
    TQueueHome home;
    home.Settings = {{"HOSTIP-3", "127.0.0.1"}};
    home.Lpd.Client.Port = ClosedPort();
    TDeliveryRecords records(home);
    home.Add("_3_A.prn", "x");
    for (int round = 0; round < 4; ++round)
        home.Tick();
    // One attempt a round on a printer that does not answer: one record per route.
    EXPECT_EQ(home.Log.Count("LPD Print result was -3 -3 Could not connect to Printer."), 4);
    ASSERT_EQ(records.Attempts.size(), 2u);
    EXPECT_EQ(records.Attempts[0].Route, "spooler");
    EXPECT_EQ(records.Attempts[1].Route, "lpd");
    EXPECT_EQ(records.Attempts[1].Code, -3);
    EXPECT_NE(records.Attempts[1].Detail.find("Connection refused"), std::string::npos) << records.Attempts[1].Detail;
}

// Printer 3's host refuses; printer 4 takes its files. Printer 3 holds only
// its own files, in their order; its failure is logged when it begins and
// when it ends, and counted in between.
TEST(LprQueue, APrinterThatCannotBeReachedHoldsOnlyItsOwnFiles)
{
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    TQueueHome home;
    std::int64_t clock = 1'800'000'000'000;
    TOutageBoard board(home.Log);
    board.Now = [&] { return clock; };
    home.Queue.Outages = &board;
    // The peer listens on 127.0.0.1 only: 127.0.0.2 refuses on the same port.
    home.Settings = {{"HOSTIP-3", "127.0.0.2"}, {"HOSTIP-4", "127.0.0.1"}};
    home.Lpd.Client.Port = peer.Port();
    home.Add("_3_a.prn", "A");
    home.Add("_3_b.prn", "B");
    home.Add("_4_c.prn", "C");
    home.Add("_4_d.prn", "D");
    home.Tick();
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 1)), "C");
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 2)), "D");
    EXPECT_TRUE(FileExists(home.Queued("_3_a.prn")) && FileExists(home.Queued("_3_b.prn")));
    const std::string failure = "LPD Print result was -3 -3 Could not connect to Printer.";
    EXPECT_EQ(home.Log.Count(failure), 1);
    EXPECT_EQ(home.Log.SeverityOf(failure), TSeverity::Error);
    EXPECT_EQ(home.Log.SeverityOf("Sent LPD Job _4_c.prn OK"), TSeverity::Info);
    EXPECT_EQ(home.Log.CountStarting("Printer 3 (127.0.0.2) of the LPR queue is down since "), 1);
    EXPECT_EQ(home.Log.SeverityOf("Printer 3 (127.0.0.2) of the LPR queue is down since "), TSeverity::Error);
    ASSERT_TRUE(board.IsDown(TLprQueue::OutageKey("3")));

    // Not tried before its next try is due; tried then, and only counted.
    home.Tick();
    clock += 5000;
    home.Tick();
    clock += 10000;
    home.Tick();
    EXPECT_EQ(home.Log.Count(failure), 1);
    EXPECT_EQ(board.Find(TLprQueue::OutageKey("3"))->Failures, 3);
    EXPECT_FALSE(FileExists(peerDir / "out/conn-3.bin"));

    // Its host back: its files go in their order, and the end is logged.
    home.Settings.Set("HOSTIP-3", "127.0.0.1");
    clock += 20000;
    home.Tick();
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 3)), "A");
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 4)), "B");
    EXPECT_FALSE(board.IsDown(TLprQueue::OutageKey("3")));
    EXPECT_EQ(home.Log.CountStarting("Printer 3 (127.0.0.2) of the LPR queue works again after 35 s"), 1);
    EXPECT_EQ(home.Log.SeverityOf("Printer 3 (127.0.0.2) of the LPR queue works again after "), TSeverity::Info);
    EXPECT_TRUE(home.Queue.LprQueueFiles.empty());
}

TEST(LprQueue, APrinterWithoutAHostIsReportedAndBeepedOnceWhileItLasts)
{
    TQueueHome home;
    std::int64_t clock = 1'800'000'000'000;
    TOutageBoard board(home.Log);
    board.Now = [&] { return clock; };
    home.Queue.Outages = &board;
    home.Add("_3_A.prn", "x");
    for (int round = 0; round < 6; ++round) {
        home.Tick();
        clock += 61000;
    }
    EXPECT_EQ(home.Log.Count("NO IP address assigned for Printer 3 with Overlay Request"), 1);
    EXPECT_EQ(home.Beeps, 1);
    EXPECT_EQ(board.Find(TLprQueue::OutageKey("3"))->Failures, 6);
    EXPECT_TRUE(FileExists(home.Queued("_3_A.prn")));

    // Its file taken away by hand: nothing waits for the printer any more.
    ASSERT_TRUE(DeleteFileAt(home.Queued("_3_A.prn")));
    home.Tick();
    EXPECT_FALSE(board.IsDown(TLprQueue::OutageKey("3")));
    EXPECT_EQ(home.Log.CountStarting("Printer 3 of the LPR queue is not watched any more"), 1) << home.Log.Lines.back();
}

TEST(LprQueue, FailoverOnlyForLpdFailuresBelowMinusThree)
{
    TTempDir peers;
    TPeerProcess raw("raw-listener.py", {"keep", peers / "raw"});
    TPeerProcess refusing("lpd-peer.py", {"refuse-data", peers / "lpd"});
    struct Case {
        const char* failover;
        bool lpdReachable;
        bool ftpTried;
    };
    for (const Case c : {Case {"true", true, true}, Case {"no", true, false}, Case {"T", false, false}}) {
        TQueueHome home;
        home.Settings = {{"HOSTIP-3", "127.0.0.1"}, {"FTPFAILOVER", c.failover}};
        home.Lpd.Client.Port = c.lpdReachable ? refusing.Port() : ClosedPort();
        home.Ftp.RawPort = raw.Port();
        home.Ftp.Ftp.Port = ClosedPort();
        home.Add("_3_A.prn", "PCL");
        home.Tick();
        // The refusal is read at the data command, or at the data's end when it comes late.
        const int lpdLines = c.lpdReachable ? home.Log.Count("LPD Print result was -105 \x01") +
                                                  home.Log.Count("LPD Print result was -107 \x01")
                                            : home.Log.Count("LPD Print result was -3 -3 Could not connect to Printer.");
        EXPECT_GE(lpdLines, 1) << c.failover;
        const std::string where = "LPD to 127.0.0.1:" + std::to_string(home.Lpd.Client.Port) + ": ";
        EXPECT_GE(home.Log.CountStarting(where + (c.lpdReachable ? "the printer refused the data file"
                                                                 : "Socket Error #10061: Connection refused.")),
                  1)
            << c.failover;
        EXPECT_EQ(home.Log.Count("Sent FTP Job _3_A.prn OK"), c.ftpTried ? 1 : 0) << c.failover;
        EXPECT_EQ(home.Log.Count("_3_A.prn sent to 127.0.0.1:" + std::to_string(raw.Port()) + " raw"), c.ftpTried ? 1 : 0);
        EXPECT_EQ(FileExists(home.Queued("_3_A.prn")), !c.ftpTried) << c.failover;
        EXPECT_TRUE(home.TempFiles().size() <= 1u) << c.failover;  // at most the prepared copy of a kept file
        for (const std::string& name : home.TempFiles())
            EXPECT_EQ(name.find("ftpprnfile"), std::string::npos) << name;
    }
    // The listener writes what it got once the connection ends, in its own time.
    EXPECT_TRUE(WaitFor([&] { return ReadFile(peers / "raw/raw-1.bin") == "PCL"; }, 10000))
        << ReadFile(peers / "raw/raw-1.bin");
}

TEST(LprQueue, FiveAttemptsATickAndALaterFileJoinsBehindTheOthers)
{
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    TQueueHome home;
    home.Settings = {{"HOSTIP-3", "127.0.0.1"}};
    home.Lpd.Client.Port = peer.Port();
    for (int i = 1; i <= 6; ++i)
        home.Add("_3_" + std::to_string(i) + ".prn", "file " + std::to_string(i));
    home.Tick();
    EXPECT_EQ(home.Indicators.LPRQueueText(), "0006");
    EXPECT_EQ(home.Queue.LprQueueFiles.size(), 1u);
    EXPECT_FALSE(FileExists(peerDir / "out/conn-6.bin"));
    home.Add("_3_7.prn", "late");
    home.Tick();
    EXPECT_EQ(home.Indicators.LPRQueueText(), "0002");
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 6)), "file 6");
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 7)), "late");
    EXPECT_TRUE(home.Queue.LprQueueFiles.empty());
}

TEST(LprQueue, OverlaysReachThePrinter)
{
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    TQueueHome home;
    home.Settings = {{"HOSTIP-3", "127.0.0.1"}};
    home.Lpd.Client.Port = peer.Port();
    const std::string esc = "\x1b";
    const std::string page = "SET" + esc + "*p0x0Y" + "PAGE" + esc + "*p6815Y" + "\x0c" + esc + "E";
    WriteFile(home.Dir / "overlays/FORM1.prn", "OSET" + esc + "*p0x0Y" + "FORM" + "\x0c" + esc + "E" + "OEND");
    home.Add("7_3_r.tvq-1.prn", page);
    home.Add("ABC_3_x.prn", page);
    home.Add("FORM1.prn_3_r.tvq-2.prn", page);
    home.Tick();
    ASSERT_TRUE(home.Queue.LprQueueFiles.empty()) << home.Log.Lines.back();
    // Sorted as text: 7_..., ABC_..., FORM1.prn_...
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 1)),
              "SET" + esc + "*p0x0Y" + "PAGE" + esc + "&f7Y" + esc + "&f3X" + esc + "*p6815Y" + "\x0c" + esc + "E");
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 2)), page);  // no overlay file ABC: unchanged
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 3)),
              "OSET" + esc + "*p0x0Y" + "PAGE" + esc + "*p6815Y" + esc + "*p0x0Y" + "FORM" + "\x0c" + esc + "EOEND");
}

TEST(LprQueue, AJobThatDidNotArriveWholeStaysQueued)
{
    // A printer that closes halfway, one that resets halfway, and one that
    // never reads (the transfer times out): the file waits for the next tick.
    for (const char* mode : {"drop-data", "reset-data", "no-read"}) {
        SCOPED_TRACE(mode);
        TTempDir peerDir;
        TPeerProcess printer("lpd-peer.py", {mode, peerDir / "out"});
        TQueueHome home;
        home.Settings = {{"HOSTIP-3", "127.0.0.1"}};
        home.Lpd.Client.Port = printer.Port();
        home.Lpd.Client.TransferTimeoutMs = 300;  // five attempts per tick
        home.Lpd.FirstAckWaitMs = 100;
        home.Add("_3_big.prn", std::string(std::string(mode) == "no-read" ? 16 << 20 : 3000000, 'z'));
        home.Tick();
        EXPECT_TRUE(FileExists(home.Queued("_3_big.prn")));
        EXPECT_EQ(home.Queue.LprQueueFiles.size(), 1u);
        EXPECT_EQ(home.Log.Count("Sent LPD Job _3_big.prn OK"), 0);
        bool said = false;
        for (const std::string& line : home.Log.Lines)
            said = said || line.rfind("LPD to 127.0.0.1:" + std::to_string(printer.Port()) + ": ", 0) == 0;
        EXPECT_TRUE(said) << "where and why";
        for (const std::string& name : home.TempFiles())
            EXPECT_EQ(name.find("ftpprnfile"), std::string::npos) << name;
    }
}

TEST(LprQueue, ASilentPrinterThatClosesAfterTheJobGetsItOnce)
{
    TTempDir peerDir;
    TPeerProcess closing("lpd-peer.py", {"silent-close", peerDir / "out"});
    TQueueHome home;
    home.Settings = {{"HOSTIP-3", "127.0.0.1"}};
    home.Lpd.Client.Port = closing.Port();
    home.Add("_3_once.prn", "ONE REPORT");
    home.Tick();
    home.Tick();
    EXPECT_EQ(home.Log.Count("Sent LPD Job _3_once.prn OK"), 1);
    EXPECT_FALSE(FileExists(home.Queued("_3_once.prn")));
    EXPECT_EQ(DataOf(Peer(peerDir, "out", 1)), "ONE REPORT");
    EXPECT_FALSE(FileExists(peerDir / "out/conn-2.bin")) << "sent once";
}
