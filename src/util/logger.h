// Where every subsystem reports its events: one line per event.
#pragma once

#include <string_view>

class TLogger {
public:
    virtual ~TLogger() = default;
    virtual void loginfo(std::string_view message) = 0;
};
