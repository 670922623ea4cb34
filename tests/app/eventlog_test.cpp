#include "app/eventlog.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
