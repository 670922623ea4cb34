// TPrintServer: construction and the sources it can be given.
#include "app/printserver.h"

#include "util/fileutil.h"
#include "util/packagehome.h"
#include "util/serverhome.h"

TPrintServer::TPrintServer(std::string programDir, TProgramEnvironment env)
    : FEnv(std::move(env)),
      FConfig(TServerConfig().WithStart(HomeStart(programDir, PackageHome(FEnv.PackageRoot))))
{
    // The printer entries and the failover switch count at once.
    FSettings.SetChangedHook([this] { FConfig = FConfig.WithEntries(FSettings.Store()); });
    FLog.SetFilePath(TServerHome(FConfig.ProgramDir).Log());
    FInstalledPrinters = [this] { return FPipeline.Printing().InstalledPrinters(); };
}

void TPrintServer::SetInstalledPrinters(std::function<std::vector<std::string>()> source)
{
    FInstalledPrinters = std::move(source);
}
