#include "util/stoppoint.h"

#include <csignal>
#include <utility>

namespace {

std::string& Armed()
{
    static std::string armed;
    return armed;
}

}  // namespace

void ArmStopPoint(std::string name)
{
    Armed() = std::move(name);
}

bool StopPointArmed(const char* name)
{
    return !Armed().empty() && Armed() == name;
}

void StopPoint(const char* name)
{
    if (StopPointArmed(name))
        std::raise(SIGSTOP);
}
