// Who may do what on the status page: the password's salted hash (Argon2id
// from libsodium, never our own), sessions by cookie with their CSRF token,
// and a back-off after failed logins.
#pragma once

#include "util/result.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

// The hash to keep in the settings, salt and cost included ("$argon2id$…").
TResult<std::string> HashWebPassword(const std::string& password);
// Whether the password is the one the hash was made of; false for a hash
// that is not one.
bool WebPasswordMatches(const std::string& hash, const std::string& password);
// Random bytes as text safe in a cookie and a header.
std::string RandomToken();

struct TWebSession {
    std::string Csrf;
    std::int64_t Expires = 0;  // ms since the epoch
};

class TWebSessions {
public:
    static constexpr std::int64_t kIdleMs = 12LL * 3600 * 1000;
    static constexpr std::size_t kMaxSessions = 500;

    // A new session; the oldest goes when there are too many.
    std::string Open(std::int64_t now);
    // The session of that token, kept alive; none when unknown or expired.
    const TWebSession* Find(const std::string& token, std::int64_t now);
    void Close(const std::string& token) { FSessions.erase(token); }
    std::size_t Count() const { return FSessions.size(); }

private:
    std::map<std::string, TWebSession> FSessions;
};

// Failed logins by address: after a few, each next try waits longer (up to
// five minutes), so a password cannot be guessed at the speed of the network.
class TLoginBackoff {
public:
    static constexpr int kFreeFailures = 3;
    static constexpr std::int64_t kMaxWaitMs = 5 * 60 * 1000;
    static constexpr std::size_t kMaxAddresses = 1000;

    // How long the address must still wait before it may try; 0: now.
    std::int64_t WaitMs(const std::string& address, std::int64_t now) const;
    void Failed(const std::string& address, std::int64_t now);
    void Succeeded(const std::string& address) { FFailures.erase(address); }

private:
    struct TFailures {
        int Count = 0;
        std::int64_t Until = 0;
    };
    std::map<std::string, TFailures> FFailures;
};
