// Where every subsystem reports its events: one line per event.
#pragma once

#include <string_view>

// What a line is, said where the line is made: the log's colours and the
// journal's priorities follow it, never the line's words.
enum class TSeverity {
    Info,     // news: what the server did
    Warning,  // something to look at while the work goes on
    Error,    // a failure: something could not be done
};

class TLogger {
public:
    virtual ~TLogger() = default;
    virtual void logline(TSeverity severity, std::string_view message) = 0;

    void loginfo(std::string_view message) { logline(TSeverity::Info, message); }
    // Something a job went on without (a template, an overlay, its printer):
    // the pipeline keeps it with the job as well.
    void logwarning(std::string_view message) { logline(TSeverity::Warning, message); }
    void logerror(std::string_view message) { logline(TSeverity::Error, message); }
};
