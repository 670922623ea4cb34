#include "app/eventlog.h"

#include "support/testsupport.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QDateTime At(int month, int day, int h, int m, int s)
{
    return QDateTime(QDate(2026, month, day), QTime(h, m, s));
}

std::vector<std::string> FileLines(const std::string& path)
{
    const std::string text = ReadFile(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back("<unterminated>" + text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace

TEST(EventLog, StampsLinesWithDayMonthAndTime)
{
    TTempDir dir;
    TEventLog log;
    log.SetFilePath(dir / "spoolerLog.txt");
    log.SetClock([] { return At(3, 7, 14, 5, 9); });
    log.loginfo("Found file 12345.tvq");
    log.loginfo(" Error loading x.tpl");  // a leading blank stays after ">"
    EXPECT_EQ(FileLines(dir / "spoolerLog.txt"),
              (std::vector<std::string> {"07-03 14:05:09>Found file 12345.tvq", "07-03 14:05:09> Error loading x.tpl"}));
    EXPECT_EQ(log.WindowLines().front(), "07-03 14:05:09> Error loading x.tpl");
}

TEST(EventLog, WindowKeepsTheNewest151WhileTheFileKeepsAll)
{
    TTempDir dir;
    TEventLog log;
    log.SetFilePath(dir / "spoolerLog.txt");
    log.SetClock([] { return At(1, 2, 3, 4, 5); });
    for (int n = 1; n <= 200; ++n)
        log.loginfo("event " + std::to_string(n));
    ASSERT_EQ(log.WindowLines().size(), 151u);
    EXPECT_EQ(log.WindowLines().front(), "02-01 03:04:05>event 200");
    EXPECT_EQ(log.WindowLines().back(), "02-01 03:04:05>event 50");
    const auto lines = FileLines(dir / "spoolerLog.txt");
    ASSERT_EQ(lines.size(), 200u);
    EXPECT_EQ(lines.front(), "02-01 03:04:05>event 1");
    EXPECT_EQ(lines.back(), "02-01 03:04:05>event 200");
}

TEST(EventLog, MultiLineMessagesFillSeveralLinesInBothPlaces)
{
    TTempDir dir;
    TEventLog log;
    log.SetFilePath(dir / "spoolerLog.txt");
    log.SetClock([] { return At(12, 31, 23, 59, 58); });
    log.loginfo("The Print Spooler has been busy for too long:\r\n             Forcing Reset..");
    ASSERT_EQ(log.WindowLines().size(), 2u);
    EXPECT_EQ(log.WindowLines()[0], "31-12 23:59:58>The Print Spooler has been busy for too long:");
    EXPECT_EQ(log.WindowLines()[1], "             Forcing Reset..");
    EXPECT_EQ(ReadFile(dir / "spoolerLog.txt"),
              "31-12 23:59:58>The Print Spooler has been busy for too long:\r\n             Forcing Reset..\r\n");
}

TEST(EventLog, AnUnwritableFileOnlyCostsTheFileCopy)
{
    TTempDir dir;
    ::mkdir((dir / "spoolerLog.txt").c_str(), 0755);  // a directory where the file should be
    TEventLog log;
    log.SetFilePath(dir / "spoolerLog.txt");
    int changes = 0;
    log.SetOnChanged([&] { ++changes; });
    log.loginfo("still shown");
    EXPECT_EQ(log.WindowLines().size(), 1u);
    EXPECT_EQ(changes, 1);

    TEventLog missingDir;
    missingDir.SetFilePath(dir / "gone/spoolerLog.txt");
    missingDir.loginfo("still shown");
    EXPECT_EQ(missingDir.WindowLines().size(), 1u);

    if (::geteuid() != 0) {  // root writes through file permissions
        WriteFile(dir / "ro.txt", "old\r\n");
        ::chmod((dir / "ro.txt").c_str(), 0444);
        TEventLog readOnly;
        readOnly.SetFilePath(dir / "ro.txt");
        readOnly.loginfo("x");
        EXPECT_EQ(ReadFile(dir / "ro.txt"), "old\r\n");
        EXPECT_EQ(readOnly.WindowLines().size(), 1u);
    }
}

namespace {

// Standard error sent to a file while it lives; the file is what was written.
class TCapturedStderr {
public:
    explicit TCapturedStderr(const std::string& path) : FPath(path)
    {
        std::fflush(stderr);
        FSaved = ::dup(STDERR_FILENO);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~TCapturedStderr() { Restore(); }
    // "device:inode" of the file, as systemd writes JOURNAL_STREAM.
    std::string Stream() const
    {
        struct stat st {};
        ::fstat(STDERR_FILENO, &st);
        return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
               std::to_string(static_cast<unsigned long long>(st.st_ino));
    }
    std::string Text()
    {
        Restore();
        return ReadFile(FPath);
    }

private:
    void Restore()
    {
        if (FSaved < 0)
            return;
        std::fflush(stderr);
        ::dup2(FSaved, STDERR_FILENO);
        ::close(FSaved);
        FSaved = -1;
    }
    std::string FPath;
    int FSaved = -1;
};

std::vector<std::string> gQtMessages;

void CaptureQtMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    gQtMessages.push_back(message.toStdString());
}

}  // namespace

TEST(EventLog, PriorityComesFromTheWordsOfTheSystemsLines)
{
    using P = TEventLog::TPriority;
    const std::pair<const char*, P> lines[] = {
        {"PDF Document creation FAILED /srv/results/x.pdf", P::kErr},
        {"ERROR: Request for OVERLAY failed a.prn does not exist.", P::kErr},
        {"Could not create the LPR queue folder /var/lib/printorb/lpdspooler/", P::kErr},
        {"Spooler Socket error :10061", P::kErr},
        {"Not set in /var/lib/printorb/printserver.inf: SPOOLER, DEFLETTERHEAD", P::kErr},
        {"A critical value was not set.  Tovaspooler will close.", P::kErr},
        {"No printer entries in /h/printserver.inf: the server needs at least one PRINTER<n>=<printer name> line",
         P::kErr},
        {"FTP failover: raw 10.1.2.3:9100: Connection refused", P::kErr},
        {"The image a.png Failed to load for Document r.rtf", P::kErr},
        {"Spooler file r1.tvq failed after 5 attempt(s): no template P1. It is in /s/failed/r1.tvq", P::kErr},
        {"Spooler file x.tvq was unpritable because \r\n  either there was no Request or Procedure code", P::kErr},
        {"The Print Spooler has been busy for too long:\r\n             Forcing Reset..", P::kErr},
        {"Warning!! The \"TAG\" file is missing.", P::kWarning},
        {"Warning. Setup file is missing.", P::kWarning},
        {"Printer 3 does not exist, using default (printer 1).", P::kWarning},
        {"The print system does not answer; spooler file a.tvq waits in the spool folder.", P::kWarning},
        {"Spooler file a.tvq stays in the spool folder; attempt 2 of 5 at 10-12 02:56:26.", P::kWarning},
        {"No default printer!", P::kWarning},
        {"The journal did not record a step: disk full", P::kWarning},
        {"Found file 12345.tvq", P::kInfo},
        {"Sent LPD Job _1_A.prn OK", P::kInfo},
        {"PDF Document created as \"/srv/results/x.pdf\"", P::kInfo},
        {"PrintORB 4.4.4 started in /var/lib/printorb/, spool directory /s/, 1 printer entries",
         P::kInfo},
        {"Retention: 0 copies older than 30 days removed from /s/temp/, 0 jobs older than 400 days removed from the journal.",
         P::kInfo},
        {"Print server closed.", P::kInfo},
    };
    for (const auto& [line, priority] : lines)
        EXPECT_EQ(TEventLog::PriorityOf(line), priority) << line;
}

TEST(EventLog, TheJournalGetsPriorityPrefixesAndNoStampOfOurs)
{
    const std::string line = "07-03 14:05:09>PDF Document creation FAILED x.pdf";
    EXPECT_EQ(TEventLog::MirrorText(line, "PDF Document creation FAILED x.pdf", false), line + "\n");
    EXPECT_EQ(TEventLog::MirrorText(line, "PDF Document creation FAILED x.pdf", true),
              "<3>PDF Document creation FAILED x.pdf\n");
    EXPECT_EQ(TEventLog::MirrorText("01-01 00:00:00>Found file a.tvq", "Found file a.tvq", true), "<6>Found file a.tvq\n");
    // Each line of a message is a journal entry of its own, with the same priority.
    EXPECT_EQ(TEventLog::MirrorText("x", "The Print Spooler has been busy for too long:\r\n             Forcing Reset..",
                                    true),
              "<3>The Print Spooler has been busy for too long:\n<3>             Forcing Reset..\n");
    // Windows-1252 text reaches the journal as UTF-8.
    EXPECT_EQ(TEventLog::MirrorText("x", "Found file M\xFCller.tvq", true), "<6>Found file M\xC3\xBCller.tvq\n");
}

TEST(EventLog, StandardErrorTakesTheJournalsFormatOnlyWhenItIsTheJournalsStream)
{
    TTempDir dir;
    const auto run = [&](const std::string& name, bool matching, const char* other) {
        TCapturedStderr captured(dir / name);
        TEventLog log;
        log.SetFilePath(dir / "spoolerLog.txt");
        log.SetClock([] { return At(3, 7, 14, 5, 9); });
        log.SetMirrorToStderr(true, matching ? captured.Stream() : std::string(other ? other : ""));
        log.loginfo("Warning!! The \"TAG\" file is missing.");
        log.loginfo("Found file a.tvq");
        return std::make_pair(log.JournalFormat(), captured.Text());
    };
    const auto journal = run("journal.txt", true, nullptr);
    EXPECT_TRUE(journal.first);
    EXPECT_EQ(journal.second, "<4>Warning!! The \"TAG\" file is missing.\n<6>Found file a.tvq\n");

    // Inherited from a service but written elsewhere: a terminal or a file reader wants our stamps.
    const auto elsewhere = run("elsewhere.txt", false, "8:1234");
    EXPECT_FALSE(elsewhere.first);
    EXPECT_EQ(elsewhere.second, "07-03 14:05:09>Warning!! The \"TAG\" file is missing.\n07-03 14:05:09>Found file a.tvq\n");
    const auto unset = run("unset.txt", false, "");
    EXPECT_FALSE(unset.first);
    EXPECT_EQ(unset.second, elsewhere.second);

    // The file log keeps its stamps whatever standard error is.
    const auto lines = FileLines(dir / "spoolerLog.txt");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "07-03 14:05:09>Warning!! The \"TAG\" file is missing.");
    EXPECT_EQ(lines[1], "07-03 14:05:09>Found file a.tvq");
}

TEST(EventLog, TheQtFilterDropsOnlyTheOffscreenSizeHintsWarning)
{
    gQtMessages.clear();
    const QtMessageHandler original = qInstallMessageHandler(CaptureQtMessage);
    InstallQtNoiseFilter();
    qWarning("%s", kOffscreenSizeHints);
    qWarning("QFont::setPointSizeF: Point size <= 0 (-1.000000), must be greater than 0");
    qInfo("%s", kOffscreenSizeHints);  // not the platform's warning: passes
    qInstallMessageHandler(original);
    EXPECT_EQ(gQtMessages, (std::vector<std::string> {
                               "QFont::setPointSizeF: Point size <= 0 (-1.000000), must be greater than 0",
                               kOffscreenSizeHints}));
}
