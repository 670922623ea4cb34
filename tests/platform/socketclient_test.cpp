#include "platform/sockets/socketclient.h"

#include "support/testsupport.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

TEST(SocketClient, ConnectsByNameAddressOrLocalhost)
{
    TListener listener;
    for (const char* host : {"localhost", "LocalHost", "127.0.0.1"}) {
        TSocketClient client;
        client.Host = host;
        client.Port = listener.Port();
        ASSERT_TRUE(client.Connect()) << host;
        EXPECT_TRUE(client.Connected()) << host;
        const TOutcome again = client.Connect();
        EXPECT_FALSE(again);
        EXPECT_EQ(again.Reason(), "Already connected.");
        EXPECT_TRUE(client.Connected());
    }
    TSocketClient lost;
    lost.Host = "bad..name";  // the resolver refuses it without a query
    lost.Port = 1;
    const TOutcome unknown = lost.Connect();
    EXPECT_FALSE(unknown);
    EXPECT_EQ(unknown.Reason(), "Socket Error #11001\r\nHost not found.");
    EXPECT_EQ(unknown.Kind(), TFailureKind::Fault) << "a wrong name is no printer that is down";
    EXPECT_FALSE(lost.Connected());

    int closedPort;
    {
        TListener gone;
        closedPort = gone.Port();
    }
    TSocketClient refused;
    refused.Host = "127.0.0.1";
    refused.Port = closedPort;
    const TOutcome down = refused.Connect();
    EXPECT_FALSE(down);
    EXPECT_EQ(down.Reason(), SocketErrorMessage(10061));
    EXPECT_EQ(down.Kind(), TFailureKind::Outage);
}

TEST(SocketClient, WritesReadsAndNoticesAClosedPeer)
{
    TListener listener;
    TSocketClient client;
    client.Host = "127.0.0.1";
    client.Port = listener.Port();
    const TOutcome closed = client.Write("x", 1);
    EXPECT_FALSE(closed);
    EXPECT_EQ(closed.Reason(), "Socket is closed, cannot write");
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(WaitFor([&] { return listener.AcceptPending() == 1; }));

    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(client.Readable(1));
    EXPECT_LT(timer.elapsed(), 200);

    std::string data(20000, 'p');
    std::istringstream stream(data);
    stream.seekg(500);
    const TResult<std::uint64_t> written = client.WriteStream(stream, true);  // from the start, whatever the position
    ASSERT_TRUE(written) << written.Reason();
    EXPECT_EQ(*written, data.size());
    EXPECT_TRUE(client.Connected());
    listener.Close();  // the peer goes away: writes fail sooner or later
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        if (const TOutcome sent = client.Write(data.data(), data.size()); !sent) {
            failed = true;
            EXPECT_TRUE(sent.Reason() == SocketErrorMessage(10054) || sent.Reason() == SocketErrorMessage(10058))
                << sent.Reason();
            EXPECT_EQ(sent.Kind(), TFailureKind::Outage);
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(client.Connected());
}
