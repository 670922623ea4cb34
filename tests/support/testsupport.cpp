#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

TTempDir::TTempDir()
{
    FDir.setAutoRemove(true);
    QFile::setPermissions(FDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    FPath = FDir.path().toStdString() + "/";
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

std::string RunOnPdf(const std::string& program, QStringList args, const std::string& pdfBytes)
{
    TTempDir dir;
    WriteFile(dir / "x.pdf", pdfBytes);
    args << QString::fromStdString(dir / "x.pdf");
    if (program == "pdftotext")
        args << "-";
    QProcess process;
    process.start(QString::fromStdString(program), args);
    process.waitForFinished(30000);
    return process.readAllStandardOutput().toStdString();
}

}  // namespace

std::string TextOfPdf(const std::string& pdfBytes)
{
    return RunOnPdf("pdftotext", {"-raw"}, pdfBytes);
}

std::string PdfInfoField(const std::string& pdfBytes, const std::string& field)
{
    const QString info = QString::fromStdString(RunOnPdf("pdfinfo", {}, pdfBytes));
    for (const QString& line : info.split('\n'))
        if (line.startsWith(QString::fromStdString(field) + ':'))
            return line.mid(static_cast<qsizetype>(field.size()) + 1).trimmed().toStdString();
    return {};
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::string SourceDir()
{
    return PRINTORB_SOURCE_DIR;
}

std::string BinaryDir()
{
    return PRINTORB_BINARY_DIR;
}

int ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

TProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::vector<std::string>& environment, int timeoutMs, const std::string& input)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const std::string& setting : environment) {
        const auto eq = setting.find('=');
        env.insert(QString::fromStdString(setting.substr(0, eq)), QString::fromStdString(setting.substr(eq + 1)));
    }
    process.setProcessEnvironment(env);
    QStringList arguments;
    for (const std::string& arg : args)
        arguments << QString::fromStdString(arg);
    // A bare name is one of the build's programs.
    const std::string path = program.rfind('/', 0) == 0 ? program : BinaryDir() + "/bin/" + program;
    process.start(QString::fromStdString(path), arguments);
    TProgramRun run;
    if (process.waitForStarted(5000)) {
        process.write(QByteArray::fromStdString(input));
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.Out = process.readAllStandardOutput().toStdString();
    run.Err = process.readAllStandardError().toStdString();
    return run;
}

namespace {

bool RunScript(const QStringList& args, QString* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QString::fromStdString(SourceDir() + "/tests/peers/cups-private.sh"), args);
    if (!process.waitForFinished(30000)) {
        process.kill();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s\n", process.readAllStandardError().constData());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace

TCupsPeer::TCupsPeer()
{
    QString port;
    if (!RunScript({"start", QString::fromStdString(FDir.Path() + "cups")}, &port))
        return;
    FPort = port.toInt();
    if (const char* old = std::getenv("CUPS_SERVER")) {
        FHadServer = true;
        FOldServer = old;
    }
    ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(FPort)).c_str(), 1);
}

TCupsPeer::~TCupsPeer()
{
    RunScript({"stop", QString::fromStdString(FDir.Path() + "cups")});
    if (FHadServer)
        ::setenv("CUPS_SERVER", FOldServer.c_str(), 1);
    else
        ::unsetenv("CUPS_SERVER");
}

bool TCupsPeer::Stop()
{
    return RunScript({"stop", QString::fromStdString(FDir.Path() + "cups")});
}

bool TCupsPeer::Resume()
{
    return RunScript({"resume", QString::fromStdString(FDir.Path() + "cups")});
}

bool TCupsPeer::AddQueue(const std::string& queue, const std::string& extraOptions)
{
    QStringList args {"add", QString::fromStdString(FDir.Path() + "cups"), QString::fromStdString(queue)};
    if (!extraOptions.empty())
        args += QString::fromStdString(extraOptions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return RunScript(args);
}

bool TCupsPeer::SetDefault(const std::string& queue)
{
    QProcess process;
    process.start(QStringLiteral("lpadmin"), {"-h", QString("127.0.0.1:%1").arg(FPort), "-d", QString::fromStdString(queue)});
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

std::string TCupsPeer::OutDir(const std::string& queue) const
{
    return FDir.Path() + "cups/out/" + queue + "/";
}

bool TCapturedJob::HasOption(const std::string& option) const
{
    const std::string padded = " " + Options + " ";
    return padded.find(" " + option + " ") != std::string::npos;
}

std::vector<TCapturedJob> TCupsPeer::Jobs(const std::string& queue, std::size_t count, int timeoutMs) const
{
    const QDir dir(QString::fromStdString(OutDir(queue)));
    auto list = [&] { return dir.entryList({QStringLiteral("job-*.info")}, QDir::Files); };
    WaitFor([&] { return static_cast<std::size_t>(list().size()) >= count; }, timeoutMs);
    std::vector<TCapturedJob> jobs;
    for (const QString& info : list()) {
        TCapturedJob job;
        job.Id = info.mid(4, info.size() - 9).toInt();
        for (const QString& line : QString::fromStdString(ReadFile(OutDir(queue) + info.toStdString())).split('\n')) {
            if (line.startsWith(QLatin1String("title=")))
                job.Title = line.mid(6).toStdString();
            else if (line.startsWith(QLatin1String("options=")))
                job.Options = line.mid(8).toStdString();
        }
        job.Data = ReadFile(OutDir(queue) + "job-" + std::to_string(job.Id) + ".data");
        jobs.push_back(std::move(job));
    }
    std::sort(jobs.begin(), jobs.end(), [](const TCapturedJob& a, const TCapturedJob& b) { return a.Id < b.Id; });
    return jobs;
}

std::vector<TCapturedJob> TCupsPeer::JobsWhenQuiet(const std::string& queue, std::size_t count, int timeoutMs,
                                                   int quietMs) const
{
    std::vector<TCapturedJob> jobs = Jobs(queue, count, timeoutMs);
    // The scheduler has gone quiet once a while passes without a new job.
    for (;;) {
        std::vector<TCapturedJob> later = Jobs(queue, jobs.size() + 1, quietMs);
        if (later.size() == jobs.size())
            return later;
        jobs = std::move(later);
    }
}

TListener::TListener()
{
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FFd, 16) != 0)
        return;
    socklen_t len = sizeof addr;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
}

TListener::~TListener()
{
    Close();
}

void TListener::Close()
{
    for (int fd : FClients)
        ::close(fd);
    FClients.clear();
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

int TListener::AcceptPending()
{
    for (;;) {
        const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            break;
        FClients.push_back(fd);
    }
    return Accepted();
}

bool TListener::PeerClosed(int n)
{
    char buf[256];
    for (;;) {
        const ssize_t got = ::recv(FClients.at(static_cast<std::size_t>(n)), buf, sizeof buf, 0);
        if (got == 0)
            return true;
        if (got < 0)
            return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

TPeerProcess::TPeerProcess(const std::string& script, const std::vector<std::string>& args)
    : FProcess(new QProcess)
{
    QStringList arguments;
    for (const std::string& a : args)
        arguments << QString::fromStdString(a);
    const QString path = QString::fromStdString(SourceDir() + "/tests/peers/" + script);
    if (script.size() > 3 && script.substr(script.size() - 3) == ".py") {
        arguments.prepend(path);
        FProcess->start(QStringLiteral("/usr/bin/python3"), arguments);
    } else {
        FProcess->start(path, arguments);
    }
    if (!FProcess->waitForStarted(10000))
        return;
    for (int i = 0; i < 200 && !FProcess->canReadLine(); ++i)
        FProcess->waitForReadyRead(50);
    FPort = QString::fromUtf8(FProcess->readLine()).trimmed().toInt();
    if (FPort == 0)
        std::fprintf(stderr, "%s did not start: %s\n", script.c_str(), FProcess->readAllStandardError().constData());
}

TPeerProcess::~TPeerProcess()
{
    // SIGTERM first, so that a script can stop what it started.
    FProcess->terminate();
    if (!FProcess->waitForFinished(5000)) {
        FProcess->kill();
        FProcess->waitForFinished(5000);
    }
    delete FProcess;
}
