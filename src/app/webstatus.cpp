#include "app/webstatus.h"

#include "app/printserver.h"
#include "printers/overlaylist.h"
#include "status/resubmit.h"
#include "util/codepage.h"

#include <QDateTime>

#include <unistd.h>

namespace {

const char* ColorName(TLightColor color)
{
    switch (color) {
    case TLightColor::Green: return "green";
    case TLightColor::Red: return "red";
    case TLightColor::Off: break;
    }
    return "off";
}

const char* SeverityName(int priority)
{
    return priority <= TEventLog::kErr ? "error" : priority <= TEventLog::kWarning ? "warning" : "info";
}

}  // namespace

TJournal& TServerWebSource::Journal()
{
    return FServer.Pipeline().Journal();
}

TServerStatus TServerWebSource::Status(int lastJobs)
{
    TJobPipeline& pipeline = FServer.Pipeline();
    const TServerConfig& config = FServer.Config();
    TPrintingLayer& printing = pipeline.Printing();
    const TStatusQuery query {
        .Home = config.ProgramDir,
        .SpoolDir = config.SpoolDir,
        .ResultsDir = config.ResultsDir,
        .Now = QDateTime::currentMSecsSinceEpoch(),
        .LateAfterMs = 15 * 60 * 1000,
        .PrintSystemAnswers = [this, &printing] {
            const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
            if (FPrintSystemAt == 0 || now - FPrintSystemAt >= kPrintSystemReuseMs || now < FPrintSystemAt) {
                FPrintSystemUp = printing.Destinations(TPrintingLayer::kDestinationsReuseMs).Answered;
                FPrintSystemAt = now;
            }
            return FPrintSystemUp;
        },
        .SchedulerName = printing.SchedulerName(),
        .JournalWritable = {},  // the server's own journal outage is among its outages
        .ServerPid = static_cast<long>(::getpid()),
        .LastJobs = lastJobs};
    return ReadServerStatus(pipeline.Journal(), query);
}

TLiveState TServerWebSource::Live()
{
    const TIndicators& lights = FServer.Indicators();
    TLiveState live;
    for (const TLight light : {TLight::Spool, TLight::Convert, TLight::Printing, TLight::LPR})
        live.Lights[static_cast<std::size_t>(light)] = ColorName(lights.Light(light));
    live.Spooled = lights.PrintQueue();
    live.LprQueue = lights.LPRQueue();
    live.Busy = FServer.Pipeline().State().Busy();
    live.Caption = TPrintServer::kCaption;
    live.Version = kProgramVersion;
    return live;
}

std::vector<TLogLine> TServerWebSource::LogSince(std::uint64_t seq, std::size_t max)
{
    std::vector<TLogLine> lines;
    const auto& entries = FServer.Log().Entries();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->Seq <= seq)
            continue;
        // Only the newest max of them.
        const auto left = static_cast<std::size_t>(std::distance(it, entries.end()));
        if (left > max)
            continue;
        lines.push_back({it->Seq, ToUnicode(it->Line).toStdString(), SeverityName(it->Priority)});
    }
    return lines;
}

std::vector<TPrinterState> TServerWebSource::Printers()
{
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (FPrintersAt != 0 && now - FPrintersAt < kPrintersReuseMs && now >= FPrintersAt)
        return FPrinters;
    TJobPipeline& pipeline = FServer.Pipeline();
    const TServerConfig& config = FServer.Config();
    TPrintingLayer& printing = pipeline.Printing();
    // Not asked again while the print system is known not to answer.
    const TDestinations said = FPrintSystemAt != 0 && !FPrintSystemUp
                                   ? TDestinations {}
                                   : printing.Destinations(TPrintingLayer::kDestinationsReuseMs);
    const auto stateOf = [&](TPrinterState& p) {
        const std::string installed = said.Answered ? said.Find(p.Name) : std::string();
        p.Known = !installed.empty();
        p.State = "unknown";
        if (!p.Known)
            return;
        const TResult<TDestinationState> state = printing.DestinationState(installed);
        if (!state) {
            p.Message = state.Reason();
            return;
        }
        p.State = state->Stopped ? "stopped" : state->Processing ? "printing" : "idle";
        p.Accepting = state->Accepting;
        p.Message = state->Message;
    };
    std::vector<TPrinterState> printers;
    TPrinterState fallback;
    fallback.Name = config.DefaultPrinterName();
    fallback.Name = fallback.Name.substr(0, fallback.Name.find('|'));
    fallback.IsDefault = true;
    stateOf(fallback);
    printers.push_back(fallback);
    for (const std::string& line : FServer.Printers().Printerlist()) {
        TPrinterState p;
        p.Number = TPrinterTable::NumberOf(line);
        p.Name = TPrinterTable::PrinterNameOf(line);
        p.Host = config.HostOf(p.Number);
        stateOf(p);
        p.Overlays = OverlayRows(pipeline.Overlays().MacroLookup(0, p.Name));
        printers.push_back(p);
    }
    // Names and words as UTF-8 for the page.
    for (TPrinterState& p : printers) {
        p.Name = ToUnicode(p.Name).toStdString();
        p.Host = ToUnicode(p.Host).toStdString();
        p.Message = ToUnicode(p.Message).toStdString();
        for (auto& [number, description] : p.Overlays) {
            number = ToUnicode(number).toStdString();
            description = ToUnicode(description).toStdString();
        }
    }
    FPrinters = printers;
    FPrintersAt = now;
    return FPrinters;
}

const TServerTally& TServerWebSource::Tally()
{
    return FServer.Pipeline().Tally();
}

TResult<std::string> TServerWebSource::Resubmit(std::int64_t id, const std::string& by)
{
    const TServerConfig& config = FServer.Config();
    TJournal& journal = FServer.Pipeline().Journal();
    // The page sends again only a request that did not print, and only
    // once: the copy in temp/ would print a done report a second time.
    // Reprinting one is the tool's, in its operator's hands.
    const TResult<std::optional<TJobRow>> read = journal.Job(id);
    if (!read)
        return Fail("the journal " + journal.Path() + " could not be read: " + read.Reason());
    if (const std::optional<TJobRow>& job = *read) {
        if (job->State == TJobState::Done)
            return Fail("job " + std::to_string(id) + " is done: the page sends again only a job that did not print");
        if (job->State == TJobState::Failed || job->State == TJobState::Unprintable) {
            const TResult<std::vector<TJobRow>> later = journal.Jobs({.Since = job->TakenAt});
            if (!later)
                return Fail("the journal " + journal.Path() + " could not be read: " + later.Reason());
            for (const TJobRow& again : *later)
                if (again.Id > id && again.Hash == job->Hash)
                    return Fail("job " + std::to_string(id) + "'s request was taken again as job " +
                                std::to_string(again.Id));
        }
    }
    const TResult<TResubmitted> sent = ::Resubmit(journal, config.ProgramDir, config.SpoolDir, id, by);
    if (!sent)
        return sent.Failure();
    FServer.loginfo("Job " + std::to_string(id) + " was sent again by " + by + ".");
    return sent->Message;
}
