#include <gtest/gtest.h>

#include <vector>

#include "KXJobQuery.h"

namespace {

class JobQueryTest : public ::testing::Test {
 protected:
  void SetUp() override { KXJobQueryScript::Instance().Reset(); }
  void TearDown() override { KXJobQueryScript::Instance().Reset(); }
};

TEST_F(JobQueryTest, AnswersScriptedStatesAndTheDefaultForOthers) {
  KXJobQueryScript& script = KXJobQueryScript::Instance();
  script.SetJobState(123456789012LL, 4);
  script.SetJobState(17, 19);
  KXJobQuery query;
  query.setPlatformType(4);
  ASSERT_TRUE(query.init("central01"));
  long long job = 123456789012LL;
  EXPECT_EQ(4, query.GetJobStatus(job));
  job = 17;
  EXPECT_EQ(19, query.GetJobStatus(job));
  job = 5;
  EXPECT_EQ(0, query.GetJobStatus(job));
  script.SetDefaultState(3);
  EXPECT_EQ(3, query.GetJobStatus(job));

  ASSERT_EQ(1u, script.Inits().size());
  EXPECT_EQ("central01", script.Inits()[0].host);
  EXPECT_EQ(4, script.Inits()[0].platformType);
  EXPECT_TRUE(script.Inits()[0].succeeded);
  EXPECT_EQ((std::vector<long long>{123456789012LL, 17, 5, 5}), script.Queries());
}

TEST_F(JobQueryTest, FailedInitIsRecordedAndLeavesTheQueryUnusable) {
  KXJobQueryScript& script = KXJobQueryScript::Instance();
  script.FailInit(true);
  script.SetJobState(7, 4);
  KXJobQuery query;
  EXPECT_FALSE(query.init("central01"));
  long long job = 7;
  EXPECT_EQ(KXJQ_NOT_INITIALIZED, query.GetJobStatus(job));
  ASSERT_EQ(1u, script.Inits().size());
  EXPECT_FALSE(script.Inits()[0].succeeded);
  EXPECT_TRUE(script.Queries().empty());

  script.Reset();
  KXJobQuery again;
  EXPECT_TRUE(again.init("central01"));
  EXPECT_EQ(0, again.GetJobStatus(job));  // the script is gone with the reset
}

}  // namespace
