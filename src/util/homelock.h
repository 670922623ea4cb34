// One server per home. The lock is an open-file-description lock on
// printorb.lock in the home: it goes with the process that holds it, also
// after a kill, so no stale lock is ever left to clean up. The file holds
// the process number for whoever wants to know who runs.
#pragma once

#include "util/result.h"

#include <string>

class THomeLock {
public:
    static constexpr const char* kFileName = "printorb.lock";

    THomeLock() = default;
    ~THomeLock();
    THomeLock(const THomeLock&) = delete;
    THomeLock& operator=(const THomeLock&) = delete;

    // Takes the home for this process; fails, naming the process that holds
    // it, when another server runs there, or when the lock cannot be made.
    TOutcome Acquire(const std::string& home);
    bool Held() const { return FFd >= 0; }
    void Release();

    // The process that holds the home's lock without taking it: 0 when no
    // server runs there, -1 when one runs whose number is not known.
    static long Holder(const std::string& home);

private:
    int FFd = -1;
};
