// TPrintServer: construction and the sources it can be given.
#include "app/printserver.h"

#include "util/fileutil.h"
#include "util/serverhome.h"

namespace {

TServerConfig HomeConfig(const std::string& programDir)
{
    TServerConfig config;
    config.ProgramDir = IncludeTrailingSlash(programDir);
    config.LprQueueDir = TServerHome(programDir).LprQueue();
    return config;
}

}  // namespace

TPrintServer::TPrintServer(std::string programDir, QObject* parent)
    : QObject(parent), FConfig(HomeConfig(programDir))
{
    FLog.SetFilePath(TServerHome(FConfig.ProgramDir).Log());
    FInstalledPrinters = [this] { return FPipeline.Printing().InstalledPrinters(); };
}

void TPrintServer::SetInstalledPrinters(std::function<std::vector<std::string>()> source)
{
    FInstalledPrinters = std::move(source);
}
