#include "config/serverconfig.h"

#include "config/settingkeys.h"
#include "util/fileutil.h"
#include "util/textutil.h"

TServerConfig TServerConfig::Read(const TSettings& settings)
{
    TServerConfig c;
    c.ResultsDir = IncludeTrailingSlash(settings.Value(keys::Results));
    c.SpoolDir = IncludeTrailingSlash(settings.Value(keys::Spooler));
    c.TemplatesDir = IncludeTrailingSlash(settings.Value(keys::Templates));
    c.OverlayDir = IncludeTrailingSlash(settings.Value(keys::Overlay));
    c.DefLetterhead = settings.Value(keys::DefLetterhead);
    c.PageMargin = settings.Value(keys::PageMargin);
    if (const std::string delay = settings.Value(keys::LpdDataDelay); !delay.empty())
        c.LpdDataDelay = StrToIntDef(delay, 1);
    c.FtpFailover = SettingIsOn(settings.Value(keys::FtpFailover));
    c.AutoScanSubDir = settings.Value(keys::AutoScanSubDir);
    // Every line whose name begins with IMAGES, written in capitals, in order.
    for (const std::string& line : settings.Lines())
        if (line.compare(0, 6, keys::ImagesPrefix) == 0 && line.find('=') != std::string::npos)
            c.ImageDirs.push_back(TextAfter(line, "="));
    return c;
}

std::vector<std::string> TServerConfig::MissingCritical() const
{
    std::vector<std::string> missing;
    if (ResultsDir.empty())
        missing.push_back(keys::Results);
    if (SpoolDir.empty())
        missing.push_back(keys::Spooler);
    if (TemplatesDir.empty())
        missing.push_back(keys::Templates);
    if (DefLetterhead.empty())
        missing.push_back(keys::DefLetterhead);
    return missing;
}

std::string TServerConfig::PageMarginOrDefault() const
{
    return PageMargin.empty() ? std::string("5,5,8,5") : PageMargin;
}
