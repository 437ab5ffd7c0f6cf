// The post-operations phase object against the simulated daemon: its
// program, its job start (the job-log keys and nothing else), a subclient
// without a record, and calls made before init.
#include <cerrno>
#include <ostream>

#include "FXErrorUtil.h"
#include "PostOpsTestUtil.h"
#include "ProxyEventIds.h"
#include "ProxyJobOptions.h"

using namespace postopstest;

namespace {

struct OptionCase {
  const char* name;
  std::vector<std::pair<uint32_t, RecordValue>> taskOptions;
  std::vector<ClJobStartMsg::Entry> expected;
  int logged;  // the value of the "JobLog option" line
};

// Test names show the case's name, not its bytes.
void PrintTo(const OptionCase& c, std::ostream* out) { *out << c.name; }

ClJobStartMsg::Entry Int(const char* name, int32_t value) {
  ClJobStartMsg::Entry entry;
  entry.kind = ClJobStartMsg::kInt32;
  entry.name = name;
  entry.iValue = value;
  return entry;
}

ClJobStartMsg::Entry Text(const char* name, const char* value) {
  ClJobStartMsg::Entry entry;
  entry.kind = ClJobStartMsg::kString;
  entry.name = name;
  entry.text = value;
  return entry;
}

class JobStartTest : public PostOpsTest, public ::testing::WithParamInterface<OptionCase> {};

// The base options are never sent, even with the MLB mode on.
TEST_P(JobStartTest, CarriesOnlyTheJobLogKeys) {
  const OptionCase& c = GetParam();
  coretest::SetNumber("ProxyClients", "nMLBMode", 1);
  for (const auto& option : c.taskOptions)
    RecordRegistry::Instance().SetTaskOption(static_cast<int64_t>(kJobId), option.first, option.second);
  std::unique_ptr<TestPostOps> phase(new TestPostOps);
  ASSERT_NO_FATAL_FAILURE(Start(*phase));
  EXPECT_TRUE(log.Has("Standard PostOps call for PST.EXE"));
  EXPECT_TRUE(log.Has("ProxyPostOps::setJobOptions"));
  EXPECT_TRUE(log.Has("JobLog option [" + std::to_string(c.logged) + "]"));
  std::vector<SimClientDaemon::Launch> launches = daemon.GetLaunches();
  ASSERT_EQ(1u, launches.size());
  EXPECT_EQ("PST.EXE", launches[0].command);
  ASSERT_FALSE(phase->sendJobComplete().IsError());

  SimPostOpsProgram::Result got = Finish(phase);
  EXPECT_EQ("", got.fault);
  ASSERT_NE(nullptr, got.jobStart);
  EXPECT_EQ(coretest::kVellicon, got.jobStart->getVelliconId());
  EXPECT_EQ(coretest::kApp, got.jobStart->getAppId());
  EXPECT_EQ(-5, got.jobStart->getJobStartValue());
  EXPECT_EQ(kJobId, got.jobStart->getJobId());
  EXPECT_EQ(c.expected, got.jobStart->getEntries());
  EXPECT_TRUE(got.transfers.empty());
  EXPECT_TRUE(got.jobComplete);
}

INSTANTIATE_TEST_SUITE_P(
    JobLog, JobStartTest,
    ::testing::Values(
        OptionCase{"NoOption", {}, {}, 0},
        OptionCase{"OptionZero", {{TASK_OPTION_LOG_OUTPUT_OPTION, 0}}, {}, 0},
        OptionCase{"OptionOne",
                   {{TASK_OPTION_LOG_OUTPUT_OPTION, 1},
                    {TASK_OPTION_LOG_OUTPUT_FILE, "QGPL/LOGF"},
                    {TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO, 3}},
                   {Int("Log_Output_Option", 1)},
                   1},
        OptionCase{"OptionTwo",
                   {{TASK_OPTION_LOG_OUTPUT_OPTION, 2},
                    {TASK_OPTION_LOG_OUTPUT_TYPE_OF_INFO, 3},
                    {TASK_OPTION_LOG_OUTPUT_FILE, "QGPL/LOGF"},
                    {TASK_OPTION_LOG_OUTPUT_MEMBER, "MBR1"},
                    {TASK_OPTION_LOG_OUTPUT_MEMBER_OPTION, 4}},
                   {Int("Log_Output_Option", 2), Text("Log_Output_File", "QGPL/LOGF"),
                    Text("Log_Output_Member", "MBR1"), Int("Log_Output_Member_Option", 4)},
                   2}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

TEST_F(PostOpsTest, SubclientWithoutRecordFailsTheJobStartUnsent) {
  std::unique_ptr<TestPostOps> phase(new TestPostOps);
  CWqError result = phase->Init(coretest::kApp + 1);  // the client is known, the subclient is not
  ASSERT_FALSE(result.IsError()) << result.AsString();
  ASSERT_FALSE(phase->launchClientProcess().IsError());
  ASSERT_FALSE(phase->acceptClientProcessConnection().IsError());
  result = phase->sendJobStart();
  ASSERT_TRUE(result.IsError());
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_SUBCLIENT_NOT_FOUND)) << result.AsString();
  EXPECT_FALSE(log.Has("JobLog option"));

  SimConnectionRecord record;
  SimPostOpsProgram::Result got = Finish(phase, &record);
  EXPECT_EQ(nullptr, got.jobStart);
  EXPECT_TRUE(record.received.empty());
}

TEST_F(PostOpsTest, NullJobStartGetsNothing) {
  TestPostOps phase;
  ASSERT_FALSE(phase.Init().IsError());
  EXPECT_FALSE(phase.setJobOptions(nullptr).IsError());
}

TEST_F(PostOpsTest, CallsBeforeInitFailWithoutLink) {
  ASSERT_TRUE(list.Write(Pattern(10)));
  std::unique_ptr<Proxy> phase(new ProxyPostOps);  // hosts delete it through the base
  ProxyPostOps& postOps = static_cast<ProxyPostOps&>(*phase);
  EXPECT_TRUE(FXErrorUtil::IsErrNo(postOps.sendJobComplete(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(postOps.sendVMSBackedUpFilesList(list.path()), ENOTCONN));
}

}  // namespace
