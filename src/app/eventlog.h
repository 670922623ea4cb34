// The event log: every line goes to the top of the window's list (trimmed to
// about 150 lines) and to the end of spoolerLog.txt, which is only appended to.
#pragma once

#include "util/logger.h"

#include <QDateTime>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TEventLog : public TLogger {
public:
    static constexpr std::size_t kWindowLines = 150;

    void SetFilePath(std::string path) { FFilePath = std::move(path); }
    const std::string& FilePath() const { return FFilePath; }
    // While held, lines for a log file that does not exist yet wait in
    // memory: a start-up that is refused leaves no file behind. Releasing
    // writes what waited and ends the hold.
    void HoldNewFile(bool on) { FHold = on; }
    void ReleaseHeldLines();
    // Unattended runs also copy every line to standard error for the journal.
    // When standard error is the journal's own stream, the copy takes the
    // journal's format. journalStream is JOURNAL_STREAM as the program found it.
    void SetMirrorToStderr(bool on, std::string_view journalStream = {})
    {
        FMirror = on;
        FJournal = on && StderrIsJournal(journalStream);
    }
    // The journal's format: each line led by its syslog priority ("<3>"),
    // without our time stamp, as the journal stamps every line itself.
    void SetJournalFormat(bool on) { FJournal = on; }
    bool JournalFormat() const { return FJournal; }
    void SetClock(std::function<QDateTime()> clock) { FClock = std::move(clock); }
    void SetOnChanged(std::function<void()> onChanged) { FOnChanged = std::move(onChanged); }

    void logline(TSeverity severity, std::string_view message) override;

    // The last lines as the status page reads them: numbered from 1 on, with
    // what they are; at most kKeptEntries.
    static constexpr std::size_t kKeptEntries = 1000;
    struct TEntry {
        std::uint64_t Seq = 0;
        std::string Line;  // stamped, as the file has it
        int Priority = 6;  // TPriority, from the severity it was logged with
    };
    const std::deque<TEntry>& Entries() const { return FEntries; }

    // The window's lines, newest first; each line of a message has the message's severity.
    struct TWindowLine {
        std::string Text;
        TSeverity Severity = TSeverity::Info;
    };
    const std::deque<TWindowLine>& WindowLines() const { return FLines; }
    static std::string Stamp(const QDateTime& when);

    // syslog priorities, as the journal reads them from a line's "<n>" prefix.
    enum TPriority { kErr = 3, kWarning = 4, kInfo = 6 };
    static TPriority PriorityOf(TSeverity severity);
    // The bytes standard error gets for one message; line is the message as stamped.
    static std::string MirrorText(std::string_view line, std::string_view message, TPriority priority, bool journal);
    // Whether standard error is the stream JOURNAL_STREAM names (device:inode);
    // a child that inherited the variable with standard error elsewhere is not.
    static bool StderrIsJournal(std::string_view stream);

private:
    std::string FFilePath;
    bool FMirror = false;
    bool FJournal = false;
    std::function<QDateTime()> FClock;
    std::function<void()> FOnChanged;
    std::deque<TWindowLine> FLines;
    std::deque<TEntry> FEntries;
    std::uint64_t FSeq = 0;
    bool FHold = false;
    std::vector<std::string> FHeld;
    void AppendToFile(const std::string& line);
};

// The offscreen platform warns on every start that it cannot pass a
// window's size hints on; there is no screen, so that is no news.
inline constexpr const char* kOffscreenSizeHints = "This plugin does not support propagateSizeHints()";
// Drops that one warning; every other Qt message goes where it went before.
void InstallQtNoiseFilter();
