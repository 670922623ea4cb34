// printorb-tool jobs, job, resubmit and status: the job journal of a server
// home, read beside the running server.
#include "config/serverconfig.h"
#include "journal/journal.h"
#include "spool/pipeline.h"
#include "status/jobviews.h"
#include "status/resubmit.h"
#include "status/serverstatus.h"
#include "tool/commands.h"
#include "tool/jobcommands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/homelock.h"
#include "util/outputfile.h"
#include "util/packagehome.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>

namespace {

using json = TJson;

// The journal of the home, for reading beside the running server.
TOutcome OpenJournal(const TCommandLine& line, TJournal& journal, bool write = false)
{
    const std::string path = line.Home() + TJournal::kFileName;
    const TOutcome opened = write ? journal.OpenShared(path) : journal.OpenReadOnly(path);
    if (!opened && !QFile::exists(QString::fromStdString(path)))
        return Reworded(opened.Failure(), opened.Reason() + " (the server has not run in " + line.Home() + ")");
    return opened;
}

// "(2 warnings)" after a job's line; nothing for a job without any.
std::string WarningsMark(int warnings)
{
    if (warnings <= 0)
        return {};
    return "  (" + std::to_string(warnings) + (warnings == 1 ? " warning)" : " warnings)");
}

std::int64_t DayStart(const std::string& text)
{
    const QDate date = QDate::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        throw TUsageError("--since wants a date as YYYY-MM-DD, not '" + text + "'");
    return date.startOfDay().toMSecsSinceEpoch();
}

std::int64_t JobId(const std::string& text)
{
    const bool digits = !text.empty() && text.size() <= 15 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        throw TUsageError("a job is named by its number, not '" + text + "'");
    return std::stoll(text);
}

TResult<TServerConfig> HomeConfig(const TCommandLine& line)
{
    TResult<TServerConfig> config = line.HomeConfig();
    if (config && config->SpoolDir.empty())
        return Fail(std::string("SPOOLER is not set in ") + TServerHome(line.Home()).Settings());
    return config;
}

// Rows as columns two spaces apart, each as wide as its widest cell (in
// characters, not bytes); the columns named by number are right-aligned.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, const std::vector<std::size_t>& rightAligned)
{
    const auto width = [](const std::string& cell) {
        return static_cast<std::size_t>(QString::fromStdString(cell).size());
    };
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            widths[c] = std::max(widths[c], width(row[c]));
        }
    for (const auto& row : rows) {
        std::string text;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - width(row[c]), ' ');
            const bool right = std::find(rightAligned.begin(), rightAligned.end(), c) != rightAligned.end();
            const bool last = c + 1 == row.size();
            text += (c > 0 ? "  " : "") + (right ? pad + row[c] : row[c] + (last ? "" : pad));
        }
        std::cout << text << '\n';
    }
}

}  // namespace

int JobsCommand(const TCommandLine& line)
{
    TJobFilter filter;
    if (line.Has("--since"))
        filter.Since = DayStart(line.Value("--since"));
    filter.ReqCode = FromUnicode(QString::fromStdString(line.Value("--reqcode")));
    if (line.Has("--state")) {
        filter.State = StateNamed(line.Value("--state"));
        if (!filter.State)
            throw TUsageError("--state is one of running, waiting, done, failed, unprintable, not '" +
                              line.Value("--state") + "'");
    }
    TJournal journal;
    if (const TOutcome opened = OpenJournal(line, journal); !opened)
        return ExitFailed(opened.Reason());
    const TResult<std::vector<TJobRow>> jobs = journal.Jobs(filter);
    if (!jobs)
        return ExitFailed(jobs.Reason());
    if (line.Has("--json")) {
        json all = json::array();
        for (const TJobRow& job : *jobs) {
            const TResult<json> listed = JobJson(journal, job);
            if (!listed)
                return ExitFailed(listed.Reason());
            all.push_back(*listed);
        }
        std::cout << all.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows = {
        {"TAKEN", "JOB", "FILE", "REQUEST", "STATE", "TRIES", "PRINTER", "OUTPUT"}};
    for (const TJobRow& job : *jobs) {
        const TResult<std::string> column = OutputsColumn(journal, job.Id);
        if (!column)
            return ExitFailed(column.Reason());
        const std::string& outputs = *column;
        rows.push_back({When(job.TakenAt), std::to_string(job.Id), Utf8(job.SpoolFile),
                        job.ReqCode.empty() ? "-" : Utf8(job.ReqCode), StateName(job.State),
                        std::to_string(job.Attempts), job.Printer.empty() ? "-" : Utf8(job.Printer),
                        (outputs.empty() ? "-" : outputs) + WarningsMark(job.Warnings)});
    }
    PrintColumns(rows, {1, 5});
    return kExitOk;
}

int JobCommand(const TCommandLine& line)
{
    const std::int64_t id = JobId(line.Arg(0));
    TJournal journal;
    if (const TOutcome opened = OpenJournal(line, journal); !opened)
        return ExitFailed(opened.Reason());
    const TResult<TJobRow> job = ReadJob(journal, id);
    if (!job)
        return ExitFailed(job.Reason());
    if (line.Has("--json")) {
        const TResult<json> story = JobStoryJson(journal, *job);
        if (!story)
            return ExitFailed(story.Reason());
        std::cout << story->dump(2, ' ', false, json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
    const TResult<std::vector<TOutputRow>> outputs = journal.Outputs(id);
    if (!outputs)
        return ExitFailed(outputs.Reason());
    const TResult<TStory> story = JobStory(journal, id);
    if (!story)
        return ExitFailed(story.Reason());
    std::cout << "job " << job->Id << ": " << Utf8(job->SpoolFile) << " (" << job->Kind << ", " << job->Size
              << " bytes, sha256 " << job->Hash.substr(0, 16) << "...)\n"
              << "  request " << (job->ReqCode.empty() ? "-" : Utf8(job->ReqCode)) << ", procedure "
              << (job->ProcCode.empty() ? "-" : Utf8(job->ProcCode)) << '\n'
              << "  state " << StateName(job->State) << " after " << job->Attempts << " attempt(s)";
    if (job->State == TJobState::Waiting)
        std::cout << ", next attempt " << When(job->NextAttemptAt);
    if (job->Warnings > 0)
        std::cout << ", " << job->Warnings << " warning(s) in its story";
    std::cout << '\n';
    if (!job->Reason.empty())
        std::cout << "  last reason: " << Utf8(job->Reason) << '\n';
    std::cout << "  " << OutputSummary(*job, *outputs) << '\n';
    std::cout << "story:\n";
    for (const auto& [at, what] : *story)
        std::cout << "  " << When(at) << "  " << what << '\n';
    return kExitOk;
}

int ResubmitCommand(const TCommandLine& line)
{
    const std::int64_t id = JobId(line.Arg(0));
    const TResult<TServerConfig> config = HomeConfig(line);
    if (!config)
        return ExitFailed(config.Reason());
    TJournal journal;
    if (const TOutcome opened = OpenJournal(line, journal, true); !opened)
        return ExitFailed(opened.Reason());
    const TResult<TResubmitted> sent = Resubmit(journal, line.Home(), config->SpoolDir, id, "printorb-tool");
    if (!sent)
        return ExitFailed(sent.Reason());
    std::cout << sent->Message << '\n';
    return kExitOk;
}

namespace {

// The headline's "not ok: " and why, for a status that could not be read.
int NotOk(const std::string& why)
{
    std::cout << "not ok: " << why << '\n';
    return kExitFailed;
}

int Status(const TCommandLine& line)
{
    const TResult<TServerConfig> config = HomeConfig(line);
    if (!config)
        return NotOk(config.Reason());
    TJournal journal;
    if (const TOutcome opened = OpenJournal(line, journal); !opened)
        return NotOk(opened.Reason());
    TPrintingLayer printing;
    TStatusQuery query {.Home = IncludeTrailingSlash(line.Home()),
                        .SpoolDir = config->SpoolDir,
                        .ResultsDir = config->ResultsDir,
                        .Now = QDateTime::currentMSecsSinceEpoch(),
                        .LateAfterMs = line.Number("--late-after", 15, 0, 7 * 24 * 60) * 60 * 1000LL,
                        .PrintSystemAnswers = [&printing] { return printing.ListPrinters().has_value(); },
                        .SchedulerName = printing.SchedulerName(),
                        .JournalWritable = {},
                        .ServerPid = THomeLock::Holder(line.Home())};
    query.JournalWritable = [&line]() -> TOutcome {
        TJournal writer;
        if (const TOutcome opened = writer.OpenShared(line.Home() + TJournal::kFileName); !opened)
            return TOutcome::Done();  // not this line's matter: the reader said it
        return writer.CanWrite();
    };
    const TServerStatus status = ReadServerStatus(journal, query);
    std::cout << status.Headline() << '\n';
    for (const std::string& detail : StatusDetails(status))
        std::cout << detail << '\n';
    return status.Ok() ? kExitOk : kExitFailed;
}

}  // namespace

int StatusCommand(const TCommandLine& line)
{
    // A monitor reads the first line: it is there whatever went wrong.
    try {
        return Status(line);
    } catch (const std::exception& failure) {
        return NotOk(failure.what());
    }
}
