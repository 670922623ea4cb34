// printorb-tool render REQUEST OUT [--home DIR] [--strict]: composes a request with the
// settings, tags.txt and templates of a server home exactly as the server
// would, and saves the document: the template author's preview.
#include "config/settingsstore.h"
#include "config/serverconfig.h"
#include "platform/docengine/documentengine.h"
#include "compose/mergefields.h"
#include "compose/dynamictarget.h"
#include "request/tagfile.h"
#include "spool/reportjob.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <iostream>

namespace {

constexpr std::uint64_t kMaxRequestBytes = 256ull * 1024 * 1024;

// The tags of a file that would print blank for want of a value: neither
// tags.txt nor the request names them. "<<TAG>> in FILE" each.
std::vector<std::string> UnknownTags(const std::string& path, int format, const std::vector<std::string>& tagList,
                                     const TReportRecord& record)
{
    std::vector<std::string> unknown;
    DocumentEngine engine;
    try {
        engine.LoadDocument(ToUnicode(path), 0, format, false);
    } catch (const std::exception&) {
        return unknown;  // the composition reports what it cannot load
    }
    for (const std::string& tag : DocumentTags(engine))
        if (!TagFileKnows(tag, tagList) && record.IndexOfName(tag) < 0)
            unknown.push_back("<<" + tag + ">> in " + path);
    return unknown;
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
    if (!settings.LoadFromFile(home + "printserver.inf"))
        return ExitFailed("no printserver.inf in " + home + " (use --home DIR or PRINTORB_HOME)");
    std::string text;
    if (!ReadRequestText(request, text, kMaxRequestBytes))
        return ExitFailed("cannot read the request file " + request);

    TReportRecord record;
    record.DrawDynamicRange = DrawDynamicRangeGraph;  // as the server draws them
    std::vector<std::string> tagList;
    ResetRecord(home + "tags.txt", tagList, record, log);
    ParseIntoRecord(record, text);
    const std::string name = ExtractFileName(request);
    if (IsUnprintable(record)) {
        log.loginfo(UnprintableMessage(name));
        return kExitFailed;
    }
    if (!record.ScanId.empty())
        return ExitFailed("the request prints the scanned images of " + record.ScanId + "; there is no report to render");

    // The server carries on without them; a preview without them misleads.
    const TServerConfig config = TServerConfig::Read(settings);
    const std::string& templates = config.TemplatesDir;
    const std::string letterhead = templates + record.TemplateName + ".doc";
    if (!FileExists(letterhead))
        return ExitFailed("the letterhead " + letterhead + " does not exist");
    const bool usesTemplate = record.ResultText.empty() && record.EmbeddedDocument.empty();
    const std::string templ = templates + EscapeFileName(record.GetProcCode()) + ".tpl";
    if (usesTemplate && !FileExists(templ))
        return ExitFailed("the template " + templ + " does not exist");
    if (line.Has("--strict")) {
        std::vector<std::string> unknown = UnknownTags(letterhead, DocumentEngine::WordFormat, tagList, record);
        if (usesTemplate)
            for (std::string& tag : UnknownTags(templ, DocumentEngine::OwnFormat, tagList, record))
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
                     config.ResultsDir,
                     home + "lpdspooler/",
                     config.PageMargin,
                     probe};
    StartReport(engine, job.PageMargin);
    const TComposeResult result = ComposeReport(job, name);
    if (result.Exit != TComposeExit::Completed)
        return ExitFailed("the report was not composed" + (result.Failure.empty() ? "" : ": " + result.Failure));
    if (!engine.SaveDocument(QString::fromStdString(out), -1, format, false))
        return ExitFailed(out + ": " + engine.LastError().toStdString());
    std::cout << ToUnicode(result.OutputFileName).toStdString() << '\n';
    return kExitOk;
}
