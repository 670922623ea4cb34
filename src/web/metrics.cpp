#include "web/metrics.h"

#include <charconv>
#include <sstream>

namespace {

// Label values escaped as the text format wants: backslash, quote, newline.
std::string Label(const std::string& value)
{
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

// The shortest text that reads back as the same number.
std::string Number(double value)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

class TWriter {
public:
    void Family(const char* name, const char* type, const char* help)
    {
        FOut << "# HELP " << name << ' ' << help << '\n' << "# TYPE " << name << ' ' << type << '\n';
    }
    void Sample(const std::string& name, double value, const std::string& labels = {})
    {
        FOut << name << (labels.empty() ? "" : "{" + labels + "}") << ' ' << Number(value) << '\n';
    }
    std::string Text() const { return FOut.str(); }

private:
    std::ostringstream FOut;
};

}  // namespace

std::string MetricsText(const TServerStatus& s, const TServerTally& tally, const std::string& version)
{
    TWriter w;
    w.Family("printorb_jobs_total", "counter", "Jobs that came to a state since the server started.");
    for (const char* state : {"done", "failed", "unprintable", "waiting"}) {
        const auto it = tally.JobsEnded.find(state);
        w.Sample("printorb_jobs_total", it == tally.JobsEnded.end() ? 0 : static_cast<double>(it->second),
                 "state=\"" + std::string(state) + "\"");
    }
    w.Family("printorb_pages_printed_total", "counter", "Pages sent to the print system since the server started.");
    w.Sample("printorb_pages_printed_total", static_cast<double>(tally.PagesPrinted));
    w.Family("printorb_deliveries_total", "counter",
             "Deliveries of printer files by route and result since the server started.");
    for (const auto& [key, count] : tally.Deliveries)
        w.Sample("printorb_deliveries_total", static_cast<double>(count),
                 "route=\"" + Label(key.first) + "\",result=\"" + Label(key.second) + "\"");
    w.Family("printorb_compose_seconds", "histogram", "Time to compose a report from its request.");
    for (std::size_t i = 0; i < TDurations::kBounds.size(); ++i)
        w.Sample("printorb_compose_seconds_bucket", static_cast<double>(tally.Compose.AtMost(i)),
                 "le=\"" + Number(TDurations::kBounds[i]) + "\"");
    w.Sample("printorb_compose_seconds_bucket", static_cast<double>(tally.Compose.Count()), "le=\"+Inf\"");
    w.Sample("printorb_compose_seconds_sum", tally.Compose.Sum());
    w.Sample("printorb_compose_seconds_count", static_cast<double>(tally.Compose.Count()));

    w.Family("printorb_spool_files", "gauge", "Requests and printer files waiting in the spool folder.");
    w.Sample("printorb_spool_files", s.Spooled.Count);
    w.Family("printorb_lpr_queue_files", "gauge", "Printer files waiting in the LPR queue.");
    w.Sample("printorb_lpr_queue_files", s.Queued.Count);
    w.Family("printorb_failed_files", "gauge", "Requests set aside in the spool folder's failed folder.");
    w.Sample("printorb_failed_files", s.FailedFiles);
    w.Family("printorb_waiting_jobs", "gauge", "Jobs waiting for their next attempt or for an outage to end.");
    w.Sample("printorb_waiting_jobs", static_cast<double>(s.Waiting.size()));
    w.Family("printorb_oldest_spool_file_age_seconds", "gauge",
             "How long the oldest file has waited in the spool folder; 0 when none waits.");
    w.Sample("printorb_oldest_spool_file_age_seconds",
             s.Spooled.Oldest > 0 ? static_cast<double>(s.Now - s.Spooled.Oldest) / 1000.0 : 0.0);
    w.Family("printorb_last_tick_timestamp_seconds", "gauge", "When the spool tick last ran, in Unix time.");
    w.Sample("printorb_last_tick_timestamp_seconds", static_cast<double>(s.LastTick) / 1000.0);
    w.Family("printorb_print_system_up", "gauge", "1 when the print system answers, 0 when it does not.");
    w.Sample("printorb_print_system_up", s.PrintSystemUp ? 1 : 0);
    w.Family("printorb_healthy", "gauge", "1 when /healthz says ok, 0 when it says not ok.");
    w.Sample("printorb_healthy", s.Ok() ? 1 : 0);
    w.Family("printorb_build_info", "gauge", "The server's version.");
    w.Sample("printorb_build_info", 1, "version=\"" + Label(version) + "\"");
    return w.Text();
}
