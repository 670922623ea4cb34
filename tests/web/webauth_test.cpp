// The status page's password hash, sessions, login back-off and address.
#include "web/webauth.h"
#include "web/webserver.h"

#include <gtest/gtest.h>

#include <set>

TEST(WebPassword, HashIsSaltedArgon2idAndOnlyTheSamePasswordMatches)
{
    const TResult<std::string> first = HashWebPassword("ward-7-printing");
    const TResult<std::string> second = HashWebPassword("ward-7-printing");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->starts_with("$argon2id$"));
    EXPECT_NE(*first, *second) << "the same password must not give the same hash: the salt is missing";
    EXPECT_TRUE(WebPasswordMatches(*first, "ward-7-printing"));
    EXPECT_TRUE(WebPasswordMatches(*second, "ward-7-printing"));
    for (const std::string wrong : {"", "ward-7-printin", "ward-7-printing ", "WARD-7-PRINTING"})
        EXPECT_FALSE(WebPasswordMatches(*first, wrong)) << wrong;
    const std::string notHashes[] = {"", "ward-7-printing", "$argon2id$", std::string(500, 'x')};
    for (const std::string& notHash : notHashes)
        EXPECT_FALSE(WebPasswordMatches(notHash, "ward-7-printing")) << notHash;
}

TEST(WebSessions, TokensAreUnguessableAndExpireWhenIdle)
{
    TWebSessions sessions;
    std::set<std::string> tokens;
    for (int i = 0; i < 50; ++i)
        tokens.insert(sessions.Open(1000));
    EXPECT_EQ(tokens.size(), 50u);
    EXPECT_GE(tokens.begin()->size(), 32u);
    const std::string token = *tokens.begin();
    const TWebSession* session = sessions.Find(token, 1000 + TWebSessions::kIdleMs - 1);
    ASSERT_NE(session, nullptr);
    const std::string csrf = session->Csrf;
    EXPECT_NE(csrf, token);
    // Used, it lives on from the last use.
    EXPECT_NE(sessions.Find(token, 1000 + 2 * TWebSessions::kIdleMs - 2), nullptr);
    EXPECT_EQ(sessions.Find(token, 1000 + 4 * TWebSessions::kIdleMs), nullptr);
    EXPECT_EQ(sessions.Find("not-a-token", 1000), nullptr);
}

TEST(WebSessions, ThereAreNeverMoreThanTheCap)
{
    TWebSessions sessions;
    std::string first;
    for (std::size_t i = 0; i < TWebSessions::kMaxSessions + 20; ++i) {
        const std::string token = sessions.Open(static_cast<std::int64_t>(1000 + i));
        if (i == 0)
            first = token;
    }
    EXPECT_EQ(sessions.Count(), TWebSessions::kMaxSessions);
    EXPECT_EQ(sessions.Find(first, 5000), nullptr) << "the oldest session goes first";
}

TEST(LoginBackoff, AfterAFewFailuresEachTryWaitsLongerUpToACap)
{
    TLoginBackoff backoff;
    std::int64_t now = 0;
    for (int i = 0; i < TLoginBackoff::kFreeFailures; ++i) {
        EXPECT_EQ(backoff.WaitMs("10.0.0.5", now), 0);
        backoff.Failed("10.0.0.5", now);
    }
    std::int64_t last = 0;
    for (int i = 0; i < 30; ++i) {
        backoff.Failed("10.0.0.5", now);
        const std::int64_t wait = backoff.WaitMs("10.0.0.5", now);
        EXPECT_GE(wait, last);
        EXPECT_LE(wait, TLoginBackoff::kMaxWaitMs);
        last = wait;
    }
    EXPECT_EQ(last, TLoginBackoff::kMaxWaitMs);
    EXPECT_EQ(backoff.WaitMs("10.0.0.6", now), 0) << "another address is not held back";
    EXPECT_EQ(backoff.WaitMs("10.0.0.5", now + TLoginBackoff::kMaxWaitMs), 0);
    backoff.Succeeded("10.0.0.5");
    EXPECT_EQ(backoff.WaitMs("10.0.0.5", now), 0);
}

TEST(WebAddress, ParsesAddressAndPortAndSaysWhetherItIsLoopback)
{
    struct TCase {
        std::string Text;
        bool Ok;
        bool Loopback;
        int Port;
    };
    const TCase cases[] = {
        {"127.0.0.1:8631", true, true, 8631},   {" 127.0.0.1:8631 ", true, true, 8631},
        {"localhost:8631", true, true, 8631},   {"[::1]:9000", true, true, 9000},
        {"0.0.0.0:8631", true, false, 8631},    {"192.168.1.20:80", true, false, 80},
        {"[::]:8631", true, false, 8631},       {"127.0.0.1", false, false, 0},
        {"127.0.0.1:0", false, false, 0},       {"127.0.0.1:65536", false, false, 0},
        {"127.0.0.1:86x1", false, false, 0},    {"ward-pc:8631", false, false, 0},
        {":8631", false, false, 0},             {"", false, false, 0},
    };
    for (const TCase& c : cases) {
        const TResult<TWebAddress> address = ParseWebAddress(c.Text);
        ASSERT_EQ(address.Ok(), c.Ok) << c.Text << ": " << address.Reason();
        if (!c.Ok)
            continue;
        EXPECT_EQ(address->Loopback(), c.Loopback) << c.Text;
        EXPECT_EQ(address->Port, c.Port) << c.Text;
    }
}
