// The event log: every line goes to the top of the window's list (trimmed to
// about 150 lines) and to the end of spoolerLog.txt, which is only appended to.
#pragma once

#include "util/logger.h"

#include <QDateTime>
#include <deque>
#include <functional>
#include <string>

class TEventLog : public TLogger {
public:
    static constexpr std::size_t kWindowLines = 150;

    void SetFilePath(std::string path) { FFilePath = std::move(path); }
    const std::string& FilePath() const { return FFilePath; }
    // Unattended runs also copy every line to standard error for the journal.
    void SetMirrorToStderr(bool on) { FMirror = on; }
    void SetClock(std::function<QDateTime()> clock) { FClock = std::move(clock); }
    void SetOnChanged(std::function<void()> onChanged) { FOnChanged = std::move(onChanged); }

    void loginfo(std::string_view message) override;

    // The window's lines, newest first.
    const std::deque<std::string>& WindowLines() const { return FLines; }
    static std::string Stamp(const QDateTime& when);

private:
    std::string FFilePath;
    bool FMirror = false;
    std::function<QDateTime()> FClock;
    std::function<void()> FOnChanged;
    std::deque<std::string> FLines;
};
