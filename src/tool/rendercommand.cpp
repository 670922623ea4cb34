// printorb-tool render REQUEST OUT [--home DIR] [--strict]: composes a request with the
// settings, tags.txt and templates of a server home through the server's own
// path (ComposeRequest), and saves the document: the template author's
// preview. It changes nothing in the home: the graphs and decoded documents a
// request asks for go to a temporary folder. It prints what the server would
// output, and the warnings the server would keep with the job.
#include "compose/dynamictarget.h"
#include "compose/mergefields.h"
#include "config/serverconfig.h"
#include "platform/driverdata/driverdata.h"
#include "request/tagfile.h"
#include "spool/composerequest.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"
#include "util/serverhome.h"

#include <QTemporaryDir>

#include <iostream>
#include <map>
#include <set>

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

// The job's log lines on standard error; each warning once and marked, as
// the server keeps it with the job.
class TRenderLog : public TStderrLog {
public:
    void logline(TSeverity severity, std::string_view message) override
    {
        if (severity != TSeverity::Warning)
            return TStderrLog::logline(severity, message);
        if (FWarnings.insert(std::string(message)).second)
            TStderrLog::logline(severity, "warning: " + std::string(message));
    }
    std::size_t Warnings() const { return FWarnings.size(); }

private:
    std::set<std::string> FWarnings;
};

std::string Count(int pages)
{
    return std::to_string(pages) + " page" + (pages == 1 ? "" : "s");
}

// What the print run would output, one line each: the saved document, or
// the printer and each page file; or why the server holds the request.
std::vector<std::string> PlannedOutputs(const TComposedRequest& request)
{
    const TOutputPlan& plan = request.Plan;
    if (!plan.SavedDocument.empty())
        return {plan.SavedDocument};
    if (request.Exit == TRequestExit::PrintSystemDown)
        return {"the print system does not answer (" + Count(plan.Pages) + "): the server waits for it"};
    if (request.Exit == TRequestExit::NoPrinter)
        return {"no printer could be selected (" + Count(plan.Pages) +
                "): the server moves such a request to \"unprintable\""};
    std::vector<std::string> outputs;
    for (const std::string& pageFile : plan.PageFiles)
        if (!pageFile.empty())
            outputs.push_back(pageFile);
    const int printed = plan.Pages - static_cast<int>(outputs.size());
    if (printed > 0)
        outputs.insert(outputs.begin(),
                       "printed on " + plan.Printer + " (" + Count(printed) + (plan.Fax ? ", one fax job)" : ")"));
    return outputs;
}

// The request as the server reads it: the tag file, the fields, and its
// graphs drawn into the scratch folder.
struct TPreviewRequest {
    TReportRecord Record;
    std::vector<std::string> TagList;
    bool TagsRead = false;
};

// With --strict: each tag of the letterhead and template that would print
// blank, said on standard error; false when there is one.
bool TagsHaveValues(const TPreviewRequest& request, const TServerConfig& config)
{
    const TReportRecord& record = request.Record;
    const std::string& templates = config.TemplatesDir;
    std::vector<std::string> unknown = UnknownTags(templates + record.TemplateName + ".doc", request.TagList, record);
    if (record.ResultText.empty() && record.EmbeddedDocument.empty())
        for (std::string& tag :
             UnknownTags(templates + EscapeFileName(record.GetProcCode()) + ".tpl", request.TagList, record))
            unknown.push_back(std::move(tag));
    for (const std::string& tag : unknown)
        std::cerr << "printorb-tool: " << ToUnicode(tag).toStdString() << " has no value: neither "
                  << config.ProgramDir << "tags.txt nor the request names it\n";
    return unknown.empty();
}

// The request through the server's own way, into the engine; the documents
// it carries are decoded into the scratch folder, not into results.
TComposedRequest Compose(DocumentEngine& engine, TPreviewRequest& request, const TServerConfig& config,
                         const std::string& scratchDir, TRenderLog& log, std::string_view name)
{
    TJobPageSetup pageSetup;
    TImageComponent probe;
    TJobContext job {engine,     request.Record, request.TagList,
                     log,        pageSetup,      config.TemplatesDir,
                     scratchDir, config.PageMarginOrDefault(), probe};
    TPrintingLayer printing;
    TOverlayLookup overlays(config.ProgramDir + kDriverDataFileName);
    TRequestContext compose {job, config, printing, overlays};
    compose.TagsMissing = !request.TagsRead;
    compose.KeepWarning = [&log](std::string_view warning) { log.logwarning(warning); };
    compose.Preview = true;
    return ComposeRequest(compose, name);
}

// Why the preview has no report to save; empty when it has one.
std::optional<int> NoReport(const TComposedRequest& composed, const TReportRecord& record)
{
    switch (composed.Exit) {
    case TRequestExit::Unprintable: return kExitFailed;  // the log line said why
    case TRequestExit::ScanImages:
        return ExitFailed("the request prints the scanned images of " + record.ScanId +
                          "; there is no report to render");
    case TRequestExit::NotComposed:
        return ExitFailed("the report was not composed" +
                          (composed.Failure.Reason.empty() ? "" : ": " + composed.Failure.Reason));
    case TRequestExit::Composed:
    case TRequestExit::NoPrinter:
    case TRequestExit::PrintSystemDown: break;
    }
    return std::nullopt;
}

}  // namespace

int RenderCommand(const TCommandLine& line)
{
    const std::string& requestFile = line.Arg(0);
    const std::string& out = line.Arg(1);
    const int format = FormatForFile(out);
    if (!OutputFolderExists(out))
        return ExitFailed("the folder of " + out + " does not exist");
    TRenderLog log;
    const TResult<TServerConfig> config = line.HomeConfig();
    if (!config)
        return ExitFailed(config.Reason());
    if (const std::string unreadable = CannotRead(requestFile); !unreadable.empty())
        return ExitFailed(unreadable);
    std::string text;
    if (!ReadRequestText(requestFile, text, kMaxRequestBytes))
        return ExitFailed("cannot read the request file " + requestFile);

    QTemporaryDir scratch;
    if (!scratch.isValid())
        return ExitFailed("cannot make a temporary folder: " + scratch.errorString().toStdString());
    const std::string scratchDir = IncludeTrailingSlash(scratch.path().toStdString());
    TScratchGraphs graphs(scratchDir);
    TPreviewRequest request;
    request.Record.DrawDynamicRange = [&graphs](std::string_view value) { graphs.Draw(value); };
    request.TagsRead = ResetRecord(TServerHome(config->ProgramDir).Tags(), request.TagList, request.Record, log);
    ParseIntoRecord(request.Record, text);
    graphs.Redirect(request.Record);
    if (line.Has("--strict") && !TagsHaveValues(request, *config))
        return kExitFailed;

    DocumentEngine engine;
    const TComposedRequest composed = Compose(engine, request, *config, scratchDir, log, ExtractFileName(requestFile));
    if (const std::optional<int> exit = NoReport(composed, request.Record))
        return *exit;
    if (line.Has("--strict") && log.Warnings() > 0)
        return ExitFailed("the server would output this report with " + std::to_string(log.Warnings()) +
                          " warning(s)");
    if (const TOutcome saved = engine.SaveDocument(QString::fromStdString(out), format); !saved)
        return ExitFailed(out + ": " + saved.Reason());
    for (const std::string& output : PlannedOutputs(composed))
        std::cout << ToUnicode(output).toStdString() << '\n';
    return kExitOk;
}
