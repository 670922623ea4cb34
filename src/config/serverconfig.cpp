#include "config/serverconfig.h"

#include "config/settingkeys.h"
#include "util/fileutil.h"
#include "util/serverhome.h"
#include "util/textutil.h"

#include <algorithm>

TServerConfig TServerConfig::Read(const TSettings& settings, const TServerStart& start)
{
    TServerConfig c = TServerConfig().WithStart(start).WithEntries(settings);
    c.ResultsDir = IncludeTrailingSlash(settings.Value(keys::Results));
    c.SpoolDir = IncludeTrailingSlash(settings.Value(keys::Spooler));
    c.TemplatesDir = IncludeTrailingSlash(settings.Value(keys::Templates));
    c.OverlayDir = IncludeTrailingSlash(settings.Value(keys::Overlay));
    c.DefLetterhead = settings.Value(keys::DefLetterhead);
    c.PageMargin = settings.Value(keys::PageMargin);
    if (const std::string delay = settings.Value(keys::LpdDataDelay); !delay.empty())
        c.LpdDataDelay = StrToIntDef(delay, 1);
    c.AutoScanSubDir = settings.Value(keys::AutoScanSubDir);
    // Every line whose name begins with IMAGES, written in capitals, in order.
    for (const std::string& line : settings.Lines())
        if (line.starts_with(keys::ImagesPrefix) && line.find('=') != std::string::npos)
            c.ImageDirs.push_back(TextAfter(line, "="));
    // A value that is not a whole number of at least the least sensible one
    // keeps the default.
    auto whole = [&](const char* key, int fallback, int least) {
        const auto value = TryStrToInt(Trim(settings.Value(key)));
        return value && *value >= least ? *value : fallback;
    };
    c.JobRetries = whole(keys::JobRetries, 5, 1);
    c.JobRetryDelaySeconds = whole(keys::JobRetryDelay, 60, 0);
    c.TempDays = whole(keys::TempDays, 30, 1);
    c.JournalDays = whole(keys::JournalDays, 400, 1);
    c.SettleSeconds = std::min(whole(keys::SettleSeconds, kDefaultSettleSeconds, 0), 3600);
    c.QueueHours = whole(keys::QueueHours, 72, 1);
    const std::string drain = Trim(settings.Value(keys::DrainBacklog));
    c.DrainBacklog = SameText(drain, "Yes") || SettingIsOn(drain);
    c.WebStatus = Trim(settings.Value(keys::WebStatus));
    c.WebPasswordHash = Trim(settings.Value(keys::WebPassword));
    return c;
}

TServerConfig TServerConfig::WithEntries(const TSettings& settings) const
{
    TServerConfig c = *this;
    c.FEntries = settings;
    return c;
}

TServerConfig TServerConfig::WithStart(const TServerStart& start) const
{
    TServerConfig c = *this;
    static_cast<TServerStart&>(c) = start;
    return c;
}

TServerStart TServerConfig::Start() const
{
    return *this;
}

TServerStart HomeStart(const std::string& home, std::string packageHome)
{
    TServerStart start;
    start.ProgramDir = IncludeTrailingSlash(home);
    start.LprQueueDir = start.ProgramDir + TServerHome::kLprQueue;
    start.PackageHomeDir = std::move(packageHome);
    return start;
}

TPrinterLines ReadPrinterLines(const TSettings& settings)
{
    const std::string_view prefix = keys::DefaultPrinter;
    TPrinterLines lines;
    for (const std::string& line : settings.Lines()) {
        if (!line.starts_with(prefix) || line.find('=') == std::string::npos)
            continue;
        const std::string rest = line.substr(prefix.size());
        if (!TextBefore(rest, "=").empty())
            lines.Numbered.push_back(rest);
        else
            lines.Default = TextAfter(line, "=");  // the last one counts
    }
    return lines;
}

int TServerConfig::RetryDelaySeconds(int attempt) const
{
    constexpr long long kHour = 3600;
    long long delay = JobRetryDelaySeconds;
    for (int i = 1; i < attempt && delay < kHour; ++i)
        delay *= 2;
    return static_cast<int>(std::min(delay, kHour));
}

std::string TServerConfig::PrinterName(std::string_view number) const
{
    return Trim(TextBefore(Value(keys::Printer(number)) + "|", "|"));
}

std::string TServerConfig::HostOf(std::string_view number) const
{
    return Value(keys::HostIp(number));
}

std::string TServerConfig::DefaultPrinterName() const
{
    return Value(keys::DefaultPrinter);
}

bool TServerConfig::FtpFailover() const
{
    return SettingIsOn(Value(keys::FtpFailover));
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
