#include "platform/sockets/wsaerror.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>

TEST(SocketErrors, PosixErrorsBecomeWindowsNumbersWithTheirTexts)
{
    const std::pair<int, int> cases[] = {
        {ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {ETIMEDOUT, 10060}, {EINPROGRESS, 10036},
        {EWOULDBLOCK, 10035},  {EPIPE, 10058},      {ECONNABORTED, 10053}, {EHOSTUNREACH, 10065},
    };
    for (const auto& [err, wsa] : cases)
        EXPECT_EQ(WsaErrorFromErrno(err), wsa) << err;
    EXPECT_EQ(WsaErrorFromResolver(EAI_NONAME), 11001);
    EXPECT_EQ(WsaErrorText(11001), "Host not found.");
    EXPECT_EQ(WsaErrorText(10035), "Operation would block. ");
    EXPECT_EQ(WsaErrorText(10061), "Connection refused.");
    EXPECT_EQ(WsaErrorText(12345), "");
}
