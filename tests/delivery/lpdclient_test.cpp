#include "delivery/lpdclient.h"

#include "support/testsupport.h"
#include "util/fileutil.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

const std::string kHostPart = "printorb.tovaorb.local";

TResult<TLpdResult> Deliver(TsbLPD& lpd, int port, const std::string& queue, const std::string& data)
{
    lpd.NextJob();
    lpd.Client.Port = port;
    std::istringstream stream(data);
    return lpd.Send("127.0.0.1", queue, "printorb", "printorb", "tovaorb.local", stream);
}

// The delivery's code; an exchange broken off by a socket error fails the test.
int SendTo(TsbLPD& lpd, int port, const std::string& queue, const std::string& data)
{
    const TResult<TLpdResult> sent = Deliver(lpd, port, queue, data);
    if (!sent) {
        ADD_FAILURE() << "broken off: " << sent.Reason();
        return 1;
    }
    return Code(*sent);
}

std::string Received(const TTempDir& dir, int n = 1)
{
    const std::string path = dir / ("out/conn-" + std::to_string(n) + ".bin");
    WaitFor([&] { return FileExists(path); }, 10000);
    return ReadFile(path);
}

}  // namespace

TEST(LpdClient, ThePrinterReceivesTheExactConversation)
{
    TTempDir dir;
    TPeerProcess peer("lpd-peer.py", {"ok", dir / "out"});
    ASSERT_GT(peer.Port(), 0);
    TsbLPD lpd;
    const std::string data = "\x1b" "E PCL page data \x0c";
    EXPECT_EQ(SendTo(lpd, peer.Port(), "", data), 0);
    EXPECT_EQ(lpd.StatusText, "+OK");
    const std::string control = "H" + kHostPart + "\nPprintorb\nfdfA001" + kHostPart + "\nUdfA001" + kHostPart + "\n";
    EXPECT_EQ(lpd.ControlText, control);
    const std::string expected = std::string("\x02\n") + "\x02" + std::to_string(control.size()) + " cfA001" + kHostPart +
                                 "\n" + control + std::string(1, '\0') + "\x03" + std::to_string(data.size()) +
                                 " dfA001" + kHostPart + "\n" + data + std::string(1, '\0');
    EXPECT_EQ(Received(dir), expected);
    EXPECT_FALSE(lpd.Client.Connected());
}

TEST(LpdClient, SilenceCountsAsSuccessAndRefusalsAreReported)
{
    TTempDir dir;
    TPeerProcess silent("lpd-peer.py", {"silent", dir / "silent"});
    TsbLPD lpd;
    EXPECT_EQ(SendTo(lpd, silent.Port(), "", "data"), 0);
    EXPECT_EQ(lpd.StatusText, "+OK");

    TPeerProcess refusing("lpd-peer.py", {"refuse-data", dir / "refuse"});
    EXPECT_EQ(SendTo(lpd, refusing.Port(), "", "data"), -105);
    EXPECT_EQ(lpd.StatusText, std::string(1, '\x01'));

    int closedPort;
    {
        TListener gone;
        closedPort = gone.Port();
    }
    EXPECT_EQ(SendTo(lpd, closedPort, "", "data"), -3);
    EXPECT_EQ(lpd.StatusText, "-3 Could not connect to Printer.");
    EXPECT_EQ(lpd.Detail.rfind("127.0.0.1:" + std::to_string(closedPort) + ": Socket Error #10061: Connection refused.", 0), 0u)
        << lpd.Detail;
}

TEST(LpdClient, ADroppedConnectionMidTransferIsAFailure)
{
    TTempDir dir;
    TPeerProcess dropping("lpd-peer.py", {"drop-data", dir / "out"});
    TsbLPD lpd;
    const int code = SendTo(lpd, dropping.Port(), "", std::string(400000, 'x'));
    EXPECT_LT(code, -3) << lpd.StatusText;
    EXPECT_FALSE(lpd.Client.Connected());
}

TEST(LpdClient, EveryAnswerIsJudgedAtItsOwnStepWhateverTheLatency)
{
    // Printers a few milliseconds away, and one slower than the first
    // answer's wait: a refusal ends the job at the step it answers, and a
    // refused job sends none of its data.
    const std::string data = "REPORT-DATA-THAT-MUST-NOT-ARRIVE";
    const struct {
        const char* mode;
        const char* delayMs;
        int code;
        bool dataCommandSent;
        // A printer that never answered is sent the data without waiting.
        bool dataSent;
    } cases[] = {
        {"acked-refuse-data", "20", -105, true, false},
        {"refuse-control", "20", -108, false, false},
        {"refuse-control", "1300", -108, false, false},
        {"refuse-data", "1300", -107, true, true},
        {"ok", "20", 0, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " after " + c.delayMs + " ms");
        TTempDir dir;
        TPeerProcess peer("lpd-peer.py", {c.mode, dir / "out", c.delayMs});
        ASSERT_GT(peer.Port(), 0);
        TsbLPD lpd;
        EXPECT_EQ(SendTo(lpd, peer.Port(), "", data), c.code) << lpd.Detail;
        const std::string received = Received(dir);
        EXPECT_EQ(received.find("\x03") != std::string::npos, c.dataCommandSent);
        if (c.code == 0) {
            EXPECT_EQ(lpd.StatusText, "+OK");
            EXPECT_EQ(lpd.Detail, "");
            EXPECT_EQ(received.substr(received.size() - data.size() - 1), data + std::string(1, '\0'));
        } else {
            EXPECT_EQ(lpd.StatusText, std::string(1, '\x01'));
            EXPECT_EQ(received.find(data) != std::string::npos, c.dataSent);
            EXPECT_NE(lpd.Detail.find("127.0.0.1:" + std::to_string(peer.Port()) + ": the printer refused"),
                      std::string::npos)
                << lpd.Detail;
        }
    }
}

TEST(LpdClient, DeliveredMeansTheWholeJobArrived)
{
    // A silent printer that closes in order after the job has it; a reset
    // halfway, or a printer that never reads, has not.
    TTempDir dir;
    TPeerProcess closing("lpd-peer.py", {"silent-close", dir / "closing"});
    TsbLPD lpd;
    lpd.Pause = [](int) {};
    EXPECT_EQ(SendTo(lpd, closing.Port(), "", std::string(300000, 'c')), 0) << lpd.Detail;
    EXPECT_EQ(lpd.StatusText, "+OK");

    TPeerProcess resetting("lpd-peer.py", {"reset-data", dir / "reset"});
    const TResult<TLpdResult> reset = Deliver(lpd, resetting.Port(), "", std::string(3000000, 'r'));
    // A reset seen while an answer is read breaks the exchange off, as the queue expects.
    if (reset)
        EXPECT_LT(Code(*reset), -3);
    else
        EXPECT_EQ(reset.Reason().rfind("Socket Error #", 0), 0u) << reset.Reason();
    EXPECT_NE(lpd.Detail.find("127.0.0.1:" + std::to_string(resetting.Port())), std::string::npos) << lpd.Detail;

    TPeerProcess deaf("lpd-peer.py", {"no-read", dir / "deaf"});
    lpd.Client.TransferTimeoutMs = 1000;
    EXPECT_EQ(SendTo(lpd, deaf.Port(), "", std::string(64 << 20, 'n')), -6);
    EXPECT_EQ(lpd.StatusText, "-6 Data file failed to send");
    EXPECT_NE(lpd.Detail.find("127.0.0.1:" + std::to_string(deaf.Port()) + ": no progress for 1 s ("),
              std::string::npos)
        << "timed out: " << lpd.Detail;
}

TEST(LpdClient, JobNumbersAndHostPart)
{
    TsbLPD lpd;
    lpd.NextJob();
    EXPECT_EQ(lpd.JobNumber(), "001");
    lpd.JobCounter = 41;
    lpd.NextJob();
    EXPECT_EQ(lpd.JobNumber(), "042");
    lpd.JobCounter = 255;
    lpd.NextJob();
    EXPECT_EQ(lpd.JobNumber(), "000");
    lpd.NextJob();
    EXPECT_EQ(lpd.JobNumber(), "001");
    EXPECT_EQ(TsbLPD::HostPart("", ""), "TovaORB.Scrib");
    EXPECT_EQ(TsbLPD::HostPart("printorb.", "x"), "printorb.x");
    EXPECT_EQ(TsbLPD::HostPart("a", "b"), "a.b");
}

TEST(LpdClient, DataGoesInThousandBytePiecesWithAPauseAfterEach)
{
    TTempDir dir;
    TPeerProcess peer("lpd-peer.py", {"ok", dir / "out"});
    TsbLPD lpd;
    std::vector<int> pauses;
    lpd.Pause = [&](int ms) { pauses.push_back(ms); };
    lpd.DataDelay = 7;
    EXPECT_EQ(SendTo(lpd, peer.Port(), "", std::string(2000, 'd')), 0);
    // 100 after connecting, 500 before the control file, 500 after the data header,
    // three data pauses (1000, 1000 and 0 bytes), 500 after the end marker.
    EXPECT_EQ(pauses, (std::vector<int> {100, 500, 500, 7, 7, 7, 500}));
    lpd.DataDelay = 5000;
    pauses.clear();
    EXPECT_EQ(SendTo(lpd, peer.Port(), "", "x"), 0);
    EXPECT_EQ(pauses, (std::vector<int> {100, 500, 500, 1000, 500}));
}

TEST(LpdClient, RealLpdServerTakesTheJobIntoCups)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    ASSERT_TRUE(cups.AddQueue("Laser-A"));
    TTempDir dir;
    TPeerProcess lpdServer("lpd-server.sh", {dir / "lpd", std::to_string(cups.Port())});
    ASSERT_GT(lpdServer.Port(), 0);
    TsbLPD lpd;
    const std::string data = "\x1b" "E\x1b*p0x0Y real LPD job \x0c\x1b" "E";
    EXPECT_EQ(SendTo(lpd, lpdServer.Port(), "Laser-A", data), 0) << lpd.StatusText;
    ASSERT_TRUE(WaitFor([&] { return FileExists(cups.OutDir("Laser-A") + "job-1.data"); }, 15000));
    EXPECT_EQ(ReadFile(cups.OutDir("Laser-A") + "job-1.data"), data);

    // A real server refuses the empty queue name that printers' own listeners take.
    EXPECT_EQ(SendTo(lpd, lpdServer.Port(), "", data), -104);
    EXPECT_EQ(lpd.StatusText, std::string(1, '\x01'));
}
