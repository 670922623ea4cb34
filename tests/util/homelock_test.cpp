// One server per home: the lock refuses a second holder, names the first,
// and is free again as soon as the first lets go.
#include "util/homelock.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(HomeLock, ASecondHolderIsRefusedAndTheFirstIsNamed)
{
    TTempDir home;
    EXPECT_EQ(THomeLock::Holder(home.Path()), 0) << "nobody holds a home that was never locked";
    THomeLock first;
    ASSERT_TRUE(first.Acquire(home.Path()));
    EXPECT_EQ(THomeLock::Holder(home.Path()), ::getpid());

    THomeLock second;
    const TOutcome refused = second.Acquire(home.Path());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.Reason(), "another server (process " + std::to_string(::getpid()) + ") runs on the home " +
                                    home.Path());
    EXPECT_FALSE(second.Held());

    first.Release();
    EXPECT_EQ(THomeLock::Holder(home.Path()), 0);
    EXPECT_TRUE(second.Acquire(home.Path()));
}

TEST(HomeLock, AHomeThatCannotHoldTheLockIsRefusedWithTheReason)
{
    THomeLock lock;
    const TOutcome refused = lock.Acquire("/nonexistent-printorb-home/");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.Reason().find("no such file"), std::string::npos) << refused.Reason();
}
