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
