// printorbd with its status page on a free port of 127.0.0.1, and a plain
// HTTP/1.1 client over POSIX sockets: the test sees the bytes the server
// sends, headers and all, and can hold a connection half-written.
#pragma once

#include "app/daemonhome.h"

#include <nlohmann/json.hpp>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A TCP connection to 127.0.0.1 (never anywhere else).
class TRawClient {
public:
    explicit TRawClient(int port)
    {
        FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(FFd);
            FFd = -1;
        }
    }
    ~TRawClient() { Close(); }
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;

    bool Connected() const { return FFd >= 0; }
    bool Send(const std::string& bytes)
    {
        return FFd >= 0 && ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Reads what has come within waitMs; true once the server has closed
    // (or reset) the connection.
    bool PeerClosed(int waitMs = 0)
    {
        if (FClosed)
            return true;
        pollfd p {FFd, POLLIN, 0};
        if (FFd < 0 || ::poll(&p, 1, waitMs) <= 0)
            return FFd < 0;
        char buf[4096];
        const ssize_t got = ::recv(FFd, buf, sizeof buf, MSG_DONTWAIT);
        if (got > 0)
            FReceived.append(buf, static_cast<std::size_t>(got));
        else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            FClosed = true;
        return FClosed;
    }
    // Reads until the reply is whole (by Content-Length), the peer closes or time is up.
    std::string ReadReply(int timeoutMs = 10000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!Whole() && !FClosed && std::chrono::steady_clock::now() < until)
            PeerClosed(50);
        return FReceived;
    }
    const std::string& Received() const { return FReceived; }
    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

private:
    bool Whole() const
    {
        const auto end = FReceived.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        static const QRegularExpression length(QStringLiteral("\r\ncontent-length:\\s*(\\d+)"),
                                               QRegularExpression::CaseInsensitiveOption);
        const auto match = length.match(QString::fromLatin1(FReceived.substr(0, end + 2)));
        return match.hasMatch() && FReceived.size() >= end + 4 + match.captured(1).toULongLong();
    }
    int FFd = -1;
    bool FClosed = false;
    std::string FReceived;
};

struct THttpReply {
    int Status = 0;  // 0: no reply
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;

    // The first header of that name, case-insensitive; empty when none.
    std::string Header(const std::string& name) const
    {
        for (const auto& [key, value] : Headers)
            if (QString::fromStdString(key).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
    nlohmann::json Json() const { return nlohmann::json::parse(Body, nullptr, false); }
    // The session cookie's value as Set-Cookie gives it; empty when none.
    std::string Session() const
    {
        const std::string cookie = Header("Set-Cookie");
        const std::string name = "printorb_session=";
        if (!cookie.starts_with(name))
            return {};
        return cookie.substr(name.size(), cookie.find(';') - name.size());
    }
    // The page's <meta name="csrf-token">.
    std::string Csrf() const
    {
        static const QRegularExpression meta(QStringLiteral("<meta name=\"csrf-token\" content=\"([^\"]*)\">"));
        return meta.match(QString::fromStdString(Body)).captured(1).toStdString();
    }
};

inline THttpReply ParseReply(const std::string& raw)
{
    THttpReply reply;
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos || !raw.starts_with("HTTP/1.1 "))
        return reply;
    reply.Status = std::atoi(raw.c_str() + 9);
    std::size_t at = raw.find("\r\n") + 2;
    while (at < end) {
        const auto eol = raw.find("\r\n", at);
        const std::string line = raw.substr(at, eol - at);
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            reply.Headers.emplace_back(line.substr(0, colon),
                                       QString::fromStdString(line.substr(colon + 1)).trimmed().toStdString());
        at = eol + 2;
    }
    reply.Body = raw.substr(end + 4);
    return reply;
}

struct THttpRequest {
    std::string Method = "GET";
    std::string Path = "/";
    std::vector<std::string> Headers;  // "Name: value"
    std::string Body;
    std::string Host;  // empty: 127.0.0.1:port
};

// One request on its own connection to 127.0.0.1:port.
inline THttpReply Http(int port, const THttpRequest& request)
{
    TRawClient client(port);
    std::string text = request.Method + " " + request.Path + " HTTP/1.1\r\nHost: " +
                       (request.Host.empty() ? "127.0.0.1:" + std::to_string(port) : request.Host) +
                       "\r\nConnection: close\r\n";
    for (const std::string& header : request.Headers)
        text += header + "\r\n";
    if (!request.Body.empty() || request.Method == "POST")
        text += "Content-Length: " + std::to_string(request.Body.size()) + "\r\n";
    text += "\r\n" + request.Body;
    if (!client.Send(text))
        return {};
    return ParseReply(client.ReadReply());
}

inline THttpReply Get(int port, const std::string& path, const std::vector<std::string>& headers = {})
{
    return Http(port, {"GET", path, headers, "", ""});
}

inline std::string CookieHeader(const std::string& session)
{
    return "Cookie: printorb_session=" + session;
}

// WaitFor for conditions that start a program or a connection: asked a
// few times a second, not in a busy loop.
inline bool WaitEvery(int everyMs, const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        WaitFor([] { return false; }, everyMs);
    }
    return true;
}

// A home whose printorbd serves its status page on 127.0.0.1 (or the
// address given) and a port that was free a moment ago.
struct TWebHome : TDaemonHome {
    explicit TWebHome(const std::string& extra = "", const std::string& address = "127.0.0.1", int port = ClosedPort())
        : TDaemonHome("WEBSTATUS=" + address + ":" + std::to_string(port) + "\r\n" + extra), Port(port)
    {
    }
    bool StartServing()
    {
        return Start() && WaitForLog("The status page is served at http://" + std::string(Address()) + ":" +
                                     std::to_string(Port) + "/");
    }
    std::string Address() const
    {
        const std::string settings = Settings();
        const auto at = settings.find("WEBSTATUS=") + 10;
        return settings.substr(at, settings.find(':', at) - at);
    }
    THttpReply Get(const std::string& path, const std::vector<std::string>& headers = {}) const
    {
        return ::Get(Port, path, headers);
    }
    // A program's JSON output as nlohmann's value; null when it printed none.
    nlohmann::json ToolJson(const std::vector<std::string>& args) const
    {
        const TProgramRun run = Tool(args);
        return run.Status == 0 ? nlohmann::json::parse(run.Out, nullptr, false) : nlohmann::json();
    }
    // The one job of a request code, as `jobs --json` lists it.
    nlohmann::json ListedJob(const std::string& reqCode) const
    {
        const nlohmann::json jobs = ToolJson({"jobs", "--reqcode", reqCode, "--json"});
        return jobs.is_array() && jobs.size() == 1 ? jobs[0] : nlohmann::json();
    }
    // Its state; empty while there is no such job.
    std::string State(const std::string& reqCode) const
    {
        const nlohmann::json job = ListedJob(reqCode);
        return job.is_object() ? job.value("state", "") : "";
    }
    bool Ended(const std::string& reqCode) const
    {
        const std::string state = State(reqCode);
        return state == "done" || state == "failed" || state == "unprintable";
    }
    int Port;
};

// printorb-tool with the given lines on its standard input.
inline TProgramRun ToolWithInput(const TDaemonHome& home, std::vector<std::string> args, const std::string& input)
{
    args.insert(args.end(), {"--home", home.Dir.Path()});
    return RunProgram("printorb-tool", args, {}, 30000, input);
}
