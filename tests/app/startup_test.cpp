#include "compose/resulttext.h"
#include "app/serverfixture.h"

#include "util/fileutil.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::string TextOf(const TSettings& s)
{
    std::string text;
    for (const std::string& line : s.Lines())
        text += line + "\r\n";
    return text;
}

}  // namespace

TEST(StartUp, MissingSettingsFileEndsTheProgramWithBothMessages)
{
    TTestHome home;
    auto server = home.MakeServer();
    EXPECT_FALSE(server->StartUp());
    EXPECT_TRUE(home.LogHas(*server, "Warning. Setup file is missing."));
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Text, "A critical value was not set.  Tovaspooler will close.\r\n\r\nNot set in " +
                                                 home.Dir / "printserver.inf" +
                                                 ": RESULTS, SPOOLER, TEMPLATES, DEFLETTERHEAD.");
    EXPECT_EQ(server->Config().SettingsScore, 0);
    // Refused: nothing is made in the home, not even the log or the temp folder.
    EXPECT_FALSE(FileExists(home.Dir / "spoolerLog.txt"));
    EXPECT_FALSE(DirExists(home.Dir / "temp"));
}

TEST(StartUp, TheLogFileGetsTheStartUpLinesOnceItSucceeded)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    const std::string log = ReadFile(home.Dir / "spoolerLog.txt");
    EXPECT_NE(log.find(" started in " + home.Dir.Path()), std::string::npos) << log;
    EXPECT_TRUE(DirExists(home.Dir / "temp")) << "without TEMP, the home's own";
    // A log that exists gets a refusal's lines: the operator's own history.
    TTestHome refused;
    WriteFile(refused.Dir / "spoolerLog.txt", "earlier\r\n");
    auto again = refused.MakeServer();
    EXPECT_FALSE(again->StartUp());
    EXPECT_NE(ReadFile(refused.Dir / "spoolerLog.txt").find(">Warning. Setup file is missing.\r\n"), std::string::npos);
}

TEST(StartUp, EachCriticalValueIsRequired)
{
    for (const char* key : {"RESULTS", "SPOOLER", "TEMPLATES", "DEFLETTERHEAD"}) {
        TTestHome home;
        TSettings s;
        s.SetLines({"RESULTS=/r", "SPOOLER=/s", "TEMPLATES=/t", "DEFLETTERHEAD=LH", "PRINTER1=Laser A"});
        s.SetValue(key, "");
        home.WriteSettings(TextOf(s));
        auto server = home.MakeServer();
        EXPECT_FALSE(server->StartUp()) << key;
        ASSERT_EQ(home.Prompts.Messages.size(), 1u) << key;
        EXPECT_EQ(home.Prompts.Messages[0].Text, "A critical value was not set.  Tovaspooler will close.\r\n\r\nNot set in " +
                                                     home.Dir / "printserver.inf" + ": " + key + ".");
    }
}

TEST(StartUp, NoPrinterEntriesEndTheProgramWithoutABox)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "printer5=Laser C\r\nHOSTIP-5=10.0.0.5\r\n");
    auto server = home.MakeServer();
    EXPECT_FALSE(server->StartUp());
    EXPECT_EQ(server->Printers().DefaultLabel, "NO PRINTERS SET.");
    EXPECT_TRUE(home.Prompts.Messages.empty());
    EXPECT_EQ(server->Config().SettingsScore, 6);
}

TEST(StartUp, DefaultPrinterComesFromTheFirstLineSortedAsText)
{
    TTestHome home;
    home.WriteSettings("; site settings\r\n" + home.Critical() + "PRINTER2=Laser A\r\nprinter5=Laser C\r\nPRINTER10=Laser B\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Printers().Printerlist(), (std::vector<std::string> {"10=Laser B", "2=Laser A"}));
    EXPECT_EQ(server->Printers().DefaultLabel, "Default is :Laser B");
    EXPECT_EQ(server->Config().DefaultPrinterNumber, "10");
    EXPECT_EQ(server->Settings().Value("PRINTER"), "Laser B");
    EXPECT_EQ(server->Printers().Selected(), 0);
    EXPECT_EQ(server->Printers().NumberBox(), (std::vector<std::string> {"10", "2"}));
    EXPECT_EQ(server->Config().SettingsScore, 7);
    // In memory only until "Update Now".
    EXPECT_EQ(home.Settings().find("PRINTER=Laser B"), std::string::npos);

    server->UpdateButtonClick();
    const std::string saved = home.Settings();
    // Directory values come back from their fields with the "/" they run with.
    const std::string expectedStart = "; site settings\r\nRESULTS=" + (home.Dir / "results/") + "\r\nSPOOLER=" +
                                      (home.Dir / "spool/") + "\r\nTEMPLATES=" + (home.Dir / "templates/") +
                                      "\r\nDEFLETTERHEAD=LH\r\nSETTLESECONDS=0\r\n"
                                      "PRINTER2=Laser A\r\nprinter5=Laser C\r\nPRINTER10=Laser B\r\nPRINTER=Laser B\r\n";
    EXPECT_EQ(saved.substr(0, expectedStart.size()), expectedStart);
}

TEST(StartUp, ExplicitDefaultAndItsNumber)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER3=Laser C|spare\r\nPRINTER=laser c\r\nPRINTER7=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Printers().DefaultLabel, "Default is :laser c");
    EXPECT_EQ(server->Config().DefaultPrinterNumber, "3");  // matched before the "|"
    EXPECT_EQ(server->IndexOfPrinterName("LASER A"), 1);
    EXPECT_EQ(server->IndexOfPrinterName("Laser C|spare"), 0);
    EXPECT_EQ(server->IndexOfPrinterName("nothing"), -1);
}

TEST(StartUp, DefaultWithoutNumberedPrintersStillStarts)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Config().DefaultPrinterNumber, "");
    EXPECT_EQ(server->Config().SettingsScore, 7);
}

TEST(StartUp, DirectoriesGetTheirTrailingSlash)
{
    TTestHome home;
    home.WriteSettings("RESULTS=" + (home.Dir / "results") + "\r\nSPOOLER=" + (home.Dir / "spool") + "\r\nTEMPLATES=" +
                       (home.Dir / "templates") + "\r\nDEFLETTERHEAD=LH\r\nOVERLAY=\r\nPRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Config().SpoolDir, home.Dir / "spool/");
    EXPECT_EQ(server->Config().ResultsDir, home.Dir / "results/");
    EXPECT_EQ(server->Config().TemplatesDir, home.Dir / "templates/");
    EXPECT_EQ(server->Config().OverlayDir, "");
    EXPECT_EQ(server->Config().LprQueueDir, home.Dir / "lpdspooler/");
    EXPECT_TRUE(DirExists(server->Config().LprQueueDir));
    EXPECT_EQ(server->Page().SpoolerDirectory, home.Dir / "spool/");
    EXPECT_EQ(server->Page().PageMargins, "5,5,8,5");
    EXPECT_EQ(server->Settings().Value("pagemargin"), "");  // not stored until "Update Now"
    EXPECT_TRUE(server->Page().UpdateEnabled);
}

TEST(StartUp, DelayFailoverImagesAndMask)
{
    TTestHome home;
    home.WriteSettings(home.Critical() +
                       "LPDDATADELAY=5000\r\nFTPFAILOVER= yes\r\nIMAGES=/scan/\r\nimages3=/f/\r\nIMAGES2=/scan2/\r\n"
                       "AUTOSCANSUBDIR=--**\r\nPRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Config().DataDelay, 5000);  // no range at start-up
    EXPECT_EQ(server->Page().LpdDelay, "5000");
    EXPECT_TRUE(server->Page().FtpFailover);
    EXPECT_EQ(server->Settings().Value("FTPFAILOVER"), "TRUE");
    EXPECT_EQ(server->Config().ImageDirs, (std::vector<std::string> {"/scan/", "/scan2/"}));
    EXPECT_EQ(server->Config().AutoScanSubDir, "--**");
}

TEST(StartUp, FailoverValues)
{
    const std::pair<const char*, bool> cases[] = {{"yes", true}, {"T", true}, {"true", true}, {" Y", true},
                                                  {"1", false},  {"no", false}, {"", false}, {"FALSE", false}};
    for (const auto& [value, on] : cases) {
        TTestHome home;
        home.WriteSettings(home.Critical() + "FTPFAILOVER=" + value + "\r\nPRINTER1=Laser A\r\n");
        auto server = home.MakeServer();
        ASSERT_TRUE(server->StartUp());
        EXPECT_EQ(server->Page().FtpFailover, on) << value;
        // An off value stays as written until the box is clicked or "Update Now".
        EXPECT_EQ(server->Settings().Value("FTPFAILOVER"), on ? std::string("TRUE") : std::string(value)) << value;
    }
}

TEST(StartUp, NonNumericDelayRunsWithOne)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "LPDDATADELAY=fast\r\nPRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Config().DataDelay, 1);
}

TEST(StartUp, MissingSpoolDirectoryDeclinedStopsTheChecksButNotTheServer)
{
    TTestHome home;
    home.WriteSettings("RESULTS=" + (home.Dir / "nores") + "\r\nSPOOLER=" + (home.Dir / "nospool") +
                       "\r\nTEMPLATES=" + (home.Dir / "notpl") + "\r\nDEFLETTERHEAD=LH\r\nPRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    ASSERT_EQ(home.Prompts.Questions.size(), 1u);  // results and templates not checked
    EXPECT_EQ(home.Prompts.Questions[0].Caption, "Checking Settings");
    EXPECT_EQ(home.Prompts.Questions[0].Text,
              "The Print Spooler directory " + (home.Dir / "nospool/") + " does not exist.\r\nDo you want to create it?");
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Caption, "Test Print Server");
    EXPECT_EQ(home.Prompts.Messages[0].Text, "Directory was not created.\r\nTest print failed: no Spooler Directory");
    EXPECT_FALSE(DirExists(home.Dir / "nospool"));
}

TEST(StartUp, MissingDirectoriesAcceptedAreCreated)
{
    TTestHome home;
    home.WriteSettings("RESULTS=" + (home.Dir / "a/res") + "\r\nSPOOLER=" + (home.Dir / "a/spool") + "\r\nTEMPLATES=" +
                       (home.Dir / "templates") + "\r\nDEFLETTERHEAD=LH\r\nPRINTER1=Laser A\r\n");
    home.Prompts.Answers = {true, false};
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_TRUE(DirExists(home.Dir / "a/spool"));
    ASSERT_EQ(home.Prompts.Questions.size(), 2u);
    EXPECT_NE(home.Prompts.Questions[1].Text.find("The Result Files directory"), std::string::npos);
    ASSERT_EQ(home.Prompts.Messages.size(), 1u);
    EXPECT_EQ(home.Prompts.Messages[0].Caption, "Check Directories");
    EXPECT_EQ(home.Prompts.Messages[0].Text, "Directory was not created.\r\nNo Result Directory");
    EXPECT_FALSE(DirExists(home.Dir / "a/res"));
}

TEST(StartUp, InstalledPrintersFillThePrinterNameBox)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=Laser A\r\n");
    auto server = home.MakeServer({"Office", "Laser A"});
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Printers().PrinterNameCombo, (std::vector<std::string> {"Office", "Laser A"}));
}

TEST(StartUp, LoadsTheTagFileOrWarns)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=Laser A\r\n");
    WriteFile(home.Dir / "tags.txt", "12|PATSUR|Patient surname\r\n13|REQCODE\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Pipeline().TagList().size(), 2u);
    EXPECT_EQ(server->Pipeline().Record().IndexOfKey("12"), 0);
    EXPECT_FALSE(home.LogHas(*server, "Warning!! The \"TAG\" file is missing."));

    TTestHome bare;
    bare.WriteSettings(bare.Critical() + "PRINTER1=Laser A\r\n");
    auto other = bare.MakeServer();
    ASSERT_TRUE(other->StartUp());
    EXPECT_TRUE(other->Pipeline().TagList().empty());
    EXPECT_TRUE(bare.LogHas(*other, "Warning!! The \"TAG\" file is missing."));
}

TEST(StartUp, DocumentStartsEmptyOnA4WithTheConfiguredMargins)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "pagemargin=20,15,12,10\r\nPRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    EXPECT_EQ(server->Pipeline().Engine().PageWidth(), 11895);
    EXPECT_EQ(server->Pipeline().Engine().PageHeight(), 16830);
    EXPECT_EQ(server->Pipeline().Engine().PageMarginL(), 1133);
    EXPECT_EQ(server->Pipeline().Engine().PageMarginT(), 680);
    EXPECT_EQ(server->Pipeline().Engine().Text(), "");
    server->Pipeline().Engine().SetSelText("x");
    EXPECT_TRUE(RenderResultText(server->Pipeline().Engine(), DocumentEngine::MainPart, 0, 1, "A~{B{", "", "12"));
    EXPECT_EQ(server->Pipeline().Engine().Text(), "A\nB");
}

// What the program found in its environment counts, and only that: the
// process's own TEMP, set here, is not looked at again.
TEST(StartUp, TheTemporaryFolderAndThePackageHomeComeFromTheProgramsEnvironment)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=Laser A\r\n");
    const std::string given = home.Dir / "given-temp/";
    ASSERT_TRUE(ForceDir(given));
    ::setenv("TEMP", (home.Dir / "process-temp").c_str(), 1);
    TProgramEnvironment env;
    env.Temp = given;
    env.PackageRoot = home.Dir / "root";
    auto server = home.MakeServer({"Laser A"}, env);
    ASSERT_TRUE(server->StartUp());
    ::unsetenv("TEMP");
    EXPECT_EQ(server->Config().TempDir, given);
    EXPECT_EQ(server->Config().PackageHomeDir, home.Dir / "root/var/lib/printorb/");
    EXPECT_FALSE(DirExists(home.Dir / "process-temp"));

    TTestHome plain;
    plain.WriteSettings(plain.Critical() + "PRINTER1=Laser A\r\n");
    ::setenv("TEMP", (plain.Dir / "process-temp").c_str(), 1);
    auto other = plain.MakeServer({"Laser A"});
    ASSERT_TRUE(other->StartUp());
    ::unsetenv("TEMP");
    EXPECT_EQ(other->Config().TempDir, plain.Dir / "temp/");
}
