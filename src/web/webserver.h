// The status page, its JSON API, /metrics and /healthz, served from inside
// the server on its one thread: Qt HttpServer reads requests as the event
// loop delivers their bytes, so a slow client never holds a job up. Bounded
// on every side: connections, bytes per connection, time per connection.
#pragma once

#include "journal/journal.h"
#include "status/serverstatus.h"
#include "util/result.h"
#include "util/tally.h"
#include "web/webauth.h"

#include <QAbstractHttpServer>
#include <QHostAddress>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QTcpServer;

struct TWebAddress {
    QHostAddress Address;
    quint16 Port = 0;
    bool Loopback() const { return Address.isLoopback(); }
    std::string Text() const;
};
// "ADDRESS:PORT" ("127.0.0.1:8631", "[::1]:8631", "0.0.0.0:8631", "localhost:8631").
TResult<TWebAddress> ParseWebAddress(const std::string& text);

// What the window's left panel shows, as the server has it now.
struct TLiveState {
    std::array<std::string, 4> Lights;  // Spool, Convert, Print, LPR: "off", "green" or "red"
    unsigned Spooled = 0;               // the Spooled Files counter
    unsigned LprQueue = 0;              // the LPR Queue counter
    bool Busy = false;                  // a job is being worked on
    std::string Caption;
    std::string Version;
};

struct TLogLine {
    std::uint64_t Seq = 0;
    std::string Text;      // stamped, UTF-8
    std::string Severity;  // "error", "warning" or "info"
};

struct TPrinterState {
    std::string Number;   // empty for the default printer line
    std::string Name;     // the print system's name
    std::string Host;     // HOSTIP-n, the LPD host of its printer files
    bool IsDefault = false;
    bool Known = false;   // the print system knows it
    std::string State;    // "idle", "printing", "stopped" or "unknown"
    bool Accepting = false;
    std::string Message;  // the print system's words
    std::vector<std::pair<std::string, std::string>> Overlays;  // number, description
};

// The running server as the web page reads it and acts on it.
class TWebSource {
public:
    virtual ~TWebSource() = default;
    virtual TJournal& Journal() = 0;
    // The one status rule, with the server's own view of the print system.
    virtual TServerStatus Status(int lastJobs) = 0;
    virtual TLiveState Live() = 0;
    // Log lines after seq, oldest first, at most max.
    virtual std::vector<TLogLine> LogSince(std::uint64_t seq, std::size_t max) = 0;
    virtual std::vector<TPrinterState> Printers() = 0;
    virtual const TServerTally& Tally() = 0;
    // by names who asked, for the log and the job's story.
    virtual TResult<std::string> Resubmit(std::int64_t id, const std::string& by) = 0;
};

class TWebServer : public QAbstractHttpServer {
public:
    static constexpr int kMaxConnections = 128;
    static constexpr qint64 kMaxConnectionBytes = 256 * 1024;  // what one connection may send in all
    static constexpr int kIdleMs = 15 * 1000;                  // silence before a connection is closed
    static constexpr int kLifetimeMs = 120 * 1000;             // the longest a connection is kept
    static constexpr int kStatusReuseMs = 1000;                // many pollers, one reading a second
    static constexpr int kMaxJobsPerPage = 200;

    TWebServer(TWebSource& source, std::string passwordHash, QObject* parent = nullptr);
    ~TWebServer() override;

    TOutcome Listen(const TWebAddress& where);
    quint16 Port() const;
    int OpenConnections() const { return FOpen; }

    // The clock sessions and back-off go by; the real one unless replaced.
    std::function<std::int64_t()> Now;

    struct TReply {
        int Status = 200;
        QByteArray Type;
        QByteArray Body;
        std::vector<std::pair<QByteArray, QByteArray>> Headers;
    };

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct TAsked;
    TReply Answer(const QHttpServerRequest& request);
    TReply Api(const TAsked& asked, const QHttpServerRequest& request);
    TReply StatusReply(TJournal& journal);
    TReply Page(const TAsked& asked, const std::string& page, const std::string& title);
    TReply Login(const TAsked& asked, const QHttpServerRequest& request);
    TReply Resubmit(const TAsked& asked, const QHttpServerRequest& request, std::int64_t id);
    const TServerStatus& CachedStatus();
    // Whether the connection is taken; it is watched from now on.
    bool Guard(QTcpSocket* socket);

    TWebSource& FSource;
    std::string FPasswordHash;
    bool FLoopback = true;
    std::unique_ptr<QTcpServer> FListener;
    TWebSessions FSessions;
    TLoginBackoff FBackoff;
    TServerStatus FStatus;
    std::int64_t FStatusAt = 0;
    TReply FStatusReply;
    std::int64_t FStatusReplyAt = 0;
    int FOpen = 0;
};
