// The whole job loop as the server runs it, with the timers' waits taken
// out: a request dropped into the spool folder, the spool tick that takes
// and composes it, the print run, and the print system's acceptance of the
// job (a private CUPS scheduler). Three kinds of job: a report printed on a
// printer (with a Lexmark overlay name in its options), a report saved as
// PDF, and a report whose HP overlay page becomes a PCL page file; each kind
// with the job journal and without it (its cost per job is the difference).
// Then the server's memory after 10 jobs and after 1,000.
#include "app/printserver.h"
#include "journal/journal.h"

#include "measure.h"

#include <QApplication>
#include <QCryptographicHash>
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

    double TickMs = 0;   // the spool tick: take, compose
    double PrintMs = 0;  // the print run: output
    // One job through the loop; false when it did not reach its output.
    bool Job(int n, const std::string& extra)
    {
        const std::string name = "bench" + std::to_string(n) + ".tvq";
        std::ofstream(Spool + name, std::ios::binary) << Request << extra << "\r\n";
        QElapsedTimer timer;
        timer.start();
        Server.Pipeline().SpoolTimerTimer();
        TickMs = timer.nsecsElapsed() / 1e6;
        timer.restart();
        if (Server.Pipeline().State().PrintPending)
            Server.Pipeline().printingtimerTimer();
        PrintMs = timer.nsecsElapsed() / 1e6;
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
    // A request is taken at once, not after the settle time a writer may need.
    std::ofstream(home.toStdString() + "/printserver.inf", std::ios::app) << "\r\nSETTLESECONDS=0\r\n";
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
    std::printf("%-36s %-8s %10s %10s %10s %10s\n", "job", "journal", "median ms", "max ms", "tick ms", "print ms");
    std::vector<double> withJournal;
    for (const bool journal : {true, false}) {
        if (!journal)
            server.Pipeline().Journal().Close();  // every record becomes a no-op
        for (const TKind& kind : kinds) {
            std::vector<double> ms, tick, print;
            for (int i = 0; i < 60; ++i) {
                QElapsedTimer timer;
                timer.start();
                if (!bench.Job(++n, kind.Extra)) {
                    std::fprintf(stderr, "job %d (%s) did not complete\n", n, kind.Name);
                    return 1;
                }
                ms.push_back(timer.nsecsElapsed() / 1e6);
                tick.push_back(bench.TickMs);
                print.push_back(bench.PrintMs);
            }
            std::printf("%-36s %-8s %10.1f %10.1f %10.1f %10.1f\n", kind.Name, journal ? "with" : "without", Median(ms),
                        *std::max_element(ms.begin(), ms.end()), Median(tick), Median(print));
            if (journal)
                withJournal.push_back(Median(ms));
            else
                std::printf("%-36s journal's cost per job %.1f ms\n", kind.Name,
                            withJournal[static_cast<std::size_t>(&kind - kinds)] - Median(ms));
        }
    }

    // The journal's own cost per job: the calls a printed job makes, on a
    // journal of its own (the loop's own figures above are too noisy for it).
    {
        TJournal journal;
        if (!journal.Open(dir.filePath("bench-journal.db").toStdString())) {
            std::fprintf(stderr, "the journal did not open\n");
            return 1;
        }
        std::vector<double> ms;
        for (int i = 0; i < 1000; ++i) {
            QElapsedTimer timer;
            timer.start();
            const std::string name = "bench" + std::to_string(i) + ".tvq";
            const std::string hash =
                QCryptographicHash::hash(QByteArray::fromStdString(request), QCryptographicHash::Sha256).toHex().toStdString();
            static_cast<void>(journal.UnfinishedJob(name));
            static_cast<void>(journal.FinishedJobOf(name, hash, "1:2:3"));
            TJobRow job;
            job.SpoolFile = name;
            job.Hash = hash;
            job.Kind = "request";
            job.Attempts = 1;
            job.Id = *journal.AddJob(job);
            static_cast<void>(journal.UpdateJob(job));
            static_cast<void>(journal.AddEvent(job.Id, "taken"));
            job.Printer = "ORB-Demo";
            static_cast<void>(journal.UpdateJob(job));
            static_cast<void>(journal.AddEvent(job.Id, "composed"));
            static_cast<void>(journal.OutputOf(job.Id, "", 1, ""));
            const std::int64_t out =
                *journal.AddOutput({.JobId = job.Id, .Kind = "cups", .Page = 1, .Title = "R P Page 1", .State = "sending"});
            static_cast<void>(journal.OutputDone(out, 42));
            job.State = TJobState::Done;
            static_cast<void>(journal.UpdateJob(job));
            static_cast<void>(journal.AddEvent(job.Id, "done"));
            static_cast<void>(journal.SetMeta("last_tick", std::to_string(i)));
            static_cast<void>(journal.SetMeta("last_tick", std::to_string(i)));
            static_cast<void>(journal.Meta("retention_at"));
            ms.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("the journal's calls for one printed job: median %.3f ms, max %.3f ms\n", Median(ms),
                    *std::max_element(ms.begin(), ms.end()));
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
