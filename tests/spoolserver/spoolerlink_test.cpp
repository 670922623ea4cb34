#include "spoolserver/spoolerlink.h"

#include "support/testsupport.h"
#include "support/recordinglog.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::string Address(const TListener& listener)
{
    return "127.0.0.1:" + std::to_string(listener.Port());
}

}  // namespace

TEST(SpoolerLink, FieldCheckAsksForHostAndPort)
{
    EXPECT_EQ(TSpoolerLink::SpoolServerEditExit("myServer"), "You must use the format\r\n <host>:<port> \r\n eg myServer:8222");
    EXPECT_EQ(TSpoolerLink::SpoolServerEditExit("myServer:8222"), "");
    EXPECT_EQ(TSpoolerLink::SpoolServerEditExit(""), "");
}

TEST(SpoolerLink, PointingTakesLowerCaseHostAndTrimmedPort)
{
    TRecordingLog log;
    TSpoolerLink link(log);
    link.PointAt(" MyServer : 8222 ");
    EXPECT_EQ(link.RemoteHost(), "myserver");
    EXPECT_EQ(link.RemotePort(), "8222");
    link.PointAt("myServer");  // no port: the whole text is the host
    EXPECT_EQ(link.RemoteHost(), "myserver");
    EXPECT_EQ(link.RemotePort(), "");
    link.PointAt("");  // an empty address changes nothing
    EXPECT_EQ(link.RemoteHost(), "myserver");
}

TEST(SpoolerLink, ConnectsAndReportsTheAddressAsEntered)
{
    TListener listener;
    ASSERT_GT(listener.Port(), 0);
    TRecordingLog log;
    TSpoolerLink link(log);
    link.PointAt(Address(listener));
    link.Open();
    ASSERT_TRUE(WaitFor([&] { return link.Connected(); }));
    EXPECT_TRUE(log.Has("Spooler Connection established to " + Address(listener)));
    ASSERT_TRUE(WaitFor([&] { return listener.AcceptPending() == 1; }));

    // The same address again while connected: nothing happens to the link.
    link.PointAt(Address(listener));
    link.Open();
    WaitFor([] { return false; }, 100);
    EXPECT_EQ(listener.AcceptPending(), 1);
    EXPECT_FALSE(listener.PeerClosed(0));
    EXPECT_TRUE(link.Connected());
}

TEST(SpoolerLink, ChangingTheAddressClosesTheOldConnectionFirst)
{
    TListener first, second;
    TRecordingLog log;
    TSpoolerLink link(log);
    link.PointAt(Address(first));
    link.Open();
    ASSERT_TRUE(WaitFor([&] { return link.Connected() && first.AcceptPending() == 1; }));

    link.PointAt(Address(second));
    EXPECT_FALSE(link.Connected());
    ASSERT_TRUE(WaitFor([&] { return first.PeerClosed(0); }));
    link.Open();
    ASSERT_TRUE(WaitFor([&] { return link.Connected() && second.AcceptPending() == 1; }));
    EXPECT_TRUE(log.Has("Spooler Connection established to " + Address(second)));
}

TEST(SpoolerLink, FailuresAreLoggedAsSocketErrors)
{
    TRecordingLog log;
    TSpoolerLink link(log);
    {
        TListener gone;
        link.PointAt(Address(gone));
    }  // nothing listens there any more
    link.Open();
    ASSERT_TRUE(WaitFor([&] { return log.Has("Spooler Socket error :10061"); }));
    EXPECT_FALSE(link.Connected());

    link.PointAt("bad..name:8222");  // refused by the resolver without a query
    link.Open();
    EXPECT_TRUE(log.Has("Spooler Socket error :11001"));
    EXPECT_FALSE(link.Connected());
}

TEST(SpoolerLink, PeerGoingAwayLeavesTheLinkClosedForTheNextOpen)
{
    TListener listener;
    TRecordingLog log;
    TSpoolerLink link(log);
    link.PointAt(Address(listener));
    link.Open();
    ASSERT_TRUE(WaitFor([&] { return link.Connected() && listener.AcceptPending() == 1; }));
    listener.Close();
    ASSERT_TRUE(WaitFor([&] { return !link.Connected(); }));
}
