// printorb-tool render REQUEST OUT [--home DIR]: composes a request with the
// settings, tags.txt and templates of a server home exactly as the server
// would, and saves the document: the template author's preview.
#include "config/settingsstore.h"
#include "platform/docengine/documentengine.h"
#include "request/tagfile.h"
#include "spool/reportjob.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <iostream>

namespace {

constexpr std::uint64_t kMaxRequestBytes = 256ull * 1024 * 1024;

struct TStderrLog : TLogger {
    void loginfo(std::string_view message) override { std::cerr << ToUnicode(message).toStdString() << '\n'; }
};

}  // namespace

int FormatForFile(const QString& path);

int RenderCommand(const TArgs& args)
{
    const TArgs files = Positionals(args, {"--home"});
    if (files.size() != 2) {
        std::cerr << "usage: printorb-tool render REQUEST OUT [--home DIR]   (OUT: .pdf, .rtf/.doc, .txw/.tpl)\n";
        return 2;
    }
    const std::string home = ToolHome(args);
    const int format = FormatForFile(QString::fromStdString(files[1]));
    if (format == 0) {
        std::cerr << "Cannot tell the output format of " << files[1] << ": use .pdf, .rtf, .doc, .txw or .tpl\n";
        return 1;
    }
    TStderrLog log;
    TSettings settings;
    if (!settings.LoadFromFile(home + "printserver.inf")) {
        log.loginfo("Warning. Setup file is missing.");
        std::cerr << "No printserver.inf in " << home << " (use --home DIR or PRINTORB_HOME)\n";
        return 1;
    }
    std::string text;
    if (!ReadRequestText(files[0], text, kMaxRequestBytes)) {
        std::cerr << "Cannot read the request file " << files[0] << '\n';
        return 1;
    }

    TReportRecord record;
    std::vector<std::string> tagList;
    ResetRecord(home + "tags.txt", tagList, record, log);
    ParseIntoRecord(record, text);
    const std::string name = ExtractFileName(files[0]);
    if (IsUnprintable(record)) {
        log.loginfo(UnprintableMessage(name));
        return 1;
    }
    if (!record.ScanId.empty()) {
        std::cerr << "The request prints the scanned images of " << record.ScanId << "; there is no report to render.\n";
        return 1;
    }

    DocumentEngine engine;
    TJobPageSetup pageSetup;
    TImageComponent probe;
    TJobContext job {engine,
                     record,
                     tagList,
                     log,
                     pageSetup,
                     IncludeTrailingSlash(settings.Value("TEMPLATES")),
                     IncludeTrailingSlash(settings.Value("RESULTS")),
                     home + "lpdspooler/",
                     settings.Value("pagemargin"),
                     probe};
    StartReport(engine, job.PageMargin);
    const TComposeResult result = ComposeReport(job, name);
    if (result.Exit != TComposeExit::Completed) {
        if (!result.Failure.empty())
            std::cerr << result.Failure << '\n';
        std::cerr << "The report was not composed.\n";
        return 1;
    }
    if (!engine.SaveDocument(QString::fromStdString(files[1]), -1, format, false)) {
        std::cerr << engine.LastError().toStdString() << '\n';
        return 1;
    }
    std::cout << ToUnicode(result.OutputFileName).toStdString() << '\n';
    return 0;
}
