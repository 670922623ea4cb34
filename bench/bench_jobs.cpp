// The whole job loop as the server runs it, with the timers' waits taken
// out: a request dropped into the spool folder, the spool tick that takes
// and composes it, the print run, and the print system's acceptance of the
// job (a private CUPS scheduler). Three kinds of job: a report printed on a
// printer (with a Lexmark overlay name in its options), a report saved as
// PDF, and a report whose HP overlay page becomes a PCL page file. Then the
// server's memory after 10 jobs and after 1,000.
#include "app/printserver.h"

#include "measure.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

namespace {

const QString kTop = QStringLiteral(PRINTORB_SOURCE_DIR);

std::string ReadAll(const QString& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TBench {
    TPrintServer& Server;
    std::string Spool;
    std::string Request;

    // One job through the loop; false when it did not reach its output.
    bool Job(int n, const std::string& extra)
    {
        const std::string name = "bench" + std::to_string(n) + ".tvq";
        std::ofstream(Spool + name, std::ios::binary) << Request << extra << "\r\n";
        Server.Pipeline().SpoolTimerTimer();
        if (Server.Pipeline().PrintPending)
            Server.Pipeline().printingtimerTimer();
        return !QFileInfo::exists(QString::fromStdString(Spool + name));
    }
};

}  // namespace

int main(int argc, char** argv)
{
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
    const QString port = QString::fromUtf8(cups.readAllStandardOutput()).trimmed();
    if (port.isEmpty()) {
        std::fprintf(stderr, "the private CUPS scheduler did not start\n");
        return 1;
    }
    QProcess::execute(kTop + "/tests/peers/cups-private.sh", {"add", cupsDir, "ORB-Demo"});
    QProcess::execute(kTop + "/tests/peers/cups-private.sh", {"add", cupsDir, "ORB-PCL"});
    qputenv("CUPS_SERVER", ("127.0.0.1:" + port).toUtf8());

    TPrintServer server(home.toStdString() + "/");
    if (!server.StartUp()) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    std::string request = ReadAll(home + "/requests/fbe_interim.tvq");
    while (!request.empty() && (request.back() == '\n' || request.back() == '\r'))
        request.pop_back();
    TBench bench {server, server.Config().SpoolDir, request};

    struct TKind {
        const char* Name;
        std::string Extra;
    };
    const TKind kinds[] = {
        {"printed on CUPS (Lexmark overlay)", ""},
        {"saved as PDF", "^HV_PDFDOC~" + (home + "/results/bench.pdf").toStdString()},
        {"HP overlay page file", "^HV_PRINTER~2^HV_PMASK~12"},
    };
    int n = 0;
    std::printf("%-36s %10s %10s\n", "job", "median ms", "max ms");
    for (const TKind& kind : kinds) {
        std::vector<double> ms;
        for (int i = 0; i < 60; ++i) {
            QElapsedTimer timer;
            timer.start();
            if (!bench.Job(++n, kind.Extra)) {
                std::fprintf(stderr, "job %d (%s) did not complete\n", n, kind.Name);
                return 1;
            }
            ms.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("%-36s %10.1f %10.1f\n", kind.Name, Median(ms), *std::max_element(ms.begin(), ms.end()));
    }

    // Memory: the printed kind, after 10 more jobs and after 1,000.
    for (int i = 0; i < 10; ++i)
        bench.Job(++n, "");
    const long after10 = RssKb();
    for (int i = 0; i < 990; ++i)
        if (!bench.Job(++n, "")) {
            std::fprintf(stderr, "job %d did not complete\n", n);
            return 1;
        }
    const long after1000 = RssKb();
    std::printf("resident memory after 10 jobs %.1f MB, after 1,000 jobs %.1f MB, growth %.1f MB\n", after10 / 1024.0,
                after1000 / 1024.0, (after1000 - after10) / 1024.0);
    QProcess::execute(kTop + "/tests/peers/cups-private.sh", {"stop", cupsDir});
    return 0;
}
