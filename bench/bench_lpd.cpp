// Delivering a 1 MB and a 10 MB printer file by our LPD client to a real LPD
// server (cups-lpd under socat, into a private CUPS scheduler), side by side
// with CUPS's own lpd backend sending the same file to the same server.
// Our client pauses by design: 1.6 s per job plus the data delay after every
// 1000 bytes; the table shows that part and our overhead beyond it.
#include "delivery/lpdclient.h"

#include "measure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

namespace {

const QString kPeers = QStringLiteral(PRINTORB_SOURCE_DIR "/tests/peers/");

QString FirstLine(QProcess& process)
{
    for (int i = 0; i < 200 && !process.canReadLine(); ++i)
        process.waitForReadyRead(50);
    return QString::fromUtf8(process.readLine()).trimmed();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString cupsDir = dir.filePath("cups");
    QProcess cups;
    cups.start(kPeers + "cups-private.sh", {"start", cupsDir});
    cups.waitForFinished(30000);
    const QString cupsPort = QString::fromUtf8(cups.readAllStandardOutput()).trimmed();
    QProcess::execute(kPeers + "cups-private.sh", {"add", cupsDir, "Bench"});
    QProcess lpdServer;
    lpdServer.start(kPeers + "lpd-server.sh", {dir.filePath("lpd"), cupsPort});
    const int port = FirstLine(lpdServer).toInt();
    if (cupsPort.isEmpty() || port == 0) {
        std::fprintf(stderr, "the LPD server did not start\n");
        return 1;
    }

    std::printf("%-8s %12s %12s %12s %12s\n", "size", "ours (s)", "mandated (s)", "overhead (s)", "CUPS lpd (s)");
    std::mt19937 random(7);
    for (const int megabytes : {1, 10}) {
        const std::size_t size = static_cast<std::size_t>(megabytes) * 1000 * 1000;
        std::string data(size, '\0');
        for (char& c : data)
            c = static_cast<char>(random());
        const QString file = dir.filePath(QStringLiteral("job%1.prn").arg(megabytes));
        std::ofstream(file.toStdString(), std::ios::binary) << data;

        std::vector<double> ours, theirs;
        TsbLPD lpd;
        lpd.Client.Port = port;
        lpd.DataDelay = 1;
        for (int run = 0; run < 3; ++run) {
            std::ifstream stream(file.toStdString(), std::ios::binary);
            lpd.NextJob();
            QElapsedTimer timer;
            timer.start();
            const TResult<TLpdResult> sent = lpd.Send("127.0.0.1", "Bench", "printorb", "printorb", "bench", stream);
            ours.push_back(timer.nsecsElapsed() / 1e9);
            if (!sent)
                std::fprintf(stderr, "our send broke off: %s\n", sent.Reason().c_str());
            else if (*sent != TLpdResult::Delivered)
                std::fprintf(stderr, "our send failed: %d\n", Code(*sent));

            QProcess backend;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("DEVICE_URI", QStringLiteral("lpd://127.0.0.1:%1/Bench").arg(port));
            backend.setProcessEnvironment(env);
            timer.restart();
            backend.start("/usr/lib/cups/backend/lpd", {"1", "root", "bench", "1", "", file});
            backend.waitForFinished(600000);
            theirs.push_back(timer.nsecsElapsed() / 1e9);
        }
        // 100 + 500 + 500 + 500 ms, and the delay after each 1000-byte piece (one more when size % 1000 == 0).
        const double mandated = 1.6 + (size / 1000 + 1) * lpd.DataDelay / 1000.0;
        std::printf("%-8s %12.3f %12.3f %12.3f %12.3f\n", (std::to_string(megabytes) + " MB").c_str(), Median(ours),
                    mandated, Median(ours) - mandated, Median(theirs));
    }
    lpdServer.terminate();
    lpdServer.waitForFinished(5000);
    QProcess::execute(kPeers + "cups-private.sh", {"stop", cupsDir});
    return 0;
}
