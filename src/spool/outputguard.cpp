#include "spool/outputguard.h"

#include "journal/journal.h"
#include "util/fileutil.h"
#include "util/serverhome.h"

TOutputGuard::TOutputGuard(const TServerConfig& config)
{
    const TServerHome home(config.ProgramDir);
    const std::string journal = home.Journal();
    for (const std::string& path : {home.Settings(), home.Tags(), home.DriverData(), home.Log(), journal,
                                    journal + "-wal", journal + "-shm", journal + "-journal"})
        FPlaces.AddFile(path);
    const std::string spool = IncludeTrailingSlash(config.SpoolDir);
    if (!spool.empty()) {
        // Its temp/ is the spool folder's; the other two have their own words.
        FPlaces.AddFolder("the unprintable folder", spool + "unprintable/");
        FPlaces.AddFolder("the failed folder", spool + "failed/");
        FPlaces.AddFolder("the spool folder", spool);
    }
    FPlaces.AddFolder("the LPR queue folder", config.LprQueueDir);
    FPlaces.AddFolder("the templates folder", config.TemplatesDir);
    FPlaces.AddFolder("the overlay folder", config.OverlayDir);
}

std::string TOutputGuard::Refusal(std::string_view path) const
{
    // A folder that cannot be opened is no refusal: the write says why it failed.
    const TOutcome checked = FPlaces.Check(path);
    return !checked && checked.Kind() == TFailureKind::Final ? checked.Reason() : std::string();
}
