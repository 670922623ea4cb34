// TPrintServer: construction and the sources it can be given.
#include "app/printserver.h"

#include "util/fileutil.h"

namespace {

TServerConfig HomeConfig(const std::string& programDir)
{
    TServerConfig config;
    config.ProgramDir = IncludeTrailingSlash(programDir);
    config.LprQueueDir = config.ProgramDir + "lpdspooler/";
    return config;
}

}  // namespace

TPrintServer::TPrintServer(std::string programDir, QObject* parent)
    : QObject(parent), FConfig(HomeConfig(programDir))
{
    FLog.SetFilePath(FConfig.ProgramDir + "spoolerLog.txt");
    FInstalledPrinters = [this] { return FPipeline.Printing().InstalledPrinters(); };
}

void TPrintServer::SetInstalledPrinters(std::function<std::vector<std::string>()> source)
{
    FInstalledPrinters = std::move(source);
}
