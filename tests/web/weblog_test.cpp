// The log as the status page serves it (/api/log, which the /log page
// colours by): each line's severity is the level it was logged with, from
// the server's own event log over a real connection to 127.0.0.1.
#include "web/webhome.h"
#include "app/webstatus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

using nlohmann::json;

// One GET to a server that lives on this thread: its events are handled
// while the reply is awaited.
THttpReply GetServedHere(int port, const std::string& path)
{
    TRawClient client(port);
    if (!client.Send("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                     "\r\nConnection: close\r\n\r\n"))
        return {};
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QCoreApplication::processEvents();
        const bool closed = client.PeerClosed(10);
        const THttpReply reply = ParseReply(client.Received());
        const std::string length = reply.Header("Content-Length");
        if (closed || timer.elapsed() > 10000 ||
            (reply.Status != 0 && !length.empty() && reply.Body.size() >= std::stoul(length)))
            return reply;
    }
}

}  // namespace

TEST(WebLog, EachLineHasTheSeverityItWasLoggedWith)
{
    const struct {
        TSeverity level;
        const char* line;
        int priority;
        const char* severity;
    } rows[] = {
        {TSeverity::Info, "Found file 12345.tvq", TEventLog::kInfo, "info"},
        // The words of a failure do not make one.
        {TSeverity::Info, "ERROR: Request for OVERLAY failed a.prn does not exist.", TEventLog::kInfo, "info"},
        {TSeverity::Warning, "ERROR: Request for OVERLAY failed a.prn does not exist.", TEventLog::kWarning,
         "warning"},
        {TSeverity::Warning, "Printer 3 does not exist, using default (printer 1).", TEventLog::kWarning, "warning"},
        {TSeverity::Warning, "Sent LPD Job _1_A.prn OK", TEventLog::kWarning, "warning"},
        {TSeverity::Error, "PDF Document creation FAILED \"/srv/results/x.pdf\"", TEventLog::kErr, "error"},
        {TSeverity::Error, "Print server closed.", TEventLog::kErr, "error"},
        {TSeverity::Error, "The Print Spooler has been busy for too long:\r\n             Forcing Reset..",
         TEventLog::kErr, "error"},
    };
    TTestHome home;
    auto server = home.MakeServer();
    TServerWebSource source(*server);
    TWebServer web(source, "");
    ASSERT_TRUE(web.Listen({QHostAddress(QHostAddress::LocalHost), 0}));
    TEventLog& log = server->Log();
    const std::size_t before = log.Entries().size();
    for (const auto& row : rows)
        log.logline(row.level, row.line);

    const THttpReply reply = GetServedHere(web.Port(), "/api/log");
    ASSERT_EQ(reply.Status, 200) << reply.Body;
    const json lines = reply.Json();
    ASSERT_TRUE(lines.is_array()) << reply.Body;
    ASSERT_EQ(lines.size(), before + std::size(rows)) << lines.dump(1);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& row = rows[i];
        const TEventLog::TEntry& entry = log.Entries()[before + i];
        const json& line = lines[before + i];
        EXPECT_EQ(entry.Priority, row.priority) << row.line;
        EXPECT_EQ(line["seq"].get<std::uint64_t>(), entry.Seq) << row.line;
        EXPECT_TRUE(line["text"].get<std::string>().ends_with(row.line)) << line.dump();
        EXPECT_EQ(line["severity"], row.severity) << row.line;
    }
}
