// The metrics text and the page's escaping, without a server.
#include "web/metrics.h"
#include "web/webpages.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

// "name{labels}" -> value, for every sample line.
std::map<std::string, double> Samples(const std::string& text)
{
    std::map<std::string, double> samples;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t space = line.rfind(' ');
        samples[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return samples;
}

}  // namespace

TEST(Metrics, HistogramBucketsAreCumulativeAndMatchCountAndSum)
{
    TServerTally tally;
    for (const double seconds : {0.001, 0.004, 0.02, 0.3, 0.3, 4.0, 30.0})
        tally.Compose.Observe(seconds);
    const auto samples = Samples(MetricsText(TServerStatus {}, tally, "4.4.4"));
    const std::pair<const char*, double> expected[] = {
        {"le=\"0.005\"", 2}, {"le=\"0.01\"", 2}, {"le=\"0.025\"", 3}, {"le=\"0.25\"", 3},
        {"le=\"0.5\"", 5},   {"le=\"2.5\"", 5},  {"le=\"10\"", 6},    {"le=\"+Inf\"", 7}};
    for (const auto& [le, count] : expected)
        EXPECT_EQ(samples.at(std::string("printorb_compose_seconds_bucket{") + le + "}"), count) << le;
    EXPECT_EQ(samples.at("printorb_compose_seconds_count"), 7);
    EXPECT_NEAR(samples.at("printorb_compose_seconds_sum"), 34.625, 1e-9);
}

TEST(Metrics, CountersAndGaugesCarryTheirValuesAndLabels)
{
    TServerTally tally;
    tally.JobsEnded["done"] = 12;
    tally.JobsEnded["failed"] = 1;
    tally.PagesPrinted = 30;
    tally.Deliveries[{"lpd", "ok"}] = 4;
    tally.Deliveries[{"lpd", "failed"}] = 2;
    TServerStatus status;
    status.Now = 100000;
    status.LastTick = 95000;
    status.Spooled = {3, 40000, "a.tvq"};
    status.Queued.Count = 2;
    status.FailedFiles = 5;
    status.PrintSystemUp = false;
    const auto samples = Samples(MetricsText(status, tally, "4.4.4 \"beta\""));
    const std::pair<const char*, double> expected[] = {
        {"printorb_jobs_total{state=\"done\"}", 12},
        {"printorb_jobs_total{state=\"failed\"}", 1},
        {"printorb_jobs_total{state=\"unprintable\"}", 0},
        {"printorb_pages_printed_total", 30},
        {"printorb_deliveries_total{route=\"lpd\",result=\"ok\"}", 4},
        {"printorb_deliveries_total{route=\"lpd\",result=\"failed\"}", 2},
        {"printorb_spool_files", 3},
        {"printorb_lpr_queue_files", 2},
        {"printorb_failed_files", 5},
        {"printorb_oldest_spool_file_age_seconds", 60},
        {"printorb_last_tick_timestamp_seconds", 95},
        {"printorb_print_system_up", 0},
        {"printorb_build_info{version=\"4.4.4 \\\"beta\\\"\"}", 1},
    };
    for (const auto& [name, value] : expected) {
        ASSERT_TRUE(samples.count(name)) << name;
        EXPECT_EQ(samples.at(name), value) << name;
    }
}

TEST(WebPages, EveryTextIsEscapedForHtml)
{
    EXPECT_EQ(HtmlEscaped("<script>alert('x')</script> & \"y\""),
              "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;y&quot;");
    const std::string page = PageHtml("overview", "<b>Job</b>", "\"><script>", "4.4.4", false);
    EXPECT_EQ(page.find("<b>Job</b>"), std::string::npos);
    EXPECT_EQ(page.find("\"><script>"), std::string::npos);
    EXPECT_NE(page.find("<h1>"), std::string::npos) << "the overview's own body is in the page";
    EXPECT_EQ(LoginHtml("<img src=x>", "1").find("<img"), std::string::npos);
    EXPECT_FALSE(StaticFile("app.js")->Body.isEmpty());
    for (const std::string name : {"../printserver.inf", "overview.html", "/etc/passwd", "", "style.css/"})
        EXPECT_FALSE(StaticFile(name)) << name;
}
