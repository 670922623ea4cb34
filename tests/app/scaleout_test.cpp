// Growing past one machine with what CUPS already offers: two unattended
// servers, each with its own home and spool folder, print through one
// scheduler reached only by its network address, onto a CUPS class that
// spreads their jobs over the class's printers.
#include "app/serverfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <memory>
#include <set>

namespace {

// One of CUPS's own administration programs against the private scheduler.
struct TCupsCommand {
    bool Ok = false;
    std::string Out;
};

TCupsCommand RunCups(const std::string& program, const QStringList& args)
{
    QProcess process;
    process.start(QString::fromStdString(program), args);
    TCupsCommand run;
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.Out = process.readAllStandardOutput().toStdString();
    run.Ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!run.Ok)
        std::cerr << program << ' ' << args.join(' ').toStdString() << ": "
                  << process.readAllStandardError().toStdString() << '\n';
    return run;
}

// A ward's server home: its own templates, so that each printed page shows
// which server composed it, and printer 1 is the class.
struct TWardHome : TTestHome {
    explicit TWardHome(const std::string& ward)
        : Ward(ward)
    {
        WriteFile(Dir / "tags.txt", "3|PATSUR\r\n");
        WriteFile(Dir / "templates/LH.doc", "{\\rtf1{\\header Pathology Laboratory\\par}x\\par}");
        WriteFile(Dir / "templates/P1.tpl", "{\\rtf1 Ward " + ward + " result for <<PATSUR>>.\\par}");
        WriteSettings(Critical() + "PRINTER1=Ward\r\n");
    }
    void Drop(int n)
    {
        WriteFile(Dir / ("spool/" + Code(n) + ".tvq"), "HV_TEMPLATE~LH^HV_REQCODE~" + Code(n) +
                                                           "^HV_PROCCODE~P1^HV_PATSUR~SMITH^HV_PRINTER~1");
    }
    std::string Code(int n) const { return Ward + std::to_string(n); }
    bool SpoolEmpty() const { return QDir(QString::fromStdString(Dir / "spool")).entryList(QDir::Files).isEmpty(); }
    // The journal as the administrator reads it.
    QJsonArray Journal() const
    {
        const TProgramRun run = RunProgram("printorb-tool", {"jobs", "--home", Dir.Path(), "--json"});
        if (run.Status != 0)
            return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(run.Out)).array();
    }
    int DoneCount() const
    {
        int done = 0;
        for (const QJsonValue& job : Journal())
            done += job.toObject().value("state").toString() == "done" ? 1 : 0;
        return done;
    }

    std::string Ward;
};

// A captured job and the queue that printed it.
struct TPrinted {
    std::string Queue;
    TCapturedJob Job;
};

}  // namespace

TEST(ScaleOut, TwoServersShareOneRemoteSchedulerAndItsClass)
{
    QElapsedTimer clock;
    clock.start();
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started());
    const QString host = QString("127.0.0.1:%1").arg(cups.Port());
    const std::vector<std::string> members = {"Ward-A", "Ward-B"};
    for (const std::string& member : members)
        ASSERT_TRUE(cups.AddQueue(member));
    // The scheduler's default is outside the class: a job that missed the
    // class would land there.
    ASSERT_TRUE(cups.AddQueue("Reception") && cups.SetDefault("Reception"));
    for (const std::string& member : members)
        ASSERT_TRUE(RunCups("lpadmin", {"-h", host, "-p", QString::fromStdString(member), "-c", "Ward"}).Ok) << member;
    ASSERT_TRUE(RunCups("cupsenable", {"-h", host, "Ward"}).Ok);
    ASSERT_TRUE(RunCups("cupsaccept", {"-h", host, "Ward"}).Ok);
    const TCupsCommand classes = RunCups("lpstat", {"-h", host, "-c", "Ward"});
    ASSERT_TRUE(classes.Ok);
    for (const std::string& member : members)
        EXPECT_NE(classes.Out.find("\t" + member + "\n"), std::string::npos) << classes.Out;

    TWardHome homes[] = {TWardHome("A"), TWardHome("B")};
    constexpr int kPerHome = 3;
    std::unique_ptr<QProcess> servers[2];
    for (int h = 0; h < 2; ++h) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("PRINTORB_HOME", QString::fromStdString(homes[h].Dir.Path()));
        env.insert("CUPS_SERVER", host);
        for (int n = 1; n <= kPerHome; ++n)
            homes[h].Drop(n);
        servers[h] = std::make_unique<QProcess>();
        servers[h]->setProcessEnvironment(env);
        servers[h]->setStandardErrorFile(QString::fromStdString(homes[h].Dir / "stderr.txt"));
        servers[h]->start(QString::fromStdString(BinaryDir() + "/bin/printorbd"), {});
        ASSERT_TRUE(servers[h]->waitForStarted(5000)) << homes[h].Ward;
    }
    const auto why = [&] {
        std::string text;
        for (const TWardHome& home : homes)
            text += "--- home " + home.Ward + "\n" + ReadFile(home.Dir / "spoolerLog.txt") +
                    ReadFile(home.Dir / "stderr.txt");
        return text;
    };

    const std::vector<std::string> queues = {"Ward-A", "Ward-B", "Reception"};
    const auto captured = [&] {
        int count = 0;
        for (const std::string& queue : queues)
            count += static_cast<int>(
                QDir(QString::fromStdString(cups.OutDir(queue))).entryList({"job-*.info"}, QDir::Files).size());
        return count;
    };
    // Three files per home at one file per five-second tick, both homes at once.
    ASSERT_TRUE(WaitFor([&] { return captured() >= 2 * kPerHome && homes[0].SpoolEmpty() && homes[1].SpoolEmpty(); },
                        60000))
        << captured() << " jobs captured\n" << why();
    ASSERT_TRUE(WaitFor([&] { return homes[0].DoneCount() == kPerHome && homes[1].DoneCount() == kPerHome; }, 15000))
        << why();
    const qint64 printedAfter = clock.elapsed();

    // Each title exactly once, on a member of the class, composed by its own
    // server.
    std::map<int, TPrinted> byCupsJob;
    std::map<std::string, int> titles;
    for (const std::string& queue : queues)
        for (const TCapturedJob& job : cups.Jobs(queue, 0, 0)) {
            ++titles[job.Title];
            byCupsJob[job.Id] = {queue, job};
        }
    EXPECT_TRUE(cups.Jobs("Reception", 0, 0).empty()) << "a job missed the class";
    EXPECT_EQ(byCupsJob.size(), static_cast<std::size_t>(2 * kPerHome));
    std::map<std::string, int> perQueue;
    for (const TWardHome& home : homes)
        for (int n = 1; n <= kPerHome; ++n)
            EXPECT_EQ(titles[home.Code(n) + " P1 Page 1"], 1) << home.Code(n);
    for (const auto& [id, printed] : byCupsJob) {
        ++perQueue[printed.Queue];
        EXPECT_TRUE(printed.Queue == "Ward-A" || printed.Queue == "Ward-B") << printed.Job.Title;
        const std::string ward = printed.Job.Title.substr(0, 1);
        const std::string text = TextOfPdf(printed.Job.Data);
        EXPECT_NE(text.find("Ward " + ward + " result for SMITH."), std::string::npos) << printed.Job.Title << text;
    }

    // Each journal names the class and the scheduler's jobs of its own
    // requests, and no other server's.
    for (const TWardHome& home : homes) {
        const QJsonArray jobs = home.Journal();
        ASSERT_EQ(jobs.size(), kPerHome) << home.Ward;
        std::set<std::string> codes;
        for (const QJsonValue& value : jobs) {
            const QJsonObject job = value.toObject();
            const std::string code = job.value("reqcode").toString().toStdString();
            codes.insert(code);
            EXPECT_EQ(job.value("state").toString().toStdString(), "done") << code;
            EXPECT_EQ(job.value("printer").toString().toStdString(), "Ward") << code;
            const QJsonArray outputs = job.value("outputs").toArray();
            ASSERT_EQ(outputs.size(), 1) << code;
            const QString output = outputs[0].toString();
            ASSERT_TRUE(output.startsWith("cups:")) << output.toStdString();
            const auto printed = byCupsJob.find(output.mid(5).toInt());
            ASSERT_NE(printed, byCupsJob.end()) << code << " " << output.toStdString();
            EXPECT_EQ(printed->second.Job.Title, code + " P1 Page 1");
        }
        EXPECT_EQ(codes, (std::set<std::string> {home.Code(1), home.Code(2), home.Code(3)}));
        EXPECT_TRUE(home.SpoolEmpty()) << home.Ward;
    }

    for (int h = 0; h < 2; ++h) {
        servers[h]->terminate();
        ASSERT_TRUE(servers[h]->waitForFinished(15000)) << homes[h].Ward;
        EXPECT_EQ(servers[h]->exitStatus(), QProcess::NormalExit) << homes[h].Ward;
        EXPECT_EQ(servers[h]->exitCode(), 0) << homes[h].Ward << "\n" << why();
    }
    std::cout << "6 requests printed through class Ward after " << printedAfter << " ms (Ward-A " << perQueue["Ward-A"]
              << ", Ward-B " << perQueue["Ward-B"] << "); whole test " << clock.elapsed() << " ms\n";
}
