// The restore job options as "RST.EXE" receives them.
#include <string>
#include <vector>

#include "RestoreTestUtil.h"

namespace restoretest {
namespace {

// The option entries as "name=value" in message order, paths as
// "path:source>destination"; the base's two options left out.
std::vector<std::string> Options(const ClJobStartMsg& start) {
  std::vector<std::string> out;
  for (const ClJobStartMsg::Entry& entry : start.getEntries()) {
    if (entry.name == "isMLBMode" || entry.name == "JO_ClientName") continue;
    std::string value;
    switch (entry.kind) {
      case ClJobStartMsg::kBool: value = entry.bValue ? "true" : "false"; break;
      case ClJobStartMsg::kInt32: value = std::to_string(entry.iValue); break;
      case ClJobStartMsg::kString: value = "'" + entry.text + "'"; break;
      case ClJobStartMsg::kPath: out.push_back("path:" + entry.name + ">" + entry.text); continue;
      default: value = "?"; break;
    }
    out.push_back(entry.name + "=" + value);
  }
  return out;
}

struct OptionCase {
  const char* name;
  std::function<void(TestRestore&)> host;
  std::vector<std::pair<uint32_t, RecordValue>> taskOptions;
  const char* xml;  // null: the fixture's
  std::vector<std::string> expected;
};

const std::vector<std::string> kFixed = {"JO_UNCOND_OW=0",  "JO_REST_WHENEXISTS=0", "JO_RESR_DONOT_OW=0",
                                         "JO_TARGETASP=''", "JO_ALWOBJDIF=''",      "JO_MBRFLAG=''",
                                         "JO_OUT_OF_PLACE=false"};

std::vector<std::string> With(std::vector<std::string> before, std::vector<std::string> after) {
  std::vector<std::string> all = before;
  all.insert(all.end(), kFixed.begin(), kFixed.end());
  all.insert(all.end(), after.begin(), after.end());
  return all;
}

TEST_F(RestoreTest, JobOptionsTable) {
  const char* kDeleteXml =
      "<CNMessage ns=\"12\" id=\"262\"><Field position=\"2\" type=\"objects\">"
      "<CNMessage ns=\"12\" id=\"311\"><Field position=\"31\" type=\"objects\">"
      "<CNMessage ns=\"12\" id=\"251\"><Field position=\"102\" type=\"int64\">7</Field></CNMessage>"
      "</Field></CNMessage></Field></CNMessage>";
  const char* kZeroDeleteXml =
      "<CNMessage ns=\"12\" id=\"262\"><Field position=\"2\" type=\"objects\">"
      "<CNMessage ns=\"12\" id=\"311\"><Field position=\"31\" type=\"objects\">"
      "<CNMessage ns=\"12\" id=\"251\"><Field position=\"102\" type=\"int64\">0</Field></CNMessage>"
      "</Field></CNMessage></Field></CNMessage>";
  const std::vector<OptionCase> cases = {
      {"nothing set", nullptr, {}, nullptr, With({}, {"RestoreWillSendFilters=true"})},
      {"log option 0", nullptr, {{0x2c292b4a, 0}, {0x58dcea9d, "F"}}, nullptr,
       With({}, {"RestoreWillSendFilters=true"})},
      {"log option 1", nullptr, {{0x2c292b4a, 1}, {0x58dcea9d, "F"}}, nullptr,
       With({"Log_Output_Option=1"}, {"RestoreWillSendFilters=true"})},
      {"log option 2",
       nullptr,
       {{0x2c292b4a, 2}, {0x58dcea9d, "F"}, {0x2c676116, "M"}, {0x301da251, 4}, {0x518b9d7c, 5}},
       nullptr,
       With({"Log_Output_Option=2", "Log_Output_File='F'", "Log_Output_Member='M'", "Log_Output_Member_Option=4",
             "Log_Output_Type_Of_Info=5"},
            {"RestoreWillSendFilters=true"})},
      {"log option 2, member unreadable",
       nullptr,
       {{0x2c292b4a, 2}, {0x58dcea9d, "F"}},
       nullptr,
       With({"Log_Output_Option=2", "Log_Output_File='F'"}, {"RestoreWillSendFilters=true"})},
      {"delete before restore", nullptr, {}, kDeleteXml,
       With({"Delete_Files_Before_Restore=1"}, {"RestoreWillSendFilters=true"})},
      {"delete field 0", nullptr, {}, kZeroDeleteXml, With({}, {"RestoreWillSendFilters=true"})},
      {"task options",
       nullptr,
       {{0x28ac84a8, true}, {0x4e08a404, false}, {0x41544788, "*SYSBAS"}, {0x77c33137, "1"},
        {0x435068e7, "*NONE"}, {0x412701e9, "S"}, {0x6361e7d7, "D1"}},
       nullptr,
       With({"Restore_PrivateAuthority_Enabled=true", "Restore_SpoolFileData_Enabled=false",
             "Restore_Destination_Asp='*SYSBAS'", "Restore_Destination_ASP_Value='1'",
             "Restore_Force_ObjectConversion_Selection='*NONE'", "Restore_Security_Data_Param='S'",
             "Restore_Defer_ID='D1'"},
            {"RestoreWillSendFilters=true"})},
      {"object difference 0", nullptr, {{0x4f73a3f8, 0}, {0x0ce641be, true}}, nullptr,
       With({"Restore_Allow_Object_Difference_Type=0"}, {"RestoreWillSendFilters=true"})},
      {"object difference 3",
       nullptr,
       {{0x4f73a3f8, 3}, {0x0ce641be, true}, {0x70e424dd, false}},
       nullptr,
       With({"Restore_Allow_Object_Difference_Type=3", "Restore_Allow_Object_Difference_Other_AUTL=true",
             "Restore_Allow_Object_Difference_Other_OWNER=false"},
            {"RestoreWillSendFilters=true"})},
      {"object difference unreadable", nullptr, {{0x0ce641be, true}}, nullptr,
       With({}, {"RestoreWillSendFilters=true"})},
      {"host fields and pairs by job",
       [](TestRestore& r) {
         r.unconditionalOverwrite = true;
         r.doNotOverwrite = true;
         r.restoreWhenExists = true;
         r.restoreByJobRunning = true;
         r.targetAsp = "ASP2";
         r.allowObjectDifference = "*ALL";
         r.memberFlag = "*MATCH";
         r.restoreFlags = 0x8 | 0x1;
         r.addSourceDestination("/a", "/b");
         r.addSourceDestination("/a", "/b");
       },
       {},
       nullptr,
       {"JO_UNCOND_OW=1", "JO_REST_WHENEXISTS=1", "JO_RESR_DONOT_OW=1", "JO_TARGETASP='ASP2'",
        "JO_ALWOBJDIF='*ALL'", "JO_MBRFLAG='*MATCH'", "JO_OUT_OF_PLACE=true", "RestoreByJobRunning=true",
        "path:/a>/b", "path:/a>/b"}},
      {"flags 0x7 and a pair with filters",
       [](TestRestore& r) {
         r.restoreFlags = 0x7;
         r.addSourceDestination("/QSYS.LIB/A.LIB", "/QSYS.LIB/B.LIB");
       },
       {},
       nullptr,
       With({}, {"path:/QSYS.LIB/A.LIB>/QSYS.LIB/B.LIB", "RestoreWillSendFilters=true"})},
  };
  size_t program = 0;
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    coretest::FillRecords(daemon.GetPort());  // no task options left from the row before
    RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), c.xml ? c.xml : kRestoreXml);
    for (const auto& option : c.taskOptions)
      RecordRegistry::Instance().SetTaskOption(static_cast<int64_t>(kJob), option.first, option.second);
    prepare = c.host;
    std::unique_ptr<TestRestore> phase = Started(SimRestoreProgram::Scripted(SimScript()));
    ASSERT_TRUE(phase);
    SimConnectionRecord record = Finish(phase, program++);
    std::shared_ptr<const ClJobStartMsg> start = SimRestoreProgram::JobStart(record);
    ASSERT_TRUE(start);
    EXPECT_EQ(c.expected, Options(*start));
    ASSERT_TRUE(start->findOption("JO_ClientName"));
  }
}

TEST_F(RestoreTest, UnreadableXmlOptionsSendNoJobStart) {
  struct Row {
    const char* name;
    const char* xml;  // null: none stored
  };
  const Row rows[] = {
      {"no xml", nullptr},
      {"unparsable", "<CNMessage"},
      {"no restore options", "<CNMessage ns=\"12\" id=\"262\"></CNMessage>"},
      {"restore options of another kind",
       "<CNMessage ns=\"12\" id=\"262\"><Field position=\"2\" type=\"objects\">"
       "<CNMessage ns=\"12\" id=\"99\"></CNMessage></Field></CNMessage>"},
  };
  size_t program = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<TestRestore> phase = Connect(SimRestoreProgram::Scripted(SimScript()));
    ASSERT_TRUE(phase);
    if (row.xml) {
      RecordRegistry::Instance().SetTaskXMLOptions(static_cast<int64_t>(kJob), row.xml);
    } else {
      RecordRegistry::Instance().FailGetter("EvTask::getXMLOptions", 2);
    }
    CWqError result = phase->sendJobStart();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOENT)) << result.AsString();
    RecordRegistry::Instance().ClearGetterFailure("EvTask::getXMLOptions");
    SimConnectionRecord record = Finish(phase, program++);
    EXPECT_FALSE(SimRestoreProgram::JobStart(record));
  }
}

}  // namespace
}  // namespace restoretest
