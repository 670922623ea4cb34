#include "web/webserver.h"

#include "status/jobviews.h"
#include "util/codepage.h"
#include "util/version.h"
#include "web/metrics.h"
#include "web/webpages.h"

#include <QDate>
#include <QDateTime>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>

namespace {

using TReply = TWebServer::TReply;

// Accepts a connection only while fewer than the cap are open; each is
// watched for silence, age and size.
class TGuardedListener : public QTcpServer {
public:
    explicit TGuardedListener(std::function<bool(QTcpSocket*)> guard) : FGuard(std::move(guard)) {}

protected:
    void incomingConnection(qintptr handle) override
    {
        auto* socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        if (FGuard(socket))
            addPendingConnection(socket);
    }

private:
    std::function<bool(QTcpSocket*)> FGuard;
};

TReply Json(const TJson& value, int status = 200)
{
    return {status, "application/json; charset=utf-8",
            QByteArray::fromStdString(value.dump(-1, ' ', false, TJson::error_handler_t::replace) + "\n"),
            {}};
}

TReply Error(int status, const std::string& message)
{
    return Json(TJson {{"error", message}}, status);
}

TReply Text(int status, const std::string& text, const char* type = "text/plain; charset=utf-8")
{
    return {status, type, QByteArray::fromStdString(text), {}};
}

TReply Redirect(const std::string& where)
{
    TReply reply = Text(303, "See " + where + "\n");
    reply.Headers.emplace_back("Location", QByteArray::fromStdString(where));
    return reply;
}

std::string CookieOf(const QHttpServerRequest& request, const std::string& name)
{
    for (const auto& [key, value] : request.headers()) {
        if (key.compare("cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray& part : value.split(';')) {
            const QByteArray crumb = part.trimmed();
            if (crumb.startsWith(QByteArray::fromStdString(name) + "="))
                return crumb.mid(static_cast<qsizetype>(name.size()) + 1).toStdString();
        }
    }
    return {};
}

QByteArray HeaderOf(const QHttpServerRequest& request, const char* name)
{
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// A loopback server answers only to loopback names: a web page elsewhere
// cannot rebind its own name to 127.0.0.1 and read the patients' jobs.
bool LoopbackHost(const QByteArray& host)
{
    QByteArray name = host;
    if (name.startsWith('[')) {
        name = name.mid(1, name.indexOf(']') - 1);
    } else if (const qsizetype colon = name.lastIndexOf(':'); colon >= 0) {
        name = name.left(colon);
    }
    if (name.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(QString::fromLatin1(name));
    return !address.isNull() && address.isLoopback();
}

// "2026-12-10" as the start of that day, ms; 0 for none, -1 for a wrong one.
std::int64_t DayStart(const QString& text)
{
    if (text.isEmpty())
        return 0;
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? date.startOfDay().toMSecsSinceEpoch() : -1;
}

std::optional<std::int64_t> Id(const QString& text)
{
    if (text.isEmpty() || text.size() > 15)
        return std::nullopt;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    return text.toLongLong();
}

// /api/jobs: a page of the jobs the query asks for.
TReply JobsReply(TJournal& journal, const QUrlQuery& query)
{
    TJobFilter filter;
    const std::int64_t since = DayStart(query.queryItemValue(QStringLiteral("since")));
    const std::int64_t until = DayStart(query.queryItemValue(QStringLiteral("until")));
    if (since < 0 || until < 0)
        return Error(400, "since and until are dates as YYYY-MM-DD");
    filter.Since = since;
    filter.Before = until > 0 ? until + 24 * 3600 * 1000LL : 0;
    filter.ReqCode = FromUnicode(query.queryItemValue(QStringLiteral("reqcode"), QUrl::FullyDecoded).trimmed());
    if (const QString state = query.queryItemValue(QStringLiteral("state")); !state.isEmpty()) {
        filter.State = StateNamed(state.toStdString());
        if (!filter.State)
            return Error(400, "state is one of running, waiting, done, failed, unprintable");
    }
    bool number = false;
    const int perPage = query.queryItemValue(QStringLiteral("per_page")).toInt(&number);
    filter.Limit = number && perPage > 0 ? std::min(perPage, TWebServer::kMaxJobsPerPage) : 50;
    const int page = query.queryItemValue(QStringLiteral("page")).toInt(&number);
    filter.Offset = number && page > 1 ? std::min(page - 1, 100000) * filter.Limit : 0;
    const TResult<std::vector<TJobRow>> jobs = journal.Jobs(filter);
    if (!jobs)
        return Error(500, "the journal could not be read: " + jobs.Reason());
    TJson all = TJson::array();
    for (const TJobRow& job : *jobs) {
        const TResult<TJson> listed = JobJson(journal, job);
        if (!listed)
            return Error(500, "the journal could not be read: " + listed.Reason());
        all.push_back(*listed);
    }
    return Json(all);
}

// /api/jobs/N: one job's story.
TReply JobReply(TJournal& journal, const std::string& number)
{
    const auto id = Id(QString::fromStdString(number));
    if (!id)
        return Error(404, "a job is named by its number");
    const TResult<std::optional<TJobRow>> read = journal.Job(*id);
    if (!read)
        return Error(500, "the journal could not be read: " + read.Reason());
    const std::optional<TJobRow>& job = *read;
    if (!job)
        return Error(404, "no job " + std::to_string(*id));
    const TResult<TJson> story = JobStoryJson(journal, *job);
    if (!story)
        return Error(500, "the journal could not be read: " + story.Reason());
    return Json(*story);
}

TJson PrintersJson(const std::vector<TPrinterState>& states)
{
    TJson printers = TJson::array();
    for (const TPrinterState& p : states) {
        TJson overlays = TJson::array();
        for (const auto& [number, description] : p.Overlays)
            overlays.push_back({{"number", number}, {"description", description}});
        printers.push_back({{"number", p.Number},
                            {"name", p.Name},
                            {"host", p.Host},
                            {"default", p.IsDefault},
                            {"known", p.Known},
                            {"state", p.State},
                            {"accepting", p.Accepting},
                            {"message", p.Message},
                            {"overlays", overlays}});
    }
    return printers;
}

}  // namespace

std::string TWebAddress::Text() const
{
    const QString host = Address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + Address.toString() + "]"
                                                                             : Address.toString();
    return host.toStdString() + ":" + std::to_string(Port);
}

TResult<TWebAddress> ParseWebAddress(const std::string& text)
{
    const QString all = QString::fromStdString(text).trimmed();
    const qsizetype colon = all.lastIndexOf(u':');
    if (colon <= 0)
        return Fail("\"" + text + "\" is not ADDRESS:PORT (127.0.0.1:8631, for one)");
    QString host = all.left(colon);
    bool number = false;
    const uint port = all.mid(colon + 1).toUInt(&number);
    if (!number || port == 0 || port > 65535)
        return Fail("\"" + text + "\" has no port from 1 to 65535 after its last colon");
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    TWebAddress address;
    address.Port = static_cast<quint16>(port);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        address.Address = QHostAddress(QHostAddress::LocalHost);
    else if (!address.Address.setAddress(host))
        return Fail("\"" + text + "\" names no IP address (a host name other than localhost is not taken)");
    return address;
}

struct TWebServer::TAsked {
    std::string Path;
    std::string Remote;
    std::string Token;              // the session cookie as sent
    const TWebSession* Session = nullptr;
    bool MayRead = false;
    bool Secure = false;            // came through a TLS proxy
};

TWebServer::TWebServer(TWebSource& source, std::string passwordHash, QObject* parent)
    : QAbstractHttpServer(parent), FSource(source), FPasswordHash(std::move(passwordHash))
{
    Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

TWebServer::~TWebServer() = default;

TOutcome TWebServer::Listen(const TWebAddress& where)
{
    if (!where.Loopback() && FPasswordHash.empty())
        return Fail("WEBSTATUS names " + where.Text() +
                    ", which is not a loopback address, and no WEBPASSWORD is set (printorb-tool web-password "
                    "sets one)");
    auto listener = std::make_unique<TGuardedListener>([this](QTcpSocket* socket) { return Guard(socket); });
    if (!listener->listen(where.Address, where.Port))
        return Fail("cannot listen on " + where.Text() + ": " + listener->errorString().toStdString());
    FLoopback = where.Loopback();
    bind(listener.get());
    FListener = std::move(listener);
    return TOutcome::Done();
}

quint16 TWebServer::Port() const
{
    return FListener ? FListener->serverPort() : 0;
}

bool TWebServer::Guard(QTcpSocket* socket)
{
    if (FOpen >= kMaxConnections) {
        socket->write("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(1000, socket, &QObject::deleteLater);
        return false;
    }
    ++FOpen;
    connect(socket, &QObject::destroyed, this, [this] { --FOpen; });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(kIdleMs);
    // Connected before the server's own reader, so each chunk is counted before it is taken.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, idle] {
        idle->start();
        const qint64 received = socket->property("received").toLongLong() + socket->bytesAvailable();
        socket->setProperty("received", received);
        if (received > kMaxConnectionBytes)
            socket->abort();
    });
    connect(socket, &QTcpSocket::bytesWritten, idle, [idle] { idle->start(); });
    connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
    idle->start();
    // A child of the socket, not QTimer::singleShot: that one outlives a closed socket until it fires.
    auto* lifetime = new QTimer(socket);
    lifetime->setSingleShot(true);
    connect(lifetime, &QTimer::timeout, socket, &QTcpSocket::abort);
    lifetime->start(kLifetimeMs);
    return true;
}

void TWebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

bool TWebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const TReply reply = Answer(request);
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.Status));
    responder.writeHeader("Content-Type", reply.Type);
    responder.writeHeader("Content-Length", QByteArray::number(reply.Body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "no-referrer");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                          "connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'");
    for (const auto& [name, value] : reply.Headers)
        responder.writeHeader(name, value);
    responder.writeBody(reply.Body);
    return true;
}

const TServerStatus& TWebServer::CachedStatus()
{
    const std::int64_t now = Now();
    if (FStatusAt == 0 || now - FStatusAt >= kStatusReuseMs || now < FStatusAt) {
        FStatus = FSource.Status(10);
        FStatusAt = now;
    }
    return FStatus;
}

TReply TWebServer::Answer(const QHttpServerRequest& request)
{
    TAsked asked;
    asked.Path = request.url().path().toStdString();
    asked.Remote = request.remoteAddress().toString().toStdString();
    asked.Secure = HeaderOf(request, "X-Forwarded-Proto").compare("https", Qt::CaseInsensitive) == 0;
    if (FLoopback && !LoopbackHost(HeaderOf(request, "Host")))
        return Text(421, "This server answers to 127.0.0.1 and localhost only.\n");
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    if (!get && !post)
        return Error(405, "only GET and POST");
    const std::string& path = asked.Path;

    // No patient data here: a monitor reads them without a session.
    if (path == "/healthz" && get) {
        const TServerStatus& status = CachedStatus();
        return Text(status.Ok() ? 200 : 503, status.Headline() + "\n");
    }
    if (path == "/metrics" && get)
        return Text(200, MetricsText(CachedStatus(), FSource.Tally(), kProgramVersion),
                    "text/plain; version=0.0.4; charset=utf-8");
    if (path.starts_with("/static/") && get) {
        const std::optional<TStaticFile> file = StaticFile(path.substr(8));
        if (!file)
            return Text(404, "Not found\n");
        TReply reply {200, file->Type, file->Body, {}};
        return reply;
    }

    asked.Token = CookieOf(request, kSessionCookie);
    asked.Session = asked.Token.empty() ? nullptr : FSessions.Find(asked.Token, Now());
    asked.MayRead = asked.Session || (FLoopback && FPasswordHash.empty());

    if (path == "/login")
        return Login(asked, request);
    if (path == "/logout" && post) {
        if (asked.Session)
            FSessions.Close(asked.Token);
        TReply reply = Redirect("/");
        reply.Headers.emplace_back("Set-Cookie", QByteArray(kSessionCookie) + "=; Path=/; Max-Age=0; HttpOnly; "
                                                                              "SameSite=Strict");
        return reply;
    }
    if (path.starts_with("/api/"))
        return Api(asked, request);
    if (!get)
        return Error(405, "only GET here");
    if (!asked.MayRead)
        return Redirect("/login");
    if (path == "/")
        return Page(asked, "overview", "Overview");
    if (path == "/jobs")
        return Page(asked, "jobs", "Jobs");
    if (path.starts_with("/jobs/") && Id(QString::fromStdString(path.substr(6))))
        return Page(asked, "job", "Job " + path.substr(6));
    if (path == "/log")
        return Page(asked, "log", "Log");
    if (path == "/printers")
        return Page(asked, "printers", "Printers");
    return Text(404, "Not found\n");
}

TReply TWebServer::Page(const TAsked& asked, const std::string& page, const std::string& title)
{
    TReply reply;
    std::string csrf;
    if (asked.Session) {
        csrf = asked.Session->Csrf;
    } else if (page == "job") {
        // Read freely on loopback; the session gives the page its right to act.
        const std::string token = FSessions.Open(Now());
        csrf = FSessions.Find(token, Now())->Csrf;
        reply.Headers.emplace_back("Set-Cookie", QByteArray(kSessionCookie) + "=" + QByteArray::fromStdString(token) +
                                                     "; Path=/; HttpOnly; SameSite=Strict" +
                                                     (asked.Secure ? "; Secure" : ""));
    }
    reply.Type = "text/html; charset=utf-8";
    reply.Body = QByteArray::fromStdString(
        PageHtml(page, title, csrf, kProgramVersion, !FPasswordHash.empty() && asked.Session != nullptr));
    return reply;
}

TReply TWebServer::Login(const TAsked& asked, const QHttpServerRequest& request)
{
    const std::int64_t now = Now();
    if (request.method() == QHttpServerRequest::Method::Get) {
        if (FPasswordHash.empty() || asked.Session)
            return Redirect("/");
        return Text(200, LoginHtml("", kProgramVersion), "text/html; charset=utf-8");
    }
    if (FPasswordHash.empty())
        return Redirect("/");
    if (const std::int64_t wait = FBackoff.WaitMs(asked.Remote, now); wait > 0) {
        const std::string again = "Too many wrong passwords. Try again in " + std::to_string((wait + 999) / 1000) + " s.";
        TReply reply = Text(429, LoginHtml(again, kProgramVersion), "text/html; charset=utf-8");
        reply.Headers.emplace_back("Retry-After", QByteArray::number((wait + 999) / 1000));
        return reply;
    }
    // A form sends a space as '+' and a '+' as %2B.
    QByteArray body = request.body();
    body.replace('+', ' ');
    const QUrlQuery form(QString::fromUtf8(body));
    const std::string password = form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded).toStdString();
    if (!WebPasswordMatches(FPasswordHash, password)) {
        FBackoff.Failed(asked.Remote, now);
        return Text(401, LoginHtml("Wrong password.", kProgramVersion), "text/html; charset=utf-8");
    }
    FBackoff.Succeeded(asked.Remote);
    const std::string token = FSessions.Open(now);
    TReply reply = Redirect("/");
    reply.Headers.emplace_back("Set-Cookie", QByteArray(kSessionCookie) + "=" + QByteArray::fromStdString(token) +
                                                 "; Path=/; HttpOnly; SameSite=Strict" +
                                                 (asked.Secure ? "; Secure" : ""));
    return reply;
}

TReply TWebServer::Api(const TAsked& asked, const QHttpServerRequest& request)
{
    const std::string& path = asked.Path;
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    if (post) {
        const std::string prefix = "/api/jobs/";
        const std::string suffix = "/resubmit";
        if (path.starts_with(prefix) && path.ends_with(suffix) && path.size() > prefix.size() + suffix.size())
            if (const auto id = Id(QString::fromStdString(
                    path.substr(prefix.size(), path.size() - prefix.size() - suffix.size()))))
                return Resubmit(asked, request, *id);
        return Error(404, "no such action");
    }
    if (!asked.MayRead)
        return Error(401, "log in first");
    TJournal& journal = FSource.Journal();
    if (path == "/api/status")
        return StatusReply(journal);
    if (path == "/api/jobs")
        return JobsReply(journal, QUrlQuery(request.url()));
    if (path.starts_with("/api/jobs/"))
        return JobReply(journal, path.substr(10));
    if (path == "/api/log") {
        const QUrlQuery query(request.url());
        const std::uint64_t since = query.queryItemValue(QStringLiteral("since")).toULongLong();
        TJson lines = TJson::array();
        for (const TLogLine& line : FSource.LogSince(since, 500))
            lines.push_back({{"seq", line.Seq}, {"text", line.Text}, {"severity", line.Severity}});
        return Json(lines);
    }
    if (path == "/api/printers")
        return Json(PrintersJson(FSource.Printers()));
    return Error(404, "no such resource");
}

// Many pollers, one answer a second.
TReply TWebServer::StatusReply(TJournal& journal)
{
    if (FStatusReplyAt == FStatusAt && FStatusAt != 0 && !FStatusReply.Body.isEmpty()) {
        CachedStatus();
        if (FStatusReplyAt == FStatusAt)
            return FStatusReply;
    }
    const TServerStatus& status = CachedStatus();
    TJson json = StatusJson(journal, status);
    const TLiveState live = FSource.Live();
    json["server"] = {{"caption", live.Caption},
                      {"version", live.Version},
                      {"busy", live.Busy},
                      {"spooled_files", live.Spooled},
                      {"lpr_queue", live.LprQueue},
                      {"lights",
                       {{"spool", live.Lights[0]},
                        {"convert", live.Lights[1]},
                        {"print", live.Lights[2]},
                        {"lpr", live.Lights[3]}}}};
    FStatusReply = Json(json);
    FStatusReplyAt = FStatusAt;
    return FStatusReply;
}

TReply TWebServer::Resubmit(const TAsked& asked, const QHttpServerRequest& request, std::int64_t id)
{
    if (!asked.Session)
        return Error(401, "resubmitting needs a session: open the page first" +
                              std::string(FPasswordHash.empty() ? "" : " and log in"));
    if (HeaderOf(request, "X-CSRF-Token").toStdString() != asked.Session->Csrf)
        return Error(403, "the page's token is missing or wrong: reload the page");
    const TResult<std::string> sent = FSource.Resubmit(id, "the status page (" + asked.Remote + ")");
    if (!sent)
        return Error(409, sent.Reason());
    return Json(TJson {{"message", *sent}});
}
