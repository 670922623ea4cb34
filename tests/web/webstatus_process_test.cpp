// The status page of the real printorbd, over real connections to
// 127.0.0.1: every endpoint, the API against printorb-tool on the same home,
// /metrics through promtool, /healthz against `printorb-tool status`, text
// from requests kept as text, resubmitting with a session and its token, the
// password off loopback, the Host check, and clients that stall or crowd.
#include "web/webhome.h"
#include "spool/pipeline.h"
#include "web/webauth.h"
#include "web/webserver.h"

#include <QDate>
#include <QUrl>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

namespace {

using nlohmann::json;

const std::string kBase = "HV_TEMPLATE~LH^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH";
const char* const kHtml = "text/html; charset=utf-8";
const char* const kJson = "application/json; charset=utf-8";
const char* const kText = "text/plain; charset=utf-8";

bool StartCups(TCupsPeer& cups)
{
    return cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A");
}

enum class TKind { Bool, Number, NumberOrNull, String, StringOrNull, Array, Object };

bool IsKind(const json& value, TKind kind)
{
    switch (kind) {
    case TKind::Bool: return value.is_boolean();
    case TKind::Number: return value.is_number();
    case TKind::NumberOrNull: return value.is_number() || value.is_null();
    case TKind::String: return value.is_string();
    case TKind::StringOrNull: return value.is_string() || value.is_null();
    case TKind::Array: return value.is_array();
    case TKind::Object: return value.is_object();
    }
    return false;
}

void ExpectShape(const json& value, const std::vector<std::pair<std::string, TKind>>& keys, const std::string& where)
{
    ASSERT_TRUE(value.is_object()) << where << ": " << value.dump();
    for (const auto& [key, kind] : keys) {
        EXPECT_TRUE(value.contains(key)) << where << " has no " << key << ": " << value.dump();
        if (value.contains(key)) {
            EXPECT_TRUE(IsKind(value[key], kind)) << where << "." << key << " is " << value[key].dump();
        }
    }
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

// promtool's verdict on the text: empty when it passes.
std::string PromtoolComplaint(const std::string& metrics)
{
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        return "promtool is not installed (scripts/install-deps.sh installs Debian's prometheus)";
    QProcess process;
    process.start(promtool, {"check", "metrics"});
    process.write(QByteArray::fromStdString(metrics));
    process.closeWriteChannel();
    if (!process.waitForFinished(20000))
        return "promtool did not finish";
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {};
    return (process.readAllStandardOutput() + process.readAllStandardError()).toStdString();
}

// Samples by name and labels as written: "printorb_jobs_total{state=\"done\"}".
std::map<std::string, double> Samples(const std::string& text)
{
    std::map<std::string, double> samples;
    for (const QString& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('#'))
            continue;
        const qsizetype space = line.lastIndexOf(' ');
        samples[line.left(space).toStdString()] = line.mid(space + 1).toDouble();
    }
    return samples;
}

}  // namespace

// One server with jobs done and failed, and a printer the print system does
// not know: what each address answers, and the API's objects against the
// tool's on the same journal.
TEST(WebStatusProcess, EveryEndpointAnswersAndTheApiIsTheToolsJournal)
{
    TCupsPeer cups;
    ASSERT_TRUE(StartCups(cups));
    TWebHome home("PRINTER2=Ghost\r\nJOBRETRIES=1\r\nDRAINBACKLOG=Yes\r\n");
    home.Drop("r1.tvq", kBase + "^HV_REQCODE~R1");
    home.Drop("r2.tvq", kBase + "^HV_REQCODE~R2");
    home.Drop("f1.tvq", kBase + "^HV_REQCODE~F1^HV_PDFDOC~" + (home.Dir / "missing/F1.pdf"));
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    for (const std::string reqCode : {"R1", "R2", "F1"}) {
        ASSERT_TRUE(WaitEvery(250, [&] { return home.Ended(reqCode); }, 60000)) << reqCode << "\n" << home.LogText();
    }
    ASSERT_EQ(cups.JobsWhenQuiet("Laser-A", 2).size(), 2u);
    const std::string r1 = std::to_string(home.ListedJob("R1")["id"].get<int>());

    const struct {
        std::string method;
        std::string path;
        int status;
        std::string type;
    } rows[] = {
        {"GET", "/", 200, kHtml},
        {"GET", "/jobs", 200, kHtml},
        {"GET", "/jobs?state=done&page=2", 200, kHtml},
        {"GET", "/jobs/" + r1, 200, kHtml},
        {"GET", "/log", 200, kHtml},
        {"GET", "/printers", 200, kHtml},
        {"GET", "/login", 303, kText},  // no password: nothing to log in to
        {"GET", "/static/app.js", 200, "text/javascript; charset=utf-8"},
        {"GET", "/static/style.css", 200, "text/css; charset=utf-8"},
        {"GET", "/static/overview.html", 404, kText},
        {"GET", "/api/status", 200, kJson},
        {"GET", "/api/jobs", 200, kJson},
        {"GET", "/api/jobs/" + r1, 200, kJson},
        {"GET", "/api/log", 200, kJson},
        {"GET", "/api/printers", 200, kJson},
        {"GET", "/api/jobs/999999", 404, kJson},
        {"GET", "/api/jobs/R1", 404, kJson},
        {"GET", "/api/jobs?since=2026-13-01", 400, kJson},
        {"GET", "/api/jobs?state=lost", 400, kJson},
        {"GET", "/api/nothing", 404, kJson},
        {"GET", "/metrics", 200, "text/plain; version=0.0.4; charset=utf-8"},
        {"GET", "/healthz", 503, kText},  // f1 failed
        {"GET", "/nothing", 404, kText},
        {"GET", "/jobs/R1", 404, kText},
        {"PUT", "/", 405, kJson},
        {"DELETE", "/api/jobs/" + r1, 405, kJson},
        {"POST", "/jobs", 405, kJson},
        {"POST", "/api/jobs/" + r1 + "/cancel", 404, kJson},
    };
    for (const auto& row : rows) {
        const std::string what = row.method + " " + row.path;
        const THttpReply reply = Http(home.Port, {row.method, row.path, {}, "", ""});
        EXPECT_EQ(reply.Status, row.status) << what << "\n" << reply.Body;
        EXPECT_EQ(reply.Header("Content-Type"), row.type) << what;
        EXPECT_EQ(reply.Header("Content-Length"), std::to_string(reply.Body.size())) << what;
        EXPECT_EQ(reply.Header("X-Content-Type-Options"), "nosniff") << what;
        if (row.type == kJson) {
            EXPECT_FALSE(reply.Json().is_discarded()) << what << ": not JSON\n" << reply.Body;
        }
        if (row.type == kHtml) {
            EXPECT_TRUE(reply.Body.starts_with("<!DOCTYPE html>")) << what;
            // Only a job's page acts; the others open no session.
            const bool acts = row.path.starts_with("/jobs/");
            EXPECT_EQ(reply.Csrf().empty(), !acts) << what << ": a token where the page does not act, or none";
            EXPECT_NE(reply.Header("Content-Security-Policy").find("script-src 'self'"), std::string::npos) << what;
        }
        if (row.status == 303) {
            EXPECT_EQ(reply.Header("Location"), "/") << what;
        }
    }

    // The overview's object.
    const json status = home.Get("/api/status").Json();
    ExpectShape(status,
                {{"ok", TKind::Bool},          {"headline", TKind::String},       {"wrong", TKind::Array},
                 {"now", TKind::String},       {"last_tick", TKind::StringOrNull}, {"print_system_up", TKind::Bool},
                 {"spool_folder", TKind::Object}, {"lpr_queue", TKind::Object},   {"failed_files", TKind::Number},
                 {"today", TKind::Object},     {"outages", TKind::Array},         {"waiting", TKind::Array},
                 {"last_jobs", TKind::Array},  {"server", TKind::Object}},
                "/api/status");
    ASSERT_TRUE(status.is_object() && status["wrong"].is_array() && status["server"].is_object()) << status.dump();
    EXPECT_FALSE(status["ok"].get<bool>());
    EXPECT_EQ(status["headline"].get<std::string>() + "\n", home.Get("/healthz").Body);
    ASSERT_FALSE(status["wrong"].empty());
    EXPECT_EQ("not ok: " + status["wrong"][0].get<std::string>(), status["headline"].get<std::string>());
    for (const char* folder : {"spool_folder", "lpr_queue"})
        ExpectShape(status[folder],
                    {{"count", TKind::Number}, {"oldest", TKind::StringOrNull},
                     {"oldest_age_seconds", TKind::NumberOrNull}},
                    folder);
    EXPECT_EQ(status["failed_files"], 1) << "f1.tvq is set aside";
    ExpectShape(status["today"], {{"done", TKind::Number}, {"failed", TKind::Number}, {"with_warnings", TKind::Number}},
                "today");
    EXPECT_EQ(status["today"]["done"], 2);
    EXPECT_EQ(status["today"]["failed"], 1);
    const json server = status["server"];
    ExpectShape(server,
                {{"caption", TKind::String}, {"version", TKind::String}, {"busy", TKind::Bool},
                 {"spooled_files", TKind::Number}, {"lpr_queue", TKind::Number}, {"lights", TKind::Object}},
                "server");
    EXPECT_EQ(server["version"], PACKAGE_VERSION);
    for (const char* light : {"spool", "convert", "print", "lpr"}) {
        const std::string color = server["lights"].value(light, "");
        EXPECT_TRUE(color == "off" || color == "green" || color == "red") << light << ": " << color;
    }

    // The jobs as the tool lists them, filter by filter.
    const json all = home.ToolJson({"jobs", "--json"});
    ASSERT_TRUE(all.is_array() && all.size() == 3) << all.dump(2);
    ASSERT_EQ(status["last_jobs"].size(), 3u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(status["last_jobs"][i], all[i]) << "the overview's last jobs are the tool's";
    }
    const std::string today = QDate::currentDate().toString(Qt::ISODate).toStdString();
    const std::string tomorrow = QDate::currentDate().addDays(1).toString(Qt::ISODate).toStdString();
    const std::string yesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate).toStdString();
    const struct {
        std::string query;
        json tool;
    } lists[] = {
        {"", all},
        {"?state=done", home.ToolJson({"jobs", "--state", "done", "--json"})},
        {"?state=failed", home.ToolJson({"jobs", "--state", "failed", "--json"})},
        {"?reqcode=R2", home.ToolJson({"jobs", "--reqcode", "R2", "--json"})},
        {"?since=" + today, home.ToolJson({"jobs", "--since", today, "--json"})},
        {"?since=" + tomorrow, home.ToolJson({"jobs", "--since", tomorrow, "--json"})},
        {"?until=" + today, all},
        {"?until=" + yesterday, json::array()},
        {"?per_page=1&page=2", json::array({all[1]})},
        {"?per_page=2&page=2", json::array({all[2]})},
    };
    for (const auto& list : lists) {
        ASSERT_TRUE(list.tool.is_array()) << list.query;
        const THttpReply reply = home.Get("/api/jobs" + list.query);
        EXPECT_EQ(reply.Status, 200) << list.query;
        EXPECT_EQ(reply.Json(), list.tool) << list.query << "\n" << reply.Body;
    }
    EXPECT_EQ(home.ToolJson({"jobs", "--state", "failed", "--json"}).size(), 1u);
    for (const json& job : all) {
        ExpectShape(job,
                    {{"id", TKind::Number}, {"request", TKind::String}, {"reqcode", TKind::String},
                     {"state", TKind::String}, {"attempts", TKind::Number}, {"outputs", TKind::Array},
                     {"warnings", TKind::Number}},
                    "job");
        const std::string id = std::to_string(job["id"].get<int>());
        const json story = home.ToolJson({"job", id, "--json"});
        ASSERT_TRUE(story.is_object()) << id;
        EXPECT_EQ(home.Get("/api/jobs/" + id).Json(), story) << "job " << id;
    }

    // The log: in order, each line once, asked for from a line on; each
    // line with the severity the server gave it where it made the line.
    const json log = home.Get("/api/log").Json();
    ASSERT_TRUE(log.is_array() && log.size() >= 2) << log.dump();
    std::uint64_t last = 0;
    std::map<std::string, std::set<std::string>> severities;  // by the line's beginning
    const std::string beginnings[] = {"Printed R1 P1", "Found file f1.tvq", "PDF Document creation FAILED",
                                      "Spooler file f1.tvq failed after 1 attempt(s)",
                                      "The print system does not know the printer \"Ghost\""};
    for (const json& line : log) {
        ExpectShape(line, {{"seq", TKind::Number}, {"text", TKind::String}, {"severity", TKind::String}}, "log line");
        EXPECT_GT(line["seq"].get<std::uint64_t>(), last);
        last = line["seq"].get<std::uint64_t>();
        const std::string severity = line["severity"];
        EXPECT_TRUE(severity == "error" || severity == "warning" || severity == "info") << severity;
        const std::string text = line["text"];
        for (const std::string& beginning : beginnings)
            if (text.find(">" + beginning) != std::string::npos)
                severities[beginning].insert(severity);
    }
    const std::map<std::string, std::set<std::string>> expected = {
        {"Printed R1 P1", {"info"}},
        {"Found file f1.tvq", {"info"}},
        {"PDF Document creation FAILED", {"error"}},
        {"Spooler file f1.tvq failed after 1 attempt(s)", {"error"}},
        {"The print system does not know the printer \"Ghost\"", {"warning"}}};
    EXPECT_EQ(severities, expected) << log.dump(1);
    const std::uint64_t before = log[log.size() - 2]["seq"];
    EXPECT_EQ(home.Get("/api/log?since=" + std::to_string(before)).Json(), json::array({log.back()}));
    EXPECT_EQ(home.Get("/api/log?since=" + std::to_string(last)).Json(), json::array());

    // The printer table with what the print system says of each.
    const json printers = home.Get("/api/printers").Json();
    ASSERT_TRUE(printers.is_array() && printers.size() == 3) << printers.dump(1);
    for (const json& p : printers)
        ExpectShape(p,
                    {{"number", TKind::String}, {"name", TKind::String}, {"host", TKind::String},
                     {"default", TKind::Bool}, {"known", TKind::Bool}, {"state", TKind::String},
                     {"accepting", TKind::Bool}, {"message", TKind::String}, {"overlays", TKind::Array}},
                    "printer");
    const struct {
        std::string number;
        std::string name;
        bool isDefault;
        bool known;
    } table[] = {{"", "Laser-A", true, true}, {"1", "Laser-A", false, true}, {"2", "Ghost", false, false}};
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const json& p = printers[i];
        EXPECT_EQ(p["number"], table[i].number) << p.dump();
        EXPECT_EQ(p["name"], table[i].name) << p.dump();
        EXPECT_EQ(p["default"], table[i].isDefault) << p.dump();
        EXPECT_EQ(p["known"], table[i].known) << p.dump();
        if (table[i].known) {
            EXPECT_TRUE(p["state"] == "idle" || p["state"] == "printing") << p.dump();
            EXPECT_EQ(p["accepting"], true) << p.dump();
        } else {
            EXPECT_EQ(p["state"], "unknown") << p.dump();
        }
    }
    home.Stop();
}

// The counters move by what one printed job did, counted once the print
// system has gone quiet; the text passes promtool before and after.
TEST(WebStatusProcess, MetricsPassPromtoolAndCountARealJobOnce)
{
    TCupsPeer cups;
    ASSERT_TRUE(StartCups(cups));
    TWebHome home;
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    const THttpReply first = home.Get("/metrics");
    ASSERT_EQ(first.Status, 200);
    EXPECT_EQ(PromtoolComplaint(first.Body), "") << first.Body;
    const std::map<std::string, double> before = Samples(first.Body);

    home.Drop("r1.tvq", kBase + "^HV_REQCODE~R1");
    ASSERT_TRUE(WaitEvery(250, [&] { return home.Ended("R1"); }, 60000)) << home.LogText();
    const std::vector<TCapturedJob> printed = cups.JobsWhenQuiet("Laser-A", 1);
    ASSERT_EQ(printed.size(), 1u);
    const int pages = std::stoi(PdfInfoField(printed[0].Data, "Pages"));
    ASSERT_GT(pages, 0);
    EXPECT_EQ(home.ListedJob("R1")["state"], "done");

    const THttpReply second = home.Get("/metrics");
    EXPECT_EQ(PromtoolComplaint(second.Body), "") << second.Body;
    std::map<std::string, double> after = Samples(second.Body);
    const auto moved = [&](const std::string& sample) {
        EXPECT_TRUE(after.contains(sample)) << sample << "\n" << second.Body;
        return after[sample] - (before.contains(sample) ? before.at(sample) : 0.0);
    };
    EXPECT_EQ(moved("printorb_jobs_total{state=\"done\"}"), 1);
    EXPECT_EQ(moved("printorb_jobs_total{state=\"failed\"}"), 0);
    EXPECT_EQ(moved("printorb_compose_seconds_count"), 1);
    EXPECT_GT(moved("printorb_compose_seconds_sum"), 0);
    EXPECT_EQ(after["printorb_compose_seconds_bucket{le=\"+Inf\"}"], after["printorb_compose_seconds_count"]);
    EXPECT_EQ(moved("printorb_pages_printed_total"), pages);
    EXPECT_EQ(after["printorb_healthy"], 1);
    EXPECT_EQ(after["printorb_print_system_up"], 1);
    EXPECT_EQ(after["printorb_build_info{version=\"" PACKAGE_VERSION "\"}"], 1) << second.Body;
    home.Stop();
}

// The monitor's two views of one home agree: 200 with exit 0, 503 with
// exit 1, and the same first line, while well, after a failed job, and with
// the print system stopped.
TEST(WebStatusProcess, HealthzSaysWhatTheToolsStatusSays)
{
    TCupsPeer cups;
    ASSERT_TRUE(StartCups(cups));
    TWebHome home("JOBRETRIES=1\r\n");
    ASSERT_TRUE(home.StartServing()) << home.LogText();

    // The seconds since the last tick may part them for a moment: the same
    // line is waited for, never a near one.
    std::string said;
    const auto agree = [&](bool ok, const std::string& start) {
        return WaitEvery(200, 
            [&] {
                const THttpReply health = home.Get("/healthz");
                const TProgramRun tool = home.Tool({"status"});
                said = std::to_string(health.Status) + " " + health.Body + "| exit " + std::to_string(tool.Status) +
                       " " + FirstLine(tool.Out);
                return health.Status == (ok ? 200 : 503) && tool.Status == (ok ? 0 : 1) &&
                       health.Body == FirstLine(tool.Out) + "\n" && health.Body.starts_with(start);
            },
            30000);
    };
    EXPECT_TRUE(agree(true, "ok: the server ticked ")) << said;

    home.Drop("f1.tvq", kBase + "^HV_REQCODE~F1^HV_PDFDOC~" + (home.Dir / "missing/F1.pdf"));
    ASSERT_TRUE(WaitEvery(250, [&] { return home.Ended("F1"); }, 60000)) << home.LogText();
    EXPECT_TRUE(agree(false, "not ok: 1 job(s) failed in the last 24 hours")) << said;

    ASSERT_TRUE(cups.Stop());
    EXPECT_TRUE(agree(false, "not ok: the print system at 127.0.0.1:" + std::to_string(cups.Port()))) << said;
    home.Stop();
}

// Markup in what a request says and in a spool file's name reaches the API
// as the very text (Windows-1252 read as such), and no page the server
// writes carries it: the pages take it only through the JSON.
TEST(WebStatusProcess, MarkupFromARequestStaysText)
{
    TCupsPeer cups;
    ASSERT_TRUE(StartCups(cups));
    TWebHome home;
    const std::string markup = "<script>alert(1)</script>\"'&";
    const std::string file = "<img src=x onerror=alert(2)>.tvq";
    home.Drop(file, kBase + "^HV_REQCODE~" + markup + "\xFC^HV_PATSUR~" + markup + "M\xFCller");
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    const std::string reqCode = markup + "\xC3\xBC";  // as UTF-8
    ASSERT_TRUE(WaitEvery(
        250,
        [&] {
            const json jobs = home.Get("/api/jobs?state=done").Json();
            return jobs.is_array() && jobs.size() == 1;
        },
        60000))
        << home.LogText();
    ASSERT_EQ(cups.JobsWhenQuiet("Laser-A", 1).size(), 1u);

    const std::string encoded =
        QUrl::toPercentEncoding(QString::fromStdString(reqCode)).toStdString();  // '&' and all
    const THttpReply listed = home.Get("/api/jobs?reqcode=" + encoded);
    const json jobs = listed.Json();
    ASSERT_TRUE(jobs.is_array() && jobs.size() == 1) << listed.Body;
    EXPECT_EQ(jobs[0]["reqcode"], reqCode);
    EXPECT_EQ(jobs[0]["request"], file);
    const std::string id = std::to_string(jobs[0]["id"].get<int>());
    const json story = home.Get("/api/jobs/" + id).Json();
    EXPECT_EQ(story["reqcode"], reqCode);
    EXPECT_EQ(story["request"], file);
    const json status = home.Get("/api/status").Json();
    ASSERT_FALSE(status["last_jobs"].empty());
    EXPECT_EQ(status["last_jobs"][0]["reqcode"], reqCode);
    bool logged = false;
    for (const json& line : home.Get("/api/log").Json())
        logged = logged || line["text"].get<std::string>().find(file) != std::string::npos;
    EXPECT_TRUE(logged) << "the log names the file as it is";

    // Each reply that carries it says it is JSON and must not be sniffed as a page.
    const std::vector<std::string> carriers = {"/api/jobs", "/api/jobs/" + id, "/api/status", "/api/log"};
    for (const std::string& path : carriers) {
        const THttpReply reply = home.Get(path);
        EXPECT_NE(reply.Body.find("<script>alert(1)</script>"), std::string::npos) << path;
        EXPECT_EQ(reply.Header("Content-Type"), kJson) << path;
        EXPECT_EQ(reply.Header("X-Content-Type-Options"), "nosniff") << path;
    }
    const std::vector<std::string> pages = {"/",
                                            "/jobs",
                                            "/jobs/" + id,
                                            "/log",
                                            "/printers",
                                            "/login",
                                            "/jobs?reqcode=" + encoded,
                                            "/%3Cscript%3Ealert(1)%3C/script%3E",
                                            "/jobs/" + id + "?%3Cscript%3Ealert(1)%3C/script%3E"};
    for (const std::string& path : pages) {
        const THttpReply reply = home.Get(path);
        EXPECT_NE(reply.Status, 0) << path;
        EXPECT_EQ(reply.Body.find("alert("), std::string::npos) << path << "\n" << reply.Body;
        EXPECT_EQ(reply.Body.find("M\xC3\xBCller"), std::string::npos) << path << ": the patient's name";
    }
    home.Stop();
}

// The page's one action: it needs the session the page hands out and the
// token the page carries, and it puts back only a request that did not
// print; the one put back prints once, as a new job.
TEST(WebStatusProcess, ResubmitNeedsTheSessionAndItsTokenAndTakesOnlyAFailedJob)
{
    TCupsPeer cups;
    ASSERT_TRUE(StartCups(cups));
    TWebHome home("JOBRETRIES=1\r\nDRAINBACKLOG=Yes\r\n");
    // As installed: each request's copy is kept in temp/, a done one's too.
    ASSERT_TRUE(ForceDir(home.Dir / "spool/temp"));
    const std::string pdf = home.Dir / "out/F1.pdf";
    home.Drop("f1.tvq", kBase + "^HV_REQCODE~F1^HV_PDFDOC~" + pdf);
    home.Drop("d1.tvq", kBase + "^HV_REQCODE~D1");
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    for (const std::string reqCode : {"F1", "D1"}) {
        ASSERT_TRUE(WaitEvery(250, [&] { return home.Ended(reqCode); }, 60000)) << reqCode << "\n" << home.LogText();
    }
    ASSERT_EQ(cups.JobsWhenQuiet("Laser-A", 1).size(), 1u);
    const std::string failed = std::to_string(home.ListedJob("F1")["id"].get<int>());
    const std::string done = std::to_string(home.ListedJob("D1")["id"].get<int>());
    ASSERT_EQ(home.ListedJob("F1")["state"], "failed");
    ASSERT_TRUE(ForceDir(home.Dir / "out"));

    const THttpReply page = home.Get("/jobs/" + failed);
    const std::string session = page.Session();
    const std::string token = page.Csrf();
    ASSERT_FALSE(session.empty() || token.empty()) << page.Body;
    EXPECT_NE(page.Header("Set-Cookie").find("; HttpOnly; SameSite=Strict"), std::string::npos);
    // Only a job's page, the one that acts, opens a session.
    EXPECT_EQ(home.Get("/").Header("Set-Cookie"), "");
    const THttpReply other = home.Get("/jobs/" + done);
    ASSERT_FALSE(other.Session().empty());
    ASSERT_NE(other.Session(), session);
    ASSERT_NE(other.Csrf(), token);

    const auto resubmit = [&](const std::string& id, const std::vector<std::string>& headers) {
        return Http(home.Port, {"POST", "/api/jobs/" + id + "/resubmit", headers, "", ""});
    };
    const struct {
        const char* what;
        std::vector<std::string> headers;
        int status;
    } refused[] = {
        {"no session", {}, 401},
        {"no session but a token", {"X-CSRF-Token: " + token}, 401},
        {"an unknown session", {CookieHeader("x" + session), "X-CSRF-Token: " + token}, 401},
        {"no token", {CookieHeader(session)}, 403},
        {"an empty token", {CookieHeader(session), "X-CSRF-Token: "}, 403},
        {"a wrong token", {CookieHeader(session), "X-CSRF-Token: x" + token}, 403},
        {"another session's token", {CookieHeader(session), "X-CSRF-Token: " + other.Csrf()}, 403},
        {"the token as a cookie", {CookieHeader(session) + "; X-CSRF-Token=" + token}, 403},
    };
    for (const auto& r : refused) {
        const THttpReply reply = resubmit(failed, r.headers);
        EXPECT_EQ(reply.Status, r.status) << r.what << "\n" << reply.Body;
        EXPECT_EQ(reply.Header("Content-Type"), kJson) << r.what;
    }
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/f1.tvq")) << "refused, nothing moved";
    EXPECT_EQ(home.LogCount("Found file f1.tvq"), 1);

    // A job that printed is not sent again from the page.
    const THttpReply printed = resubmit(done, {CookieHeader(session), "X-CSRF-Token: " + token});
    ASSERT_TRUE(FileExists(home.Dir / "spool/temp/d1.tvq"));
    EXPECT_EQ(printed.Status, 409) << printed.Body;
    EXPECT_FALSE(FileExists(home.Dir / "spool/d1.tvq"));

    const THttpReply sent = resubmit(failed, {CookieHeader(session), "X-CSRF-Token: " + token});
    ASSERT_EQ(sent.Status, 200) << sent.Body;
    EXPECT_NE(sent.Json().value("message", "").find("it becomes a new job"), std::string::npos) << sent.Body;
    EXPECT_FALSE(FileExists(home.Dir / "spool/failed/f1.tvq"));
    ASSERT_TRUE(home.WaitForLog("PDF Document created as \"" + pdf + "\"")) << home.LogText();
    QElapsedTimer sinceCreated;
    sinceCreated.start();
    ASSERT_TRUE(WaitEvery(
        250, [&] { return home.ToolJson({"jobs", "--reqcode", "F1", "--state", "done", "--json"}).size() == 1; },
        30000));
    const json again = home.ToolJson({"jobs", "--reqcode", "F1", "--json"});
    EXPECT_EQ(again[0]["state"], "done") << again.dump(1);
    EXPECT_NE(std::to_string(again[0]["id"].get<int>()), failed) << "a new job";
    const json story = home.ToolJson({"job", failed, "--json"});
    EXPECT_NE(story.dump().find("resubmitted by the status page (127.0.0.1)"), std::string::npos) << story.dump(1);
    EXPECT_TRUE(home.WaitForLog("Job " + failed + " was sent again by the status page (127.0.0.1)."));

    // Once put back it is not put back twice; one still in the spool
    // folder is not taken either.
    EXPECT_EQ(resubmit(failed, {CookieHeader(session), "X-CSRF-Token: " + token}).Status, 409);
    ASSERT_TRUE(cups.Stop());
    home.Drop("w1.tvq", kBase + "^HV_REQCODE~W1");
    ASSERT_TRUE(WaitEvery(250, [&] { return home.State("W1") == "waiting"; }, 60000))
        << home.LogText();
    const std::string waiting = std::to_string(home.ListedJob("W1")["id"].get<int>());
    const THttpReply busy = resubmit(waiting, {CookieHeader(session), "X-CSRF-Token: " + token});
    EXPECT_EQ(busy.Status, 409) << busy.Body;
    EXPECT_EQ(home.LogCount("Found file w1.tvq"), 1);

    // Counted once nothing more can come: two more ticks after the report.
    const int quiet = 2 * TJobPipeline::kSpoolInterval + 1000 - static_cast<int>(sinceCreated.elapsed());
    WaitFor([] { return false; }, std::max(0, quiet));
    EXPECT_EQ(home.LogCount("PDF Document created as \"" + pdf + "\""), 1);
    EXPECT_EQ(home.LogCount("Found file f1.tvq"), 2);
    home.Stop();
}

// Off loopback the page is for those who know its password: refused at
// start without one; with one, nothing of the patients' jobs without
// logging in, guessing slowed down, and the session cookie kept from
// scripts and other sites. Bound to every address, spoken to on 127.0.0.1
// only: Qt takes all of 127.0.0.0/8 for loopback.
TEST(WebStatusProcess, OffLoopbackThePasswordIsNeededAndGuessingIsSlowedDown)
{
    TWebHome home("", "0.0.0.0");
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.Server.waitForFinished(30000));
    EXPECT_EQ(home.Server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(home.Server.exitCode(), 78);
    // A refused start-up writes no log file: the reason goes to standard error (the system's journal).
    const std::string said = ReadFile(home.Dir / "stderr.txt");
    EXPECT_NE(said.find("Not started: WEBSTATUS names 0.0.0.0:" + std::to_string(home.Port) +
                        ", which is not a loopback address, and no WEBPASSWORD is set"),
              std::string::npos)
        << said;
    EXPECT_FALSE(TRawClient(home.Port).Connected()) << "nothing listens";

    // As a browser sends it: a space as '+', '+' and '&' escaped.
    const std::string password = "Ward 7 + Lab & Co";
    const std::string form = "password=Ward+7+%2B+Lab+%26+Co";
    const TProgramRun set = ToolWithInput(home, {"web-password"}, password + "\n");
    ASSERT_EQ(set.Status, 0) << set.Out << set.Err;
    EXPECT_NE(home.Settings().find("WEBPASSWORD=$argon2id$"), std::string::npos) << home.Settings();
    EXPECT_EQ(home.Settings().find("Lab"), std::string::npos) << "only the hash is kept";
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    EXPECT_TRUE(home.WaitForLog("/ (with a password)."));

    const struct {
        std::string method;
        std::string path;
        int status;
    } closed[] = {
        {"GET", "/", 303},          {"GET", "/jobs", 303},          {"GET", "/jobs/1", 303},
        {"GET", "/log", 303},       {"GET", "/printers", 303},      {"GET", "/api/status", 401},
        {"GET", "/api/jobs", 401},  {"GET", "/api/jobs/1", 401},    {"GET", "/api/log", 401},
        {"GET", "/api/printers", 401}, {"POST", "/api/jobs/1/resubmit", 401},
    };
    for (const auto& c : closed) {
        const THttpReply reply = Http(home.Port, {c.method, c.path, {}, "", ""});
        EXPECT_EQ(reply.Status, c.status) << c.method << " " << c.path << "\n" << reply.Body;
        EXPECT_EQ(reply.Header("Set-Cookie"), "") << c.path << ": no session without the password";
        if (c.status == 303) {
            EXPECT_EQ(reply.Header("Location"), "/login") << c.path;
        }
    }
    // A monitor reads these without a session: no patient data in them.
    EXPECT_EQ(home.Get("/metrics").Status, 200);
    EXPECT_NE(home.Get("/healthz").Status, 0);
    const THttpReply loginPage = home.Get("/login");
    EXPECT_EQ(loginPage.Status, 200);
    EXPECT_EQ(loginPage.Header("Content-Type"), kHtml);
    EXPECT_NE(loginPage.Body.find("type=\"password\""), std::string::npos);

    const auto login = [&](const std::string& body) {
        return Http(home.Port, {"POST", "/login", {"Content-Type: application/x-www-form-urlencoded"}, body, ""});
    };
    // A few slips cost nothing; then each try waits, the right password too.
    for (int i = 0; i <= TLoginBackoff::kFreeFailures; ++i) {
        const THttpReply wrong = login("password=Ward+7+Lab+%26+Co");
        EXPECT_EQ(wrong.Status, 401) << "try " << i;
        EXPECT_EQ(wrong.Header("Set-Cookie"), "");
        EXPECT_NE(wrong.Body.find("Wrong password."), std::string::npos);
    }
    const THttpReply held = login(form);
    ASSERT_EQ(held.Status, 429) << held.Body;
    EXPECT_EQ(held.Header("Set-Cookie"), "");
    const int retryAfter = std::atoi(held.Header("Retry-After").c_str());
    EXPECT_GE(retryAfter, 1) << held.Header("Retry-After");
    EXPECT_LE(retryAfter, 5);
    WaitFor([] { return false; }, retryAfter * 1000 + 200);

    const THttpReply in = login(form);
    ASSERT_EQ(in.Status, 303) << in.Body;
    EXPECT_EQ(in.Header("Location"), "/");
    const std::string session = in.Session();
    ASSERT_GE(session.size(), 32u) << in.Header("Set-Cookie");
    std::set<std::string> attributes;
    for (const QString& part : QString::fromStdString(in.Header("Set-Cookie")).split(';'))
        attributes.insert(part.trimmed().toStdString());
    EXPECT_TRUE(attributes.contains("HttpOnly")) << in.Header("Set-Cookie");
    EXPECT_TRUE(attributes.contains("SameSite=Strict")) << in.Header("Set-Cookie");
    EXPECT_TRUE(attributes.contains("Path=/")) << in.Header("Set-Cookie");

    const std::vector<std::string> cookie = {CookieHeader(session)};
    EXPECT_EQ(home.Get("/api/status", cookie).Status, 200);
    EXPECT_TRUE(home.Get("/api/jobs", cookie).Json().is_array());
    const THttpReply overview = home.Get("/", cookie);
    EXPECT_EQ(overview.Status, 200);
    EXPECT_FALSE(overview.Csrf().empty());
    EXPECT_NE(overview.Body.find("action=\"/logout\""), std::string::npos);
    EXPECT_EQ(home.Get("/login", cookie).Status, 303);
    EXPECT_EQ(home.Get("/api/status", {CookieHeader(session + "x")}).Status, 401);

    const THttpReply out = Http(home.Port, {"POST", "/logout", cookie, "", ""});
    EXPECT_EQ(out.Status, 303);
    EXPECT_NE(out.Header("Set-Cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(home.Get("/api/status", cookie).Status, 401) << "the session ended with the logout";
    home.Stop();
}

// A loopback server answers only to loopback names: a site that points
// its own name at 127.0.0.1 gets nothing, not even a session.
TEST(WebStatusProcess, OnLoopbackAForeignHostNameIsMisdirected)
{
    TWebHome home;
    ASSERT_TRUE(home.StartServing()) << home.LogText();
    const std::string port = ":" + std::to_string(home.Port);
    const struct {
        std::string host;
        int status;
    } hosts[] = {
        {"127.0.0.1" + port, 200},       {"localhost" + port, 200},        {"LocalHost", 200},
        {"[::1]" + port, 200},           {"127.0.0.5" + port, 200},        {"lab-printserver" + port, 421},
        {"evil.example" + port, 421},    {"127.0.0.1.evil.example" + port, 421},
        {"localhost.evil.example", 421}, {"192.168.1.20" + port, 421},     {"[::ffff:10.0.0.1]" + port, 421},
        {"0.0.0.0" + port, 421},
    };
    for (const auto& h : hosts)
        for (const std::string path : {"/", "/api/status", "/healthz"}) {
            const THttpReply reply = Http(home.Port, {"GET", path, {}, "", h.host});
            // No print system here: /healthz says not ok, and answers.
            const bool answered = reply.Status == 200 || (path == "/healthz" && reply.Status == 503);
            EXPECT_TRUE(h.status == 200 ? answered : reply.Status == h.status)
                << h.host << " " << path << ": " << reply.Status << "\n" << reply.Body;
            if (h.status == 421) {
                EXPECT_EQ(reply.Header("Set-Cookie"), "") << h.host << " " << path;
                EXPECT_EQ(reply.Body.find("\"last_jobs\""), std::string::npos) << h.host << " " << path;
            }
        }
    const THttpReply page = home.Get("/jobs/1");
    const THttpReply post = Http(home.Port, {"POST", "/api/jobs/1/resubmit",
                                             {CookieHeader(page.Session()), "X-CSRF-Token: " + page.Csrf()}, "",
                                             "evil.example" + port});
    EXPECT_EQ(post.Status, 421) << post.Body;
    home.Stop();
}

// A client that sends half a request and waits, and more clients than the
// server takes: the reports print all the same, the surplus is turned
// away at once, the stalled one is closed once silent for the idle time,
// and the places come free again.
TEST(WebStatusProcess, ClientsThatStallOrCrowdDoNotHoldUpPrinting)
{
    TCupsPeer cups;
    ASSERT_TRUE(StartCups(cups));
    TWebHome home;
    ASSERT_TRUE(home.StartServing()) << home.LogText();

    TRawClient slow(home.Port);
    ASSERT_TRUE(slow.Send("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
    std::vector<std::unique_ptr<TRawClient>> crowd;
    for (int i = 0; i < TWebServer::kMaxConnections + 8; ++i) {
        crowd.push_back(std::make_unique<TRawClient>(home.Port));
        ASSERT_TRUE(crowd.back()->Connected()) << i;
    }
    const std::size_t surplus = crowd.size() + 1 - TWebServer::kMaxConnections;
    const auto turnedAway = [&] {
        std::size_t closed = 0;
        for (const auto& client : crowd)
            closed += client->PeerClosed(0) ? 1 : 0;
        return closed;
    };
    EXPECT_TRUE(WaitEvery(100, [&] { return turnedAway() >= surplus; }, 10000));
    EXPECT_EQ(turnedAway(), surplus) << "the server takes as many as its cap";
    for (const auto& client : crowd)
        if (client->PeerClosed(0)) {
            EXPECT_TRUE(client->Received().starts_with("HTTP/1.1 503 ")) << client->Received();
        }

    // The stalled client trickles a header now and then, so it stays open
    // for as long as the report takes.
    home.Drop("r1.tvq", kBase + "^HV_REQCODE~R1");
    QElapsedTimer lastByte;
    lastByte.start();
    ASSERT_TRUE(WaitEvery(
        250,
        [&] {
            if (lastByte.elapsed() > 3000) {
                EXPECT_TRUE(slow.Send("X-Slow: 1\r\n"));
                lastByte.restart();
            }
            return home.Ended("R1");
        },
        60000))
        << home.LogText();
    EXPECT_EQ(home.ListedJob("R1")["state"], "done");
    EXPECT_EQ(cups.Jobs("Laser-A", 1).size(), 1u);
    EXPECT_FALSE(slow.PeerClosed(0)) << "the stalled client was open all the while";

    // Now silent: closed after the idle time, not before.
    crowd.clear();
    ASSERT_TRUE(WaitEvery(100, [&] { return slow.PeerClosed(0); }, TWebServer::kIdleMs + 10000));
    EXPECT_GE(lastByte.elapsed(), TWebServer::kIdleMs - 1000);
    EXPECT_EQ(slow.Received(), "") << "half a request has no answer";
    std::vector<std::unique_ptr<TRawClient>> again;
    for (int i = 0; i < TWebServer::kMaxConnections - 1; ++i)
        again.push_back(std::make_unique<TRawClient>(home.Port));
    const THttpReply health = home.Get("/healthz");
    EXPECT_EQ(health.Status, 200) << "the places are free again\n" << health.Body;
    EXPECT_TRUE(health.Body.starts_with("ok: ")) << health.Body;
    home.Stop();
}
