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
        client.Connect();
        EXPECT_TRUE(client.Connected()) << host;
        EXPECT_THROW(client.Connect(), ESocketAlreadyConnected);
        EXPECT_TRUE(client.Connected());
    }
    TSocketClient lost;
    lost.Host = "bad..name";  // the resolver refuses it without a query
    lost.Port = 1;
    try {
        lost.Connect();
        ADD_FAILURE() << "connected";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.Number, 11001);
        EXPECT_STREQ(e.what(), "Socket Error #11001\r\nHost not found.");
    }
    EXPECT_FALSE(lost.Connected());

    int closedPort;
    {
        TListener gone;
        closedPort = gone.Port();
    }
    TSocketClient refused;
    refused.Host = "127.0.0.1";
    refused.Port = closedPort;
    try {
        refused.Connect();
        ADD_FAILURE() << "connected";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.Number, 10061);
    }
}

TEST(SocketClient, WritesReadsAndNoticesAClosedPeer)
{
    TListener listener;
    TSocketClient client;
    client.Host = "127.0.0.1";
    client.Port = listener.Port();
    EXPECT_THROW(client.Write("x", 1), ESocketClosed);
    client.Connect();
    ASSERT_TRUE(WaitFor([&] { return listener.AcceptPending() == 1; }));

    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(client.Readable(1));
    EXPECT_LT(timer.elapsed(), 200);

    std::string data(20000, 'p');
    std::istringstream stream(data);
    stream.seekg(500);
    client.WriteStream(stream, true);  // from the start, whatever the position
    EXPECT_TRUE(client.Connected());
    listener.Close();  // the peer goes away: writes fail sooner or later
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        try {
            client.Write(data.data(), data.size());
        } catch (const ESocketError& e) {
            failed = true;
            EXPECT_TRUE(e.Number == 10054 || e.Number == 10058) << e.Number;
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(client.Connected());
}
