#include "modules/status.h"

#include <gtest/gtest.h>

namespace {

TEST(Status, FlagsRiseIndependentlyAndResetTogether)
{
    Status& status = Status::Instance();
    ASSERT_EQ(&status, &Status::Instance());
    status.Reset();
    EXPECT_FALSE(status.IsRebootNeeded());
    EXPECT_FALSE(status.IsFailed());

    status.SetRebootNeeded();
    status.SetRebootNeeded();
    EXPECT_TRUE(status.IsRebootNeeded());
    EXPECT_FALSE(status.IsFailed());

    status.SetFailed();
    EXPECT_TRUE(status.IsRebootNeeded());
    EXPECT_TRUE(status.IsFailed());

    status.Reset();
    EXPECT_FALSE(status.IsRebootNeeded());
    EXPECT_FALSE(status.IsFailed());
}

} // namespace
