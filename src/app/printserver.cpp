// TPrintServer: the server's state and the handlers that are neither start-up
// nor the Settings page: the job parts it hands the spooler, the LPR queue
// round, the result text and the tag file.
#include "app/printserver.h"

#include "compose/resulttext.h"
#include "request/tagfile.h"
#include "util/fileutil.h"

TPrintServer::TPrintServer(std::string programDir, QObject* parent)
    : QObject(parent),
      SpoolerLink(Log),
      ProgramDir(IncludeTrailingSlash(programDir)),
      Overlays(ProgramDir + kDriverDataFileName),
      Spooler(TSpoolerParts {Log, Indicators, Engine, ReportRecord, TagList, Device, ImageProbe, MultiImage, Overlays,
                             [this] { return JobSettings(); },
                             [this](std::string_view key) { return Settings.Value(key); },
                             [this] { DispatchLprQueue(); },
                             [this] { Delivery.PrinterFtp.Abort(); },
                             [this] {
                                 if (Repaint)
                                     Repaint();
                             },
                             [this] { return DocumentViewShown && DocumentViewShown(); },
                             [this] {
                                 FPrompts->PrintDialog(ReportRecord.GetReqCode() + " " + ReportRecord.GetProcCode(),
                                                       Printing.CurrentPrinter);
                             }})
{
    Log.SetFilePath(ProgramDir + "spoolerLog.txt");
    InstalledPrinters = [this] { return Printing.InstalledPrinters(); };
    PrintWholeDocuments(Engine, Printing, Log);
}

TJobSettings TPrintServer::JobSettings() const
{
    return {ProgramDir, SpoolDir,   ResultsDir,     TemplatesDir,         OverlayDir,   LprQueueDir,
            PageMargin, ImageDirs, AutoScanSubDir, DefaultPrinterNumber, SettingsScore};
}

void TPrintServer::DispatchLprQueue()
{
    TLprQueueContext context {LprQueueDir,
                              TempDir,
                              OverlayDir,
                              [this](std::string_view key) { return Settings.Value(key); },
                              Log,
                              Indicators,
                              Delivery.Lpd,
                              Delivery.PrinterFtp,
                              Beep,
                              nullptr,
                              nullptr};
    try {
        Delivery.LprQueue.DispatchLprQueue(context);
    } catch (const std::exception& failure) {
        // A socket error or an unreadable prepared copy ends this round; the
        // file stays queued for the next tick.
        loginfo(failure.what());
    }
}

bool TPrintServer::SetResultText(std::string_view text, std::string_view fontName, std::string_view sizeText)
{
    return RenderResultText(Engine, text, fontName, sizeText);
}

void TPrintServer::LoadTagFile()
{
    ::LoadTagFile(ProgramDir + "tags.txt", TagList, ReportRecord, Log);
}
