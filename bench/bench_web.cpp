// The status page under its pollers, in the server's own process as
// bench_jobs runs it: a request dropped into the spool folder, the spool
// tick, the print run on a private CUPS scheduler, and after each job the
// event loop's turn, as the one thread of printorbd gives it between ticks.
// Jobs per second without pollers and with 50 of them, in alternating
// blocks so that a busy machine weighs on both alike. The pollers are
// another process (this program with --pollers): each GETs /api/status and
// /metrics once a second, on a new connection each time. Then the server's
// CPU per request of each path; 50 pollers that keep their connections
// open, against the server's connection cap; the server's memory over
// 10,000 requests to /api/status, /metrics, /api/jobs and / (this program
// with --requests); and what one status reading costs as the journal grows.
//
//   bench_web [JOBS]   JOBS per block, 40 blocks; defaults to 60.
#include "app/printserver.h"
#include "app/webstatus.h"
#include "journal/journal.h"
#include "status/serverstatus.h"
#include "web/webserver.h"

#include "measure.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

namespace {

const QString kTop = QStringLiteral(PRINTORB_SOURCE_DIR);
constexpr int kPollers = 50;
constexpr int kQuartets = 10; // of blocks: without, with, with, without

// ---- The clients: plain sockets and poll(), one thread, never Qt's loop.

using TClock = std::chrono::steady_clock;

volatile sig_atomic_t GStop = 0;

struct TClientStats {
    long Sent = 0;
    long Errors = 0;
    std::map<int, long> Statuses;
    std::vector<double> Ms;

    std::string Line() const
    {
        std::ostringstream out;
        out << "sent=" << Sent << " errors=" << Errors;
        for (const auto& [status, count] : Statuses)
            out << " status" << status << "=" << count;
        std::vector<double> ms = Ms;
        std::sort(ms.begin(), ms.end());
        const auto at = [&](double q) { return ms.empty() ? 0.0 : ms[static_cast<std::size_t>(q * (ms.size() - 1))]; };
        out << " median_ms=" << at(0.5) << " p99_ms=" << at(0.99) << " max_ms=" << at(1.0);
        rusage use {};
        ::getrusage(RUSAGE_SELF, &use);
        const auto msOf = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
        out << " cpu_ms=" << msOf(use.ru_utime) + msOf(use.ru_stime);
        return out.str();
    }
};

struct TClient {
    int Fd = -1;
    bool InFlight = false;
    std::size_t Step = 0;  // which of the round's paths is next
    TClock::time_point RoundAt, DueAt, SentAt;
    std::string Out, In;
    std::size_t Written = 0;
};

class TClients {
public:
    // Each client asks paths in turn; a round starts every periodMs (0: at once).
    // Paused ones wait for "r" on standard input; "p" pauses them again.
    TClients(quint16 port, int clients, std::vector<std::string> paths, int periodMs, bool keepAlive, long limit,
             bool paused = false)
        : FPort(port), FPaths(std::move(paths)), FPeriodMs(periodMs), FKeep(keepAlive), FLimit(limit),
          FPaused(paused), FClients(static_cast<std::size_t>(clients))
    {
        Schedule(TClock::now());
    }

    void Run()
    {
        while (!GStop) {
            TClock::time_point now = TClock::now();
            bool busy = false;
            for (TClient& c : FClients) {
                if (!FPaused && !c.InFlight && c.DueAt <= now && (FLimit == 0 || FStats.Sent < FLimit))
                    Start(c, now);
                busy = busy || c.InFlight;
            }
            if (!busy && FLimit != 0 && FStats.Sent >= FLimit)
                return;
            std::vector<pollfd> fds;
            std::vector<TClient*> owners;
            int waitMs = 100;
            for (TClient& c : FClients) {
                if (c.InFlight) {
                    fds.push_back({c.Fd, static_cast<short>(c.Written < c.Out.size() ? POLLOUT : POLLIN), 0});
                    owners.push_back(&c);
                } else if (!FPaused && (FLimit == 0 || FStats.Sent < FLimit)) {
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(c.DueAt - now).count();
                    waitMs = std::clamp<int>(static_cast<int>(left), 0, waitMs);
                }
            }
            if (FLimit == 0)
                fds.push_back({STDIN_FILENO, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR)
                return;
            now = TClock::now();
            if (FLimit == 0 && fds.back().revents != 0) {
                fds.pop_back();
                if (!Command(now))
                    return;
            } else if (FLimit == 0) {
                fds.pop_back();
            }
            for (std::size_t i = 0; i < fds.size(); ++i) {
                TClient& c = *owners[i];
                if (fds[i].revents != 0)
                    Progress(c, now);
                else if (now - c.SentAt > std::chrono::seconds(10))
                    Finish(c, now, 0, true);
            }
        }
    }

    const TClientStats& Stats() const { return FStats; }

private:
    // False at the end of standard input.
    bool Command(TClock::time_point now)
    {
        char commands[64];
        const ssize_t n = ::read(STDIN_FILENO, commands, sizeof commands);
        if (n <= 0)
            return n < 0 && errno == EINTR;
        for (ssize_t i = 0; i < n; ++i) {
            if (commands[i] == 'p')
                FPaused = true;
            if (commands[i] == 'r') {
                FPaused = false;
                Schedule(now);
            }
        }
        return true;
    }

    // Spread over the period, as independent pollers would be.
    void Schedule(TClock::time_point now)
    {
        for (std::size_t i = 0; i < FClients.size(); ++i)
            if (!FClients[i].InFlight) {
                FClients[i].Step = 0;
                FClients[i].RoundAt = FClients[i].DueAt =
                    now + std::chrono::milliseconds(FPeriodMs * static_cast<long>(i) / std::ssize(FClients));
            }
    }

    void Start(TClient& c, TClock::time_point now)
    {
        c.InFlight = true;
        c.SentAt = now;
        c.In.clear();
        c.Written = 0;
        const std::string& path = FPeriodMs > 0 ? FPaths[c.Step] : FPaths[FPathTurn++ % FPaths.size()];
        c.Out = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(FPort) +
                "\r\nConnection: " + (FKeep ? "keep-alive" : "close") + "\r\n\r\n";
        ++FStats.Sent;
        if (c.Fd >= 0)
            return;
        c.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(FPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (c.Fd < 0 || (::connect(c.Fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS))
            Finish(c, now, 0, true);
    }

    void Progress(TClient& c, TClock::time_point now)
    {
        if (c.Written < c.Out.size()) {
            const ssize_t n = ::send(c.Fd, c.Out.data() + c.Written, c.Out.size() - c.Written, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN)
                Finish(c, now, 0, true);
            else if (n > 0)
                c.Written += static_cast<std::size_t>(n);
            return;
        }
        char buffer[16384];
        const ssize_t n = ::recv(c.Fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            Finish(c, now, 0, true);  // closed before the whole answer
            return;
        }
        c.In.append(buffer, static_cast<std::size_t>(n));
        const std::size_t end = c.In.find("\r\n\r\n");
        if (end == std::string::npos)
            return;
        std::string head = c.In.substr(0, end + 2);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char ch) { return std::tolower(ch); });
        const std::size_t length = head.find("\r\ncontent-length:");
        const std::size_t body =
            length == std::string::npos ? 0 : std::strtoul(head.c_str() + length + 17, nullptr, 10);
        if (c.In.size() < end + 4 + body)
            return;
        const int status = c.In.size() > 12 ? std::atoi(c.In.c_str() + 9) : 0;
        const bool closing = !FKeep || head.find("\r\nconnection: close") != std::string::npos;
        Finish(c, now, status, closing);
    }

    void Finish(TClient& c, TClock::time_point now, int status, bool close)
    {
        if (status == 0) {
            ++FStats.Errors;
        } else {
            ++FStats.Statuses[status];
            FStats.Ms.push_back(std::chrono::duration<double, std::milli>(now - c.SentAt).count());
        }
        if (close && c.Fd >= 0) {
            ::close(c.Fd);
            c.Fd = -1;
        }
        c.InFlight = false;
        if (++c.Step < FPaths.size() && FPeriodMs > 0) {
            c.DueAt = now;  // the round's next path at once
            return;
        }
        c.Step = 0;
        // The next round on the beat; one that fell behind starts now.
        c.RoundAt = std::max(c.RoundAt + std::chrono::milliseconds(FPeriodMs), now);
        c.DueAt = c.RoundAt;
    }

    quint16 FPort;
    std::vector<std::string> FPaths;
    int FPeriodMs;
    bool FKeep;
    long FLimit;
    bool FPaused;
    std::vector<TClient> FClients;
    std::size_t FPathTurn = 0;
    TClientStats FStats;
};

// bench_web --pollers PORT N keep|close [paused]: until SIGTERM or the end of
// standard input, then one line of figures; "p" and "r" there pause and resume.
// bench_web --requests PORT COUNT CONCURRENCY [PATH...]: COUNT requests, then the line.
int ClientMain(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    const auto port = static_cast<quint16>(std::atoi(argv[2]));
    const int n = std::atoi(argv[3]);
    struct sigaction stop {};
    stop.sa_handler = [](int) { GStop = 1; };
    ::sigaction(SIGTERM, &stop, nullptr);
    std::printf("ready\n");  // SIGTERM may come now
    std::fflush(stdout);
    const bool pollers = std::strcmp(argv[1], "--pollers") == 0;
    std::vector<std::string> paths(argv + 5, argv + argc);
    if (paths.empty())
        paths = {"/api/status", "/metrics", "/api/jobs", "/"};
    TClients clients = pollers ? TClients(port, n, {"/api/status", "/metrics"}, 1000, std::strcmp(argv[4], "keep") == 0,
                                          0, argc > 5 && std::strcmp(argv[5], "paused") == 0)
                               : TClients(port, std::atoi(argv[4]), paths, 0, false, n);
    clients.Run();
    std::printf("%s\n", clients.Stats().Line().c_str());
    return 0;
}

// ---- The server's side.

std::string ReadAll(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, double> Figures(const QByteArray& line)
{
    std::map<std::string, double> figures;
    for (const QByteArray& pair : line.trimmed().split(' ')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0)
            figures[pair.left(eq).toStdString()] = pair.mid(eq + 1).toDouble();
    }
    return figures;
}

// The event loop runs until the time is up or the process ends.
void Serve(int ms, QProcess* until = nullptr)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (until)
        QObject::connect(until, &QProcess::finished, &loop, &QEventLoop::quit);
    if (!until || until->state() != QProcess::NotRunning)
        loop.exec();
}

// A helper process of ours; its figures when it has ended.
std::map<std::string, double> Finished(QProcess& helper, int withinMs)
{
    Serve(withinMs, &helper);
    if (helper.state() != QProcess::NotRunning) {
        helper.kill();
        helper.waitForFinished(5000);
        std::fprintf(stderr, "a client process did not end in time\n");
    }
    return Figures(helper.readAllStandardOutput());
}

void StartHelper(QProcess& helper, const QStringList& args)
{
    helper.setProcessChannelMode(QProcess::SeparateChannels);
    helper.start(QCoreApplication::applicationFilePath(), args);
    helper.waitForStarted(10000);
    // "ready": its SIGTERM handler is in place.
    if (helper.waitForReadyRead(10000))
        helper.readLine();
}

void Tell(QProcess& helper, const char* command)
{
    helper.write(command);
    helper.waitForBytesWritten(5000);
}

struct TBench {
    TPrintServer& Server;
    std::string Spool;
    std::string Request;

    // One job through the loop, then the event loop's turn; false when the
    // job did not reach its output.
    bool Job(int n, const std::string& extra)
    {
        const std::string name = "bench" + std::to_string(n) + ".tvq";
        std::ofstream(Spool + name, std::ios::binary) << Request << extra << "\r\n";
        Server.Pipeline().SpoolTimerTimer();
        if (Server.Pipeline().State().PrintPending)
            Server.Pipeline().printingtimerTimer();
        // The second pass sends what the first one answered.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return !QFileInfo::exists(QString::fromStdString(Spool + name));
    }
};

double Get(const std::map<std::string, double>& figures, const char* key)
{
    const auto it = figures.find(key);
    return it == figures.end() ? 0.0 : it->second;
}

// This process's CPU time: nearly all of it the server's thread's (Qt's pool threads idle).
double CpuMs()
{
    return static_cast<double>(std::clock()) * 1000 / CLOCKS_PER_SEC;
}

struct TSide {
    double Seconds = 0;
    int Jobs = 0;
    std::vector<double> Ms;
    double CpuMs = 0;           // the server's, this process's
    std::vector<double> Rates;  // each block's
    double Rate() const { return Jobs / Seconds; }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--pollers") == 0 || std::strcmp(argv[1], "--requests") == 0))
        return ClientMain(argc, argv);
    const int perBlock = argc > 1 ? std::atoi(argv[1]) : 60;
    if (perBlock < 3) {
        std::fprintf(stderr, "usage: %s [JOBS >= 3]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString cupsDir = dir.filePath("cups");
    QProcess::execute(kTop + "/scripts/prepare-demo-home.sh", {home});
    QProcess cups;
    cups.start(kTop + "/tests/peers/cups-private.sh", {"start", cupsDir});
    cups.waitForFinished(30000);
    const QString cupsPort = QString::fromUtf8(cups.readAllStandardOutput()).trimmed();
    if (cupsPort.isEmpty()) {
        std::fprintf(stderr, "the private CUPS scheduler did not start\n");
        return 1;
    }
    QProcess::execute(kTop + "/tests/peers/cups-private.sh", {"add", cupsDir, "ORB-Demo"});
    QProcess::execute(kTop + "/tests/peers/cups-private.sh", {"add", cupsDir, "ORB-PCL"});
    qputenv("CUPS_SERVER", ("127.0.0.1:" + cupsPort).toUtf8());
    struct TCupsStop {
        QString Dir;
        ~TCupsStop() { QProcess::execute(kTop + "/tests/peers/cups-private.sh", {"stop", Dir}); }
    } cupsStop {cupsDir};

    // The demo's port may be taken (a demo server): a free one of our own.
    // A request is taken at once, not after the settle time a writer may need.
    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
    }
    {
        QFile inf(home + "/printserver.inf");
        inf.open(QIODevice::ReadOnly);
        QString text = QString::fromLatin1(inf.readAll());
        inf.close();
        text.replace(QRegularExpression(QStringLiteral("WEBSTATUS=[^\r\n]*")),
                     QStringLiteral("WEBSTATUS=127.0.0.1:%1").arg(port));
        text += QStringLiteral("\r\nSETTLESECONDS=0\r\n");
        inf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        inf.write(text.toLatin1());
    }

    TPrintServer server(home.toStdString() + "/");
    if (!server.StartUp()) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    if (!server.WebServer() || server.WebServer()->Port() != port) {
        std::fprintf(stderr, "the status page is not served on 127.0.0.1:%u\n", static_cast<unsigned>(port));
        return 1;
    }
    const QString portText = QString::number(port);
    std::string request = ReadAll(home + "/requests/fbe_interim.tvq");
    while (!request.empty() && (request.back() == '\n' || request.back() == '\r'))
        request.pop_back();
    TBench bench {server, server.Config().SpoolDir, request};
    // bench_jobs's three kinds in turn: printed on CUPS, saved as PDF, an HP page file.
    const std::string kinds[] = {"", "^HV_PDFDOC~" + (home + "/results/bench.pdf").toStdString(),
                                 "^HV_PRINTER~2^HV_PMASK~12"};
    int n = 0;
    const auto failed = [&] {
        std::fprintf(stderr, "job %d did not complete; the log's last lines:\n", n);
        const auto& log = server.Log().Entries();
        for (auto it = log.size() > 10 ? log.end() - 10 : log.begin(); it != log.end(); ++it)
            std::fprintf(stderr, "  %s\n", it->Line.c_str());
    };
    for (int i = 0; i < 30; ++i)  // warm: fonts, templates, the journal's pages
        if (!bench.Job(++n, kinds[i % 3])) {
            failed();
            return 1;
        }

    // Blocks without and with pollers in the order ABBA, ten rounds: a drift
    // in the machine's load falls on both sides alike. The server's CPU time
    // per job too: what the pollers add to its thread, whoever else runs on
    // the machine. One poller
    // process throughout, paused and resumed: on resuming, each poller takes
    // its place in the second, so the load is whole from the block's start.
    TSide without, with;
    QProcess pollers;
    StartHelper(pollers, {"--pollers", portText, QString::number(kPollers), "close", "paused"});
    for (int b = 0; b < 4 * kQuartets; ++b) {
        const bool polled = b % 4 == 1 || b % 4 == 2;
        TSide& side = polled ? with : without;
        if (polled)
            Tell(pollers, "r");
        QElapsedTimer block;
        block.start();
        const double cpuBefore = CpuMs();
        for (int i = 0; i < perBlock; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (!bench.Job(++n, kinds[i % 3])) {
                failed();
                return 1;
            }
            side.Ms.push_back(timer.nsecsElapsed() / 1e6);
        }
        side.CpuMs += CpuMs() - cpuBefore;
        side.Seconds += block.nsecsElapsed() / 1e9;
        side.Jobs += perBlock;
        side.Rates.push_back(perBlock / (block.nsecsElapsed() / 1e9));
        if (polled)
            Tell(pollers, "p");
    }
    pollers.terminate();
    const auto c = Finished(pollers, 10000);
    const double slowdown = (1 - with.Rate() / without.Rate()) * 100;
    const double slowdownMedian = (Median(with.Ms) / Median(without.Ms) - 1) * 100;
    // The CPU a job gained, by the jobs in a second: the share of the thread's time the pollers took.
    const double pollersShare = (with.CpuMs / with.Jobs - without.CpuMs / without.Jobs) * with.Rate() / 1000 * 100;
    std::printf("status page pollers: %d clients, each GET /api/status and /metrics once a second on new "
                "connections;\nbench_jobs's three kinds of job in turn, %d per block, %d blocks each side\n",
                kPollers, perBlock, 2 * kQuartets);
    std::printf("%-20s %10s %10s %10s %14s %16s\n", "side", "jobs/s", "median ms", "max ms", "CPU ms per job",
                "blocks' jobs/s");
    for (const TSide* side : {&without, &with}) {
        const auto [low, high] = std::minmax_element(side->Rates.begin(), side->Rates.end());
        std::printf("%-20s %10.1f %10.1f %10.1f %14.2f %9.1f - %.1f\n",
                    side == &without ? "without pollers" : "with 50 pollers", side->Rate(), Median(side->Ms),
                    *std::max_element(side->Ms.begin(), side->Ms.end()), side->CpuMs / side->Jobs, *low, *high);
    }
    std::printf("%-36s %6.1f %%   < 5 %% %s\n", "slowdown, jobs/s", slowdown, slowdown < 5 ? "met" : "MISSED");
    std::printf("%-36s %6.1f %%\n", "slowdown, median job", slowdownMedian);
    std::printf("%-36s %6.1f %%\n", "the pollers' share of the thread", pollersShare);
    std::printf("pollers' requests: %.0f sent, %.0f answered 200, %.0f 503, %.0f failed; latency median %.1f ms, "
                "p99 %.1f ms, max %.1f ms;\nthe pollers' own process used %.1f %% of a core while polling\n",
                Get(c, "sent"), Get(c, "status200"), Get(c, "status503"), Get(c, "errors"), Get(c, "median_ms"),
                Get(c, "p99_ms"), Get(c, "max_ms"), Get(c, "cpu_ms") / with.Seconds / 10);

    // The server's CPU for one request of each path, without jobs; what 50
    // pollers should then cost the one thread, whatever the machine's load.
    std::map<std::string, double> cpuMs;
    for (const char* path : {"/api/status", "/metrics", "/api/jobs", "/"}) {
        QProcess helper;
        StartHelper(helper, {"--requests", portText, "500", "4", path});
        const double before = CpuMs();
        const auto figures = Finished(helper, 60000);
        cpuMs[path] = (CpuMs() - before) / std::max(1.0, Get(figures, "status200"));
        if (Get(figures, "status200") != 500)
            std::fprintf(stderr, "%s: %.0f of 500 requests answered 200\n", path, Get(figures, "status200"));
    }
    std::printf("server CPU per request, ms: /api/status %.3f, /metrics %.3f, /api/jobs %.3f, / %.3f\n",
                cpuMs["/api/status"], cpuMs["/metrics"], cpuMs["/api/jobs"], cpuMs["/"]);
    std::printf("%d pollers' share of the thread by these, without jobs: %.1f %%\n", kPollers,
                kPollers * (cpuMs["/api/status"] + cpuMs["/metrics"]) / 1000 * 100);

    // Pollers that keep their connections open, as a browser or Prometheus does.
    {
        QProcess helper;
        StartHelper(helper, {"--pollers", portText, QString::number(kPollers), "keep"});
        Serve(5000);
        helper.terminate();
        const auto k = Finished(helper, 10000);
        std::printf("%d pollers on kept connections, 5 s, no jobs: %.0f sent, %.0f answered 200, %.0f 503, "
                    "%.0f failed (at most %d connections are taken)\n",
                    kPollers, Get(k, "sent"), Get(k, "status200"), Get(k, "status503"), Get(k, "errors"),
                    TWebServer::kMaxConnections);
    }
    Serve(1500);  // the kept connections close

    // Memory: 10,000 requests, 8 at a time, the RSS after each 1,000.
    std::vector<long> rss;
    double seconds = 0;
    std::map<std::string, double> m;
    for (int i = 0; i < 10; ++i) {
        QProcess helper;
        QElapsedTimer timer;
        timer.start();
        StartHelper(helper, {"--requests", portText, "1000", "8"});
        for (const auto& [key, value] : Finished(helper, 120000))
            m[key] += value;
        seconds += timer.nsecsElapsed() / 1e9;
        rss.push_back(RssKb());
    }
    std::printf("%.0f requests to /api/status, /metrics, /api/jobs and / (8 at a time, new connections): %.0f "
                "answered 200, %.0f failed, %.0f requests/s\n",
                Get(m, "sent"), Get(m, "status200"), Get(m, "errors"), Get(m, "sent") / seconds);
    std::printf("resident memory by 1,000 requests, MB:");
    for (const long kb : rss)
        std::printf(" %.1f", kb / 1024.0);
    const double growth = (rss.back() - rss.front()) / 1024.0;
    std::printf("\nresident memory after 1,000 requests %.1f MB, after 10,000 %.1f MB, growth %.1f MB   < 2 MB %s\n",
                rss.front() / 1024.0, rss.back() / 1024.0, growth, growth < 2 ? "met" : "MISSED");

    // One status reading with this journal; pollers cause one a second.
    {
        TServerWebSource source(server);
        std::vector<double> ms;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer timer;
            timer.start();
            static_cast<void>(source.Status(10));
            ms.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("one status reading with %d jobs in the journal: median %.2f ms\n", n, Median(ms));
    }
    // The reading goes through the last 30 days' jobs: a journal of its own
    // with 1,000 a day, as a busy laboratory has them.
    {
        TJournal journal;
        if (!journal.Open(dir.filePath("month.db").toStdString())) {
            std::fprintf(stderr, "the journal did not open\n");
            return 1;
        }
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        constexpr int kMonth = 30000;
        for (int i = 0; i < kMonth; ++i) {
            TJobRow job;
            job.SpoolFile = "month" + std::to_string(i) + ".tvq";
            job.Kind = "request";
            job.Hash = std::to_string(i);
            job.TakenAt = now - static_cast<std::int64_t>(kMonth - i) * 30 * 24 * 3600 * 1000LL / kMonth;
            job.State = TJobState::Done;
            // Stamped when it was taken, as the server's jobs are: a month of days, not one.
            journal.Now = [taken = job.TakenAt] { return taken; };
            static_cast<void>(journal.AddJob(job));
        }
        TStatusQuery month;
        month.Home = home.toStdString() + "/";
        month.Now = now;
        month.LastJobs = 10;
        std::vector<double> ms;
        for (int i = 0; i < 10; ++i) {
            QElapsedTimer timer;
            timer.start();
            static_cast<void>(ReadServerStatus(journal, month));
            ms.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("one status reading with %d jobs in the last 30 days: median %.1f ms, once a second while polled\n",
                    kMonth, Median(ms));
    }
    return 0;
}
