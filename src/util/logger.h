// Where every subsystem reports its events: one line per event.
#pragma once

#include <string_view>

class TLogger {
public:
    virtual ~TLogger() = default;
    virtual void loginfo(std::string_view message) = 0;
    // Something a job went on without (a template, an overlay, its printer):
    // the same line in the log, and the pipeline keeps it with the job.
    virtual void logwarning(std::string_view message) { loginfo(message); }
};
