#include "util/stoppoint.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

bool StopPointArmed(const char* name)
{
    static const char* const armed = std::getenv("PRINTORB_STOP_AT");
    return armed && std::strcmp(armed, name) == 0;
}

void StopPoint(const char* name)
{
    if (StopPointArmed(name))
        std::raise(SIGSTOP);
}
