// printorb-tool render REQUEST OUT [--home DIR] [--strict]: composes a request with the
// settings, tags.txt and templates of a server home exactly as the server
// would, and saves the document: the template author's preview. It changes
// nothing in the home: the graphs and decoded documents a request asks for
// go to a temporary folder. It prints what the server would have output.
#include "config/settingsstore.h"
#include "delivery/overlaylookup.h"
#include "platform/driverdata/driverdata.h"
#include "platform/printing/printinglayer.h"
#include "print/printrun.h"
#include "printers/printerselect.h"
#include "config/serverconfig.h"
#include "platform/docengine/documentengine.h"
#include "compose/mergefields.h"
#include "compose/dynamictarget.h"
#include "request/tagfile.h"
#include "spool/reportjob.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/packagehome.h"
#include "util/textutil.h"
#include "util/serverhome.h"

#include <QTemporaryDir>

#include <iostream>
#include <map>

namespace {

constexpr std::uint64_t kMaxRequestBytes = 256ull * 1024 * 1024;

// The tags of a file that would print blank for want of a value: neither
// tags.txt nor the request names them. "<<TAG>> in FILE" each.
std::vector<std::string> UnknownTags(const std::string& path, const std::vector<std::string>& tagList,
                                     const TReportRecord& record)
{
    std::vector<std::string> unknown;
    DocumentEngine engine;
    if (!engine.LoadDocument(ToUnicode(path)))
        return unknown;  // the composition reports what it cannot load
    for (const std::string& tag : DocumentTags(engine))
        if (!TagFileKnows(tag, tagList) && record.IndexOfName(tag) < 0)
            unknown.push_back("<<" + tag + ">> in " + path);
    return unknown;
}

// The request's graphs drawn into the scratch folder, and its image boxes
// pointed at them there.
class TScratchGraphs {
public:
    explicit TScratchGraphs(std::string folder) : FFolder(std::move(folder)) {}

    void Draw(std::string_view value)
    {
        const std::size_t first = value.find(',');
        if (first == std::string_view::npos)
            return;
        const std::size_t second = value.find(',', first + 1);
        const std::string destination(value.substr(first + 1, second == std::string_view::npos ? second : second - first - 1));
        if (destination.empty())
            return;
        const std::string copy = FFolder + "graph-" + std::to_string(FMoved.size() + 1) + "-" + ExtractFileName(destination);
        FMoved[destination] = copy;
        DrawDynamicRangeGraph(std::string(value.substr(0, first + 1)) + copy +
                              (second == std::string_view::npos ? std::string() : std::string(value.substr(second))));
    }
    void Redirect(TReportRecord& record) const
    {
        for (TImageRecord& image : record.Images)
            if (const auto moved = FMoved.find(image.FileName); moved != FMoved.end())
                image.FileName = moved->second;
    }

private:
    std::string FFolder;
    std::map<std::string, std::string> FMoved;
};

// What the print run would output for the composed report: the saved
// document, or the printer and each page file.
std::vector<std::string> ServerOutputs(const TReportRecord& record, const std::string& outputFileName,
                                       const TServerConfig& config, const std::string& home, int pages, TLogger& log)
{
    if (const std::string saved = SavedDocumentPath(outputFileName); !saved.empty())
        return {saved};
    TPrintingLayer printing;
    std::string number = record.PrinterNumber;
    if (SelectPrinterByNumber(number, config, printing).empty()) {
        number = config.DefaultPrinterNumber;
        SelectPrinterByNumber(number, config, printing);
    }
    const std::string count = std::to_string(pages) + " page" + (pages == 1 ? "" : "s");
    if (printing.CurrentPrinter.empty() && !printing.ListPrinters())
        return {"the print system does not answer (" + count + "): the server waits for it"};
    if (printing.CurrentPrinter.empty())
        return {"no printer could be selected (" + count + "): the server moves such a request to \"unprintable\""};
    const std::string& printer = printing.CurrentPrinter;
    std::string first, other;
    TOverlayLookup overlays(home + kDriverDataFileName);
    overlays.GetMacros({record.PrintMask, record.PrintMask2, record.PrnFileName, record.PrnOtherFileName},
                       config.OverlayDir, printing.CurrentPrinter, log, first, other);
    std::vector<std::string> outputs;
    int printed = 0;
    for (int page = 1; page <= pages; ++page) {
        const std::string& overlay = page == 1 ? first : other;
        if (!record.IsFax && IsPageFileOverlay(overlay))
            outputs.push_back(PageFileName(config.LprQueueDir, outputFileName, overlay, page));
        else
            ++printed;
    }
    if (printed > 0)
        outputs.insert(outputs.begin(), "printed on " + printer + " (" + std::to_string(printed) + " page" +
                                            (printed == 1 ? "" : "s") + (record.IsFax ? ", one fax job)" : ")"));
    return outputs;
}

}  // namespace

int RenderCommand(const TCommandLine& line)
{
    const std::string& request = line.Arg(0);
    const std::string& out = line.Arg(1);
    const std::string home = line.Home();
    const int format = FormatForFile(out);
    if (format == 0)
        throw TUsageError("cannot tell the output format of " + out + ": use .pdf, .rtf, .doc, .txw or .tpl");
    if (!OutputFolderExists(out))
        return ExitFailed("the folder of " + out + " does not exist");
    TStderrLog log;
    TSettings settings;
    if (!settings.LoadFromFile(home + kSettingsFileName))
        return ExitFailed("no printserver.inf in " + home + " (use --home DIR or PRINTORB_HOME)");
    if (const std::string unreadable = CannotRead(request); !unreadable.empty())
        return ExitFailed(unreadable);
    std::string text;
    if (!ReadRequestText(request, text, kMaxRequestBytes))
        return ExitFailed("cannot read the request file " + request);

    QTemporaryDir scratch;
    if (!scratch.isValid())
        return ExitFailed("cannot make a temporary folder: " + scratch.errorString().toStdString());
    const std::string scratchDir = IncludeTrailingSlash(scratch.path().toStdString());
    TScratchGraphs graphs(scratchDir);
    TReportRecord record;
    record.DrawDynamicRange = [&graphs](std::string_view value) { graphs.Draw(value); };
    std::vector<std::string> tagList;
    ResetRecord(TServerHome(home).Tags(), tagList, record, log);
    ParseIntoRecord(record, text);
    graphs.Redirect(record);
    const std::string name = ExtractFileName(request);
    if (IsUnprintable(record)) {
        log.logerror(UnprintableMessage(name));
        return kExitFailed;
    }
    if (!record.ScanId.empty())
        return ExitFailed("the request prints the scanned images of " + record.ScanId + "; there is no report to render");

    // The server carries on without them; a preview without them misleads.
    TServerConfig config = TServerConfig::Read(settings);
    config.ProgramDir = home;
    config.LprQueueDir = TServerHome(home).LprQueue();  // where the server puts page files
    const std::string& templates = config.TemplatesDir;
    const std::string letterhead = templates + record.TemplateName + ".doc";
    if (!FileExists(letterhead))
        return ExitFailed("the letterhead " + letterhead + " does not exist");
    const bool usesTemplate = record.ResultText.empty() && record.EmbeddedDocument.empty();
    const std::string templ = templates + EscapeFileName(record.GetProcCode()) + ".tpl";
    if (usesTemplate && !FileExists(templ))
        return ExitFailed("the template " + templ + " does not exist");
    if (line.Has("--strict")) {
        std::vector<std::string> unknown = UnknownTags(letterhead, tagList, record);
        if (usesTemplate)
            for (std::string& tag : UnknownTags(templ, tagList, record))
                unknown.push_back(std::move(tag));
        for (const std::string& tag : unknown)
            std::cerr << "printorb-tool: " << ToUnicode(tag).toStdString() << " has no value: neither " << home
                      << "tags.txt nor the request names it\n";
        if (!unknown.empty())
            return kExitFailed;
    }

    DocumentEngine engine;
    TJobPageSetup pageSetup;
    TImageComponent probe;
    TJobContext job {engine,
                     record,
                     tagList,
                     log,
                     pageSetup,
                     templates,
                     scratchDir,  // a decoded document goes here, not into results
                     config.LprQueueDir,
                     config.PageMargin,
                     probe};
    StartReport(engine, job.PageMargin);
    const TComposeResult result = ComposeReport(job, name);
    if (result.Exit != TComposeExit::Completed)
        return ExitFailed("the report was not composed" + (result.Failure.empty() ? "" : ": " + result.Failure));
    if (const TOutcome saved = engine.SaveDocument(QString::fromStdString(out), format); !saved)
        return ExitFailed(out + ": " + saved.Reason());
    for (const std::string& output : ServerOutputs(record, result.OutputFileName, config, home, engine.CurrentPages(), log))
        std::cout << ToUnicode(output).toStdString() << '\n';
    return kExitOk;
}
