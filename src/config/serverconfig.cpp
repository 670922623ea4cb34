#include "config/serverconfig.h"

#include "config/settingkeys.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <algorithm>

TServerConfig TServerConfig::Read(const TSettings& settings)
{
    TServerConfig c;
    c.ReadStore(settings);
    return c;
}

void TServerConfig::ReadStore(const TSettings& settings)
{
    ReadChangeable(settings);
    LpdDataDelay.reset();
    if (const std::string delay = settings.Value(keys::LpdDataDelay); !delay.empty())
        LpdDataDelay = StrToIntDef(delay, 1);
    AutoScanSubDir = settings.Value(keys::AutoScanSubDir);
    // Every line whose name begins with IMAGES, written in capitals, in order.
    ImageDirs.clear();
    for (const std::string& line : settings.Lines())
        if (line.compare(0, 6, keys::ImagesPrefix) == 0 && line.find('=') != std::string::npos)
            ImageDirs.push_back(TextAfter(line, "="));
    // A value that is not a whole number of at least the least sensible one
    // keeps the default.
    auto whole = [&](const char* key, int fallback, int least) {
        const auto value = TryStrToInt(Trim(settings.Value(key)));
        return value && *value >= least ? *value : fallback;
    };
    JobRetries = whole(keys::JobRetries, 5, 1);
    JobRetryDelaySeconds = whole(keys::JobRetryDelay, 60, 0);
    TempDays = whole(keys::TempDays, 30, 1);
    JournalDays = whole(keys::JournalDays, 400, 1);
    SettleSeconds = std::min(whole(keys::SettleSeconds, kDefaultSettleSeconds, 0), 3600);
    QueueHours = whole(keys::QueueHours, 72, 1);
    const std::string drain = Trim(settings.Value(keys::DrainBacklog));
    DrainBacklog = SameText(drain, "Yes") || SettingIsOn(drain);
    WebStatus = Trim(settings.Value(keys::WebStatus));
    WebPasswordHash = Trim(settings.Value(keys::WebPassword));
}

int TServerConfig::RetryDelaySeconds(int attempt) const
{
    constexpr long long kHour = 3600;
    long long delay = JobRetryDelaySeconds;
    for (int i = 1; i < attempt && delay < kHour; ++i)
        delay *= 2;
    return static_cast<int>(std::min(delay, kHour));
}

void TServerConfig::ReadChangeable(const TSettings& settings)
{
    FStore = &settings;
    ResultsDir = IncludeTrailingSlash(settings.Value(keys::Results));
    SpoolDir = IncludeTrailingSlash(settings.Value(keys::Spooler));
    TemplatesDir = IncludeTrailingSlash(settings.Value(keys::Templates));
    OverlayDir = IncludeTrailingSlash(settings.Value(keys::Overlay));
    DefLetterhead = settings.Value(keys::DefLetterhead);
    PageMargin = settings.Value(keys::PageMargin);
}

std::string TServerConfig::Value(std::string_view key) const
{
    return FStore ? FStore->Value(key) : std::string();
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
