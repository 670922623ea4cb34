#include "app/eventlog.h"
#include "app/headlessprompts.h"

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
    log.logerror(" Error loading x.tpl");  // a leading blank stays after ">"
    EXPECT_EQ(FileLines(dir / "spoolerLog.txt"),
              (std::vector<std::string> {"07-03 14:05:09>Found file 12345.tvq", "07-03 14:05:09> Error loading x.tpl"}));
    EXPECT_EQ(log.WindowLines().front().Text, "07-03 14:05:09> Error loading x.tpl");
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
    EXPECT_EQ(log.WindowLines().front().Text, "02-01 03:04:05>event 200");
    EXPECT_EQ(log.WindowLines().back().Text, "02-01 03:04:05>event 50");
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
    log.logerror("The Print Spooler has been busy for too long:\r\n             Forcing Reset..");
    ASSERT_EQ(log.WindowLines().size(), 2u);
    EXPECT_EQ(log.WindowLines()[0].Text, "31-12 23:59:58>The Print Spooler has been busy for too long:");
    EXPECT_EQ(log.WindowLines()[1].Text, "             Forcing Reset..");
    // Every line of the message is what the message is.
    EXPECT_EQ(log.WindowLines()[0].Severity, TSeverity::Error);
    EXPECT_EQ(log.WindowLines()[1].Severity, TSeverity::Error);
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

// The priority is the level the line was logged with, whatever its words
// say: the entries the status page reads, the window's lines, the journal.
TEST(EventLog, PriorityIsTheLevelTheLineWasLoggedWith)
{
    using P = TEventLog::TPriority;
    const struct {
        TSeverity level;
        const char* line;
        P priority;
    } rows[] = {
        {TSeverity::Error, "PDF Document creation FAILED /srv/results/x.pdf", P::kErr},
        {TSeverity::Error, "Spooler Socket error :10061", P::kErr},
        {TSeverity::Error,
         "Spooler file x.tvq was unpritable because \r\n  either there was no Request or Procedure code", P::kErr},
        {TSeverity::Error, "Printed R1 P1: 1 page(s) on Laser-A", P::kErr},
        {TSeverity::Warning, "Warning!! The \"TAG\" file is missing.", P::kWarning},
        {TSeverity::Warning, "ERROR: Request for OVERLAY failed a.prn does not exist.", P::kWarning},
        {TSeverity::Warning, "Found file 12345.tvq", P::kWarning},
        {TSeverity::Info, "Found file 12345.tvq", P::kInfo},
        {TSeverity::Info, "ERROR: Request for OVERLAY failed a.prn does not exist.", P::kInfo},
        {TSeverity::Info, "Spooler file a.tvq stays in the spool folder; attempt 2 of 5 at 10-12 02:56:26.", P::kInfo},
        {TSeverity::Info, "The Print Spooler has been busy for too long:\r\n             Forcing Reset..", P::kInfo},
    };
    TTempDir dir;
    for (const auto& row : rows) {
        const std::string what = std::string(row.line) + " as " + std::to_string(static_cast<int>(row.level));
        TCapturedStderr captured(dir / "stderr.txt");
        TEventLog log;
        log.SetFilePath(dir / "spoolerLog.txt");
        log.SetClock([] { return At(3, 7, 14, 5, 9); });
        log.SetMirrorToStderr(true);
        log.SetJournalFormat(true);
        log.logline(row.level, row.line);
        const std::string journal = captured.Text();

        ASSERT_EQ(log.Entries().size(), 1u) << what;
        EXPECT_EQ(log.Entries().back().Priority, row.priority) << what;
        EXPECT_EQ(log.Entries().back().Line, std::string("07-03 14:05:09>") + row.line) << what;
        for (const TEventLog::TWindowLine& line : log.WindowLines())
            EXPECT_EQ(line.Severity, row.level) << what;
        const std::string prefix = "<" + std::to_string(row.priority) + ">";
        ASSERT_FALSE(journal.empty()) << what;
        for (const QString& line : QString::fromStdString(journal).split('\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(line.startsWith(QString::fromStdString(prefix))) << what << ": " << journal;
    }
    // The line itself is kept as it was given, in the file too.
    EXPECT_EQ(FileLines(dir / "spoolerLog.txt").front(),
              "07-03 14:05:09>PDF Document creation FAILED /srv/results/x.pdf");
}

// Unattended, a box's text goes to the log at the level its icon says; an
// unanswered question asks for a look.
TEST(EventLog, HeadlessPromptsLogABoxAtItsIconsLevel)
{
    using I = TPrompts::Icon;
    TEventLog log;
    THeadlessPrompts prompts(log);
    const std::pair<I, TEventLog::TPriority> rows[] = {{I::Error, TEventLog::kErr},
                                                       {I::Warning, TEventLog::kWarning},
                                                       {I::Information, TEventLog::kInfo},
                                                       {I::Question, TEventLog::kInfo},
                                                       {I::None, TEventLog::kInfo}};
    for (const auto& [icon, priority] : rows) {
        prompts.ShowMessage("", "Directory was not created.", icon);
        EXPECT_EQ(log.Entries().back().Priority, priority) << static_cast<int>(icon);
    }
    std::string answer;
    EXPECT_FALSE(prompts.AskYesNo("", "The Print Spooler directory /s/ does not exist."));
    EXPECT_EQ(log.Entries().back().Priority, TEventLog::kWarning);
    EXPECT_FALSE(prompts.InputQuery("", "Add a Halvorin Printer", answer));
    EXPECT_EQ(log.Entries().back().Priority, TEventLog::kWarning);
}

TEST(EventLog, TheJournalGetsPriorityPrefixesAndNoStampOfOurs)
{
    const std::string line = "07-03 14:05:09>PDF Document creation FAILED x.pdf";
    using P = TEventLog::TPriority;
    EXPECT_EQ(TEventLog::MirrorText(line, "PDF Document creation FAILED x.pdf", P::kErr, false), line + "\n");
    EXPECT_EQ(TEventLog::MirrorText(line, "PDF Document creation FAILED x.pdf", P::kErr, true),
              "<3>PDF Document creation FAILED x.pdf\n");
    EXPECT_EQ(TEventLog::MirrorText("01-01 00:00:00>Found file a.tvq", "Found file a.tvq", P::kInfo, true),
              "<6>Found file a.tvq\n");
    // Each line of a message is a journal entry of its own, with the same priority.
    EXPECT_EQ(TEventLog::MirrorText("x", "The Print Spooler has been busy for too long:\r\n             Forcing Reset..",
                                    P::kErr, true),
              "<3>The Print Spooler has been busy for too long:\n<3>             Forcing Reset..\n");
    // Windows-1252 text reaches the journal as UTF-8.
    EXPECT_EQ(TEventLog::MirrorText("x", "Found file M\xFCller.tvq", P::kInfo, true),
              "<6>Found file M\xC3\xBCller.tvq\n");
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
        log.logwarning("Warning!! The \"TAG\" file is missing.");
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
