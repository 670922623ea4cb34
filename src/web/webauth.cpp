#include "web/webauth.h"

#include <sodium.h>

#include <algorithm>
#include <vector>

namespace {

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

TResult<std::string> HashWebPassword(const std::string& password)
{
    if (!SodiumReady())
        return Fail("libsodium cannot start");
    std::vector<char> hash(crypto_pwhash_STRBYTES);
    // The interactive cost: a login must not hold the server's one thread for long.
    if (crypto_pwhash_str(hash.data(), password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return Fail("not enough memory to hash the password");
    return std::string(hash.data());
}

bool WebPasswordMatches(const std::string& hash, const std::string& password)
{
    if (!SodiumReady() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::string RandomToken()
{
    SodiumReady();
    unsigned char bytes[24];
    randombytes_buf(bytes, sizeof bytes);
    char text[sizeof bytes * 2 + 1];
    sodium_bin2hex(text, sizeof text, bytes, sizeof bytes);
    return text;
}

std::string TWebSessions::Open(std::int64_t now)
{
    for (auto it = FSessions.begin(); it != FSessions.end();)
        it = it->second.Expires <= now ? FSessions.erase(it) : std::next(it);
    if (FSessions.size() >= kMaxSessions) {
        const auto oldest = std::min_element(FSessions.begin(), FSessions.end(), [](const auto& a, const auto& b) {
            return a.second.Expires < b.second.Expires;
        });
        FSessions.erase(oldest);
    }
    const std::string token = RandomToken();
    FSessions[token] = {RandomToken(), now + kIdleMs};
    return token;
}

const TWebSession* TWebSessions::Find(const std::string& token, std::int64_t now)
{
    const auto it = FSessions.find(token);
    if (it == FSessions.end())
        return nullptr;
    if (it->second.Expires <= now) {
        FSessions.erase(it);
        return nullptr;
    }
    it->second.Expires = now + kIdleMs;
    return &it->second;
}

std::int64_t TLoginBackoff::WaitMs(const std::string& address, std::int64_t now) const
{
    const auto it = FFailures.find(address);
    if (it == FFailures.end())
        return 0;
    return std::max<std::int64_t>(0, it->second.Until - now);
}

void TLoginBackoff::Failed(const std::string& address, std::int64_t now)
{
    if (FFailures.size() >= kMaxAddresses && !FFailures.count(address))
        FFailures.erase(FFailures.begin());
    TFailures& f = FFailures[address];
    ++f.Count;
    if (f.Count > kFreeFailures) {
        const int doublings = std::min(f.Count - kFreeFailures - 1, 20);
        f.Until = now + std::min<std::int64_t>(kMaxWaitMs, 1000LL << doublings);
    }
}
