#include "app/serverfixture.h"

#include "util/fileutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::unique_ptr<TPrintServer> Started(TTestHome& home, const std::string& extra = "PRINTER1=Laser A\r\n")
{
    home.WriteSettings(home.Critical() + extra);
    auto server = home.MakeServer();
    EXPECT_TRUE(server->StartUp());
    return server;
}

}  // namespace

TEST(SettingsPage, UpdateNowStoresFieldsAsTypedAndWritesInOrder)
{
    TTestHome home;
    auto server = Started(home, "OVERLAY=/ov/\r\nPRINTER1=Laser A\r\n");
    server->Page().SpoolerDirectory = home.Dir / "spool";  // typed without "/"
    server->Page().PageMargins = "10,10,8,5";
    server->Page().OverlayDirectory = "";
    server->UpdateButtonClick();

    // Stored as typed, used as the folder it names.
    EXPECT_EQ(server->Config().SpoolDir, home.Dir / "spool/");
    EXPECT_EQ(server->Config().PageMargin, "10,10,8,5");
    EXPECT_EQ(server->Settings().Value("SPOOLER"), home.Dir / "spool");
    EXPECT_EQ(server->Config().OverlayDir, "");
    const std::string expected = "RESULTS=" + (home.Dir / "results/") + "\r\nSPOOLER=" + (home.Dir / "spool") +
                                 "\r\nTEMPLATES=" + (home.Dir / "templates/") +
                                 "\r\nDEFLETTERHEAD=LH\r\nSETTLESECONDS=0\r\nPRINTER1=Laser A\r\nPRINTER=Laser A\r\n"
                                 "pagemargin=10,10,8,5\r\nLPDDATADELAY=1\r\nFTPFAILOVER=FALSE\r\n";
    EXPECT_EQ(home.Settings(), expected);
}

TEST(SettingsPage, UpdateNowBoundsTheDelay)
{
    struct Case {
        const char* field;
        int delay;
        const char* shown;
    };
    const Case cases[] = {{"5000", 1000, "1000"}, {"0", 1, "1"},   {"-4", 1, "1"},
                          {"250", 250, "250"},    {"abc", 50, "50"}, {"12 ", 50, "50"}};
    for (const Case& c : cases) {
        TTestHome home;
        auto server = Started(home);
        server->Page().LpdDelay = c.field;
        server->UpdateButtonClick();
        EXPECT_EQ(server->Config().DataDelay, c.delay) << c.field;
        EXPECT_EQ(server->Page().LpdDelay, c.shown) << c.field;
        EXPECT_EQ(server->Settings().Value("LPDDATADELAY"), std::to_string(c.delay)) << c.field;
    }
    // An empty field keeps the running delay, bounded all the same.
    TTestHome home;
    auto server = Started(home, "LPDDATADELAY=5000\r\nPRINTER1=Laser A\r\n");
    server->Page().LpdDelay = "";
    server->UpdateButtonClick();
    EXPECT_EQ(server->Config().DataDelay, 1000);
}

TEST(SettingsPage, LeavingTheDelayField)
{
    struct Case {
        const char* field;
        int delay;
        const char* shown;
        const char* stored;
    };
    const Case cases[] = {{" 5000 ", 1000, "1000", "1000"}, {"0", 1, "1", "1"},
                          {" 20", 20, " 20", "20"},         {"x", 1, "1", "7"}};
    for (const Case& c : cases) {
        TTestHome home;
        auto server = Started(home, "LPDDATADELAY=7\r\nPRINTER1=Laser A\r\n");
        server->Page().LpdDelay = c.field;
        server->LPDDataDelayExit();
        EXPECT_EQ(server->Config().DataDelay, c.delay) << c.field;
        EXPECT_EQ(server->Page().LpdDelay, c.shown) << c.field;
        EXPECT_EQ(server->Settings().Value("LPDDATADELAY"), c.stored) << c.field;
    }
}

TEST(SettingsPage, OverlayFieldGetsItsSlashAndReachesTheStore)
{
    TTestHome home;
    auto server = Started(home);
    server->Page().OverlayDirectory = "/srv/ov";
    server->OverlayEditChange();
    EXPECT_EQ(server->Page().OverlayDirectory, "/srv/ov/");
    EXPECT_EQ(server->Settings().Value("OVERLAY"), "/srv/ov/");
    server->Page().OverlayDirectory = "  ";
    server->OverlayEditChange();
    EXPECT_EQ(server->Page().OverlayDirectory, "  ");
    // Nothing reaches the file before "Update Now".
    EXPECT_EQ(home.Settings().find("OVERLAY"), std::string::npos);
}

TEST(SettingsPage, FailoverBoxIsStoredAtOnce)
{
    TTestHome home;
    auto server = Started(home, "FTPFAILOVER=1\r\nPRINTER1=Laser A\r\n");
    server->Page().FtpFailover = true;
    server->FTPFailOVerCheckClick();
    EXPECT_EQ(server->Settings().Value("FTPFAILOVER"), "TRUE");
    server->Page().FtpFailover = false;
    server->FTPFailOVerCheckClick();
    EXPECT_EQ(server->Settings().Value("FTPFAILOVER"), "FALSE");
}

TEST(SettingsPage, AFailedSaveIsShownAndTheNewValuesStayInForce)
{
    TTestHome home;
    auto server = Started(home);
    // A directory in place of the file: the save cannot replace it.
    ASSERT_TRUE(DeleteFileAt(home.Dir / "printserver.inf"));
    ::mkdir((home.Dir / "printserver.inf").c_str(), 0755);
    server->Page().DefaultLetterhead = "Other";
    server->UpdateButtonClick();
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_NE(home.Prompts.Messages[0].Text.find("The settings could not be saved"), std::string::npos);
    EXPECT_EQ(server->Config().DefLetterhead, "Other");
    EXPECT_EQ(server->Settings().Value("DEFLETTERHEAD"), "Other");
}

TEST(SettingsPage, SpoolerServerAddressOpensTheLinkAfterSaving)
{
    TListener listener;
    TTestHome home;
    auto server = Started(home);
    const std::string address = "127.0.0.1:" + std::to_string(listener.Port());
    server->Page().SpoolServer = "127.0.0.1";
    EXPECT_FALSE(server->SpoolServerEditExit());
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "You must use the format\r\n <host>:<port> \r\n eg myServer:8222");

    server->Page().SpoolServer = address;
    EXPECT_TRUE(server->SpoolServerEditExit());
    server->UpdateButtonClick();
    EXPECT_NE(home.Settings().find("SPOOLSERVER=" + address), std::string::npos);
    ASSERT_TRUE(WaitFor([&] { return server->SpoolerLink().Connected() && listener.AcceptPending() == 1; }));
    EXPECT_TRUE(home.LogHas(*server, "Spooler Connection established to " + address));

    // Not read back: after a restart the field is empty and the link closed.
    server.reset();
    auto restarted = home.MakeServer();
    ASSERT_TRUE(restarted->StartUp());
    EXPECT_EQ(restarted->Page().SpoolServer, "");
    EXPECT_FALSE(restarted->SpoolerLink().Connected());
}

TEST(SettingsPage, TheLprQueueDeliversThroughTheServersSettings)
{
    TTempDir peerDir;
    TPeerProcess peer("lpd-peer.py", {"ok", peerDir / "out"});
    TTestHome home;
    auto server = Started(home, "LPDDATADELAY=40\r\nPRINTER1=Not-Installed\r\nHOSTIP-1=127.0.0.1\r\n");
    EXPECT_EQ(server->Config().DataDelay, 40);
    // The field's bounded delay is the one the next delivery uses.
    server->Page().LpdDelay = "5000";
    server->LPDDataDelayExit();
    server->Pipeline().LprQueue().Lpd.Client.Port = peer.Port();
    WriteFile(server->Config().LprQueueDir + "_1_LAB1.prn", "PCL");
    ::setenv("CUPS_SERVER", "127.0.0.1:1", 1);  // no print system: the spooler route fails
    server->Pipeline().DispatchLprQueue();
    ::unsetenv("CUPS_SERVER");
    EXPECT_TRUE(home.LogHas(*server, "Sent LPD Job _1_LAB1.prn OK"));
    EXPECT_EQ(server->Indicators().LPRQueueText(), "0001");
    EXPECT_FALSE(FileExists(server->Config().LprQueueDir + "_1_LAB1.prn"));
    EXPECT_EQ(server->Pipeline().LprQueue().Lpd.DataDelay, 1000);
}
