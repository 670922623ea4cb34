#include "status/jobviews.h"

#include "util/codepage.h"

#include <QDateTime>

#include <algorithm>
#include <sstream>

std::string Utf8(std::string_view text)
{
    return ToUnicode(text).toStdString();
}

std::string When(std::int64_t ms)
{
    if (ms <= 0)
        return "-";
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString();
}

std::string Iso(std::int64_t ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

std::string Ago(std::int64_t ms)
{
    const std::int64_t seconds = ms / 1000;
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    if (seconds < 7200)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 2 * 86400)
        return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

TResult<std::vector<std::string>> OutputsOf(TJournal& journal, std::int64_t job)
{
    const TResult<std::vector<TOutputRow>> rows = journal.Outputs(job);
    if (!rows)
        return rows.Failure();
    std::vector<std::string> outputs;
    for (const TOutputRow& o : *rows) {
        if (o.State != "done")
            continue;
        if (o.Kind == "cups")
            outputs.push_back(o.CupsJob > 0 ? "cups:" + std::to_string(o.CupsJob) : "cups:" + o.Printer);
        else
            outputs.push_back(Utf8(o.Path));
    }
    return outputs;
}

std::string Described(const TOutputRow& o)
{
    const std::string page = o.Page > 0 ? "page " + std::to_string(o.Page) + " " : "";
    const std::string title = o.Title.empty() ? "" : " \"" + Utf8(o.Title) + "\"";
    const std::string be = o.State == "done" ? "" : "to be ";
    if (o.Kind == "cups")
        return page + be + "printed" + title + " on " +
               (o.Printer.empty() ? "the default printer" : Utf8(o.Printer)) +
               (o.CupsJob > 0 ? " as CUPS job " + std::to_string(o.CupsJob) : "");
    if (o.Kind == "page file")
        return page + be + "written to " + Utf8(o.Path);
    if (o.Kind == "document")
        return be + "saved as " + Utf8(o.Path);
    if (o.Kind == "queued")
        return be + "queued as " + Utf8(o.Path);
    return o.Kind + title + (o.Path.empty() ? "" : " " + Utf8(o.Path));
}

std::string OutputSummary(const TJobRow& job, const std::vector<TOutputRow>& outputs)
{
    std::vector<std::string> made;
    for (const TOutputRow& o : outputs)
        if (o.State == "done")
            made.push_back(Described(o));
    if (!made.empty()) {
        std::string text = "output: " + made.front();
        for (std::size_t i = 1; i < made.size(); ++i)
            text += "; " + made[i];
        return text + (job.Overlay.empty() ? "" : " (overlay " + Utf8(job.Overlay) + ")");
    }
    const bool open = job.State == TJobState::Running || job.State == TJobState::Waiting;
    if (!open || job.OutputKind.empty())
        return "output: none";
    return "output: none yet (to be " + PlannedOutput(job.OutputKind, Utf8(job.Printer)) + ")";
}

TResult<std::string> OutputsColumn(TJournal& journal, std::int64_t job)
{
    const TResult<std::vector<std::string>> made = OutputsOf(journal, job);
    if (!made)
        return made.Failure();
    const TResult<std::vector<TDeliveryRow>> deliveries = journal.Deliveries(job);
    if (!deliveries)
        return deliveries.Failure();
    std::string outputs;
    for (const std::string& o : *made)
        outputs += (outputs.empty() ? "" : ",") + o;
    // A printer file or page file: where the LPR queue delivered it.
    for (const TDeliveryRow& d : *deliveries)
        if (d.Code == 0)
            outputs += " (" + d.Route + " to " + Utf8(d.Host) + (d.Port > 0 ? ":" + std::to_string(d.Port) : "") + ")";
    return outputs;
}

TResult<TJson> JobJson(TJournal& journal, const TJobRow& job)
{
    const TResult<std::vector<std::string>> outputs = OutputsOf(journal, job.Id);
    if (!outputs)
        return outputs.Failure();
    return TJson {{"id", job.Id},
                  {"request", Utf8(job.SpoolFile)},
                  {"kind", job.Kind},
                  {"reqcode", Utf8(job.ReqCode)},
                  {"proccode", Utf8(job.ProcCode)},
                  {"state", StateName(job.State)},
                  {"attempts", job.Attempts},
                  {"taken", Iso(job.TakenAt)},
                  {"updated", Iso(job.UpdatedAt)},
                  {"next_attempt", job.State == TJobState::Waiting ? TJson(Iso(job.NextAttemptAt)) : TJson(nullptr)},
                  {"printer", Utf8(job.Printer)},
                  {"overlay", Utf8(job.Overlay)},
                  {"output_kind", job.OutputKind},
                  {"outputs", *outputs},
                  {"reason", Utf8(job.Reason)},
                  {"waiting_for", job.WaitingFor.empty() ? TJson(nullptr) : TJson(Utf8(job.WaitingFor))},
                  {"warnings", job.Warnings},
                  {"size", job.Size},
                  {"sha256", job.Hash}};
}

namespace {

// What the journal keeps of one job beside its row, read together.
struct TJobRecords {
    std::vector<TEventRow> Events;
    std::vector<TOutputRow> Outputs;
    std::vector<TDeliveryRow> Deliveries;
};

TResult<TJobRecords> ReadRecords(TJournal& journal, std::int64_t job)
{
    TResult<std::vector<TEventRow>> events = journal.Events(job);
    TResult<std::vector<TOutputRow>> outputs = journal.Outputs(job);
    TResult<std::vector<TDeliveryRow>> deliveries = journal.Deliveries(job);
    if (!events)
        return events.Failure();
    if (!outputs)
        return outputs.Failure();
    if (!deliveries)
        return deliveries.Failure();
    return TJobRecords {std::move(events).Value(), std::move(outputs).Value(), std::move(deliveries).Value()};
}

TStory StoryOf(const TJobRecords& records)
{
    TStory story;
    for (const TEventRow& e : records.Events)
        story.emplace_back(e.At, Utf8(e.What));
    for (const TOutputRow& o : records.Outputs)
        story.emplace_back(o.StartedAt, Described(o) + " (attempt " + std::to_string(o.Attempt) + ")" +
                                            (o.State == "done" ? "" : ": not known to have been made"));
    for (const TDeliveryRow& d : records.Deliveries) {
        std::ostringstream line;
        line << "delivery of " << Utf8(d.File) << " by " << d.Route << " to " << Utf8(d.Host)
             << (d.Port > 0 ? ":" + std::to_string(d.Port) : "") << ": code " << d.Code
             << (d.Code == 0 ? ", " + std::to_string(d.Bytes) + " bytes" : "")
             << (d.Detail.empty() ? "" : " (" + Utf8(d.Detail) + ")") << " in " << d.DurationMs << " ms";
        story.emplace_back(d.At, line.str());
    }
    std::stable_sort(story.begin(), story.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return story;
}

}  // namespace

TResult<TJson> JobStoryJson(TJournal& journal, const TJobRow& job)
{
    TResult<TJson> listed = JobJson(journal, job);
    if (!listed)
        return listed.Failure();
    const TResult<TJobRecords> records = ReadRecords(journal, job.Id);
    if (!records)
        return records.Failure();
    TJson story = std::move(listed).Value();
    story["events"] = TJson::array();
    story["warning_list"] = TJson::array();
    for (const TEventRow& e : records->Events) {
        story["events"].push_back({{"at", Iso(e.At)}, {"what", Utf8(e.What)}});
        if (e.What.starts_with(TJournal::kWarningPrefix))
            story["warning_list"].push_back(
                {{"at", Iso(e.At)}, {"what", Utf8(e.What.substr(TJournal::kWarningPrefix.size()))}});
    }
    story["output_records"] = TJson::array();
    for (const TOutputRow& o : records->Outputs)
        story["output_records"].push_back({{"kind", o.Kind},         {"page", o.Page},
                                           {"title", Utf8(o.Title)}, {"printer", Utf8(o.Printer)},
                                           {"cups_job", o.CupsJob},  {"path", Utf8(o.Path)},
                                           {"state", o.State},       {"attempt", o.Attempt},
                                           {"started", Iso(o.StartedAt)}});
    story["deliveries"] = TJson::array();
    for (const TDeliveryRow& d : records->Deliveries)
        story["deliveries"].push_back({{"at", Iso(d.At)}, {"file", Utf8(d.File)}, {"route", d.Route},
                                       {"host", Utf8(d.Host)}, {"port", d.Port}, {"code", d.Code},
                                       {"detail", Utf8(d.Detail)}, {"bytes", d.Bytes},
                                       {"duration_ms", d.DurationMs}});
    story["summary"] = OutputSummary(job, records->Outputs);
    story["story"] = TJson::array();
    for (const auto& [at, what] : StoryOf(*records))
        story["story"].push_back({{"at", Iso(at)}, {"what", what}});
    return story;
}

TResult<TStory> JobStory(TJournal& journal, std::int64_t job)
{
    const TResult<TJobRecords> records = ReadRecords(journal, job);
    if (!records)
        return records.Failure();
    return StoryOf(*records);
}
