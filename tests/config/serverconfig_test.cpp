// printserver.inf read as the server's typed configuration.
#include "config/serverconfig.h"
#include "config/settingkeys.h"

#include <gtest/gtest.h>

TEST(ServerConfig, YesNoSettings)
{
    const struct {
        const char* value;
        bool on;
    } cases[] = {{"TRUE", true}, {" yes", true}, {"t", true}, {"Y", true}, {"FALSE", false},
                 {"no", false},  {"", false},    {"1", false}, {"  ", false}, {"on", false}};
    for (const auto& c : cases)
        EXPECT_EQ(SettingIsOn(c.value), c.on) << "'" << c.value << "'";
    EXPECT_STREQ(SettingText(true), "TRUE");
    EXPECT_STREQ(SettingText(false), "FALSE");
    EXPECT_EQ(keys::Printer(" 5"), "PRINTER 5");
    EXPECT_EQ(keys::HostIp("12"), "HOSTIP-12");
}

TEST(ServerConfig, TypedValuesFromTheSettingsLines)
{
    TSettings settings;
    settings.SetLines({"results=/srv/results", "SPOOLER=/srv/spool/", "TEMPLATES=/srv/t", "IMAGES=/a/",
                       "images2=/lower/", "IMAGES2=/b/", "LPDDATADELAY=abc", "ftpfailover=Yes", "PRINTER1=Laser"});
    const TServerConfig config = TServerConfig::Read(settings);
    EXPECT_EQ(config.ResultsDir, "/srv/results/");
    EXPECT_EQ(config.SpoolDir, "/srv/spool/");
    EXPECT_EQ(config.TemplatesDir, "/srv/t/");
    EXPECT_EQ(config.OverlayDir, "");
    EXPECT_EQ(config.LpdDataDelay, 1) << "a delay that is not a number counts as 1";
    EXPECT_TRUE(config.FtpFailover());
    EXPECT_EQ(config.ImageDirs, (std::vector<std::string> {"/a/", "/b/"})) << "IMAGES lines in capitals, in order";
    EXPECT_EQ(config.MissingCritical(), (std::vector<std::string> {"DEFLETTERHEAD"}));
    EXPECT_EQ(config.PageMarginOrDefault(), "5,5,8,5");

    settings.SetValue(keys::PageMargin, "10,10,8,10");
    settings.SetValue(keys::LpdDataDelay, "250");
    EXPECT_EQ(TServerConfig::Read(settings).PageMarginOrDefault(), "10,10,8,10");
    EXPECT_EQ(TServerConfig::Read(settings).LpdDataDelay, 250);
    EXPECT_FALSE(TServerConfig::Read(TSettings()).LpdDataDelay.has_value());
}

TEST(ServerConfig, RetriesAndRetention)
{
    TSettings settings;
    TServerConfig defaults = TServerConfig::Read(settings);
    EXPECT_EQ(defaults.JobRetries, 5);
    EXPECT_EQ(defaults.TempDays, 30);
    EXPECT_EQ(defaults.JournalDays, 400);
    // 60 s before the second attempt, doubling, at most an hour.
    const int waits[] = {60, 120, 240, 480, 960, 1920, 3600, 3600};
    for (int attempt = 1; attempt <= 8; ++attempt)
        EXPECT_EQ(defaults.RetryDelaySeconds(attempt), waits[attempt - 1]) << attempt;

    settings.SetLines({"JOBRETRIES=3", "JOBRETRYDELAY= 10", "TEMPDAYS=0", "journaldays=x"});
    const TServerConfig read = TServerConfig::Read(settings);
    EXPECT_EQ(read.JobRetries, 3);
    EXPECT_EQ(read.RetryDelaySeconds(3), 40);
    EXPECT_EQ(read.TempDays, 30) << "no day at all keeps the default";
    EXPECT_EQ(read.JournalDays, 400);
    settings.SetLines({"JOBRETRIES=0", "JOBRETRYDELAY=100000"});
    EXPECT_EQ(TServerConfig::Read(settings).JobRetries, 5) << "at least one attempt";
    EXPECT_EQ(TServerConfig::Read(settings).RetryDelaySeconds(1), 3600);
}

// A configuration is a snapshot: the store changing after it does not change
// it; only a new snapshot sees the change.
TEST(ServerConfig, ASnapshotKeepsWhatTheStoreSaidWhenItWasMade)
{
    TSettings settings;
    settings.SetLines({"RESULTS=/r", "PRINTER1=Laser A|spare", "HOSTIP-1=10.0.0.1", "FTPFAILOVER=FALSE"});
    TServerStart start;
    start.ProgramDir = "/home/";
    start.DataDelay = 40;
    const TServerConfig first = TServerConfig::Read(settings, start);
    settings.SetValue("PRINTER1", "Laser B");
    settings.SetValue("HOSTIP-1", "10.0.0.2");
    settings.SetValue("FTPFAILOVER", "TRUE");
    settings.SetValue("RESULTS", "/elsewhere");
    EXPECT_EQ(first.PrinterName("1"), "Laser A");
    EXPECT_EQ(first.HostOf("1"), "10.0.0.1");
    EXPECT_FALSE(first.FtpFailover());

    // The entries count at once; the folders wait for a reading of everything.
    const TServerConfig next = first.WithEntries(settings);
    EXPECT_EQ(next.PrinterName("1"), "Laser B");
    EXPECT_EQ(next.HostOf("1"), "10.0.0.2");
    EXPECT_TRUE(next.FtpFailover());
    EXPECT_EQ(next.ResultsDir, "/r/");
    EXPECT_EQ(next.DataDelay, 40);
    EXPECT_EQ(next.ProgramDir, "/home/");
    EXPECT_EQ(TServerConfig::Read(settings, next.Start()).ResultsDir, "/elsewhere/");
}

TEST(ServerConfig, PrinterLines)
{
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::string> numbered;
        std::optional<std::string> def;
    };
    const Case cases[] = {
        {{"PRINTER1=Laser A", "X=1", "PRINTER3=Laser C|spare"}, {"1=Laser A", "3=Laser C|spare"}, std::nullopt},
        // The last default line counts, as the start-up always read it.
        {{"PRINTER=First", "PRINTER2=B", "PRINTER=Second"}, {"2=B"}, "Second"},
        // Written in capitals only; a line without "=" is none.
        {{"printer5=Lower", "PRINTER6", "PRINTERS=Odd"}, {"S=Odd"}, std::nullopt},
        {{"PRINTER="}, {}, ""},
    };
    for (const Case& c : cases) {
        TSettings settings;
        settings.SetLines(c.lines);
        const TPrinterLines read = ReadPrinterLines(settings);
        EXPECT_EQ(read.Numbered, c.numbered) << c.lines.front();
        EXPECT_EQ(read.Default, c.def) << c.lines.front();
    }
}
