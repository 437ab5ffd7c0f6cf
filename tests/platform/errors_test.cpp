#include <gtest/gtest.h>

#include "FXErrorUtil.h"

TEST(CWqErrorTest, MakersGiveFailuresWhateverTheNumber) {
  for (int n : {0, 1, 5, -3}) {
    CWqError e = FXErrorUtil::ErrorInt(FX_HERE, n);
    EXPECT_TRUE(e.IsError()) << n;
    EXPECT_TRUE(FXErrorUtil::IsInt(e, n));
    EXPECT_EQ(n, FXErrorUtil::GetInt(e));
  }
}
