#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "App_ExecuteSP.h"
#include "ApplicationId.h"
#include "ArMgrClientAPI.h"
#include "ClientApplicationList.h"
#include "EvTask.h"
#include "FXErrorUtil.h"
#include "RecordsJsonLoader.h"

namespace {

const char kRecords[] = R"({
  "clients": [
    {"clientId": 5, "name": "ibmi1", "osId": 118,
     "values": {"KXDPort": 9401},
     "properties": {"OpenVMSProxyClientId": 9}},
    {"clientId": 9, "name": "proxy1", "osId": 0, "hasProperties": false}
  ],
  "subclients": [
    {"appId": 10, "clientId": 5,
     "values": {"iSeriesSCCustomFlag": false, "iSeriesSCContentSelection": 18446744073709551615,
                "NumberOfStreams": 2, "IbmiCompression": "*LOW"}}
  ],
  "dataInterfacePairs": [
    {"clientName": "ibmi1", "pairs": [{"first": "ibmi1-data*ibmi1", "second": "127.0.0.1*proxy1"}]},
    {"clientName": "vms1", "result": 8}
  ],
  "storedProcedures": [
    {"tag": "Tag_GetLibInfoForSubClientReq", "reply": "<CNMessage ns=\"10\" id=\"125\"/>"},
    {"tag": 99, "result": 5}
  ],
  "modifiedFileList": {"response": "<CNMessage ns=\"30\" id=\"373\"/>"},
  "tasks": [
    {"jobId": 77, "options": {"0x1722ca9a": 2, "707": "QGPL/JOBLOG"}, "xmlOptions": "<opts/>"},
    {"jobId": 78, "filterPaths": ["/QSYS.LIB/LIB1.LIB/A*.FILE", "/home/*", ""]}
  ],
  "getterFailures": {"KXClient::getOperatingSystemId": 6}
})";

class RecordsLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/proxy-records-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    dir_ = pattern;
    RecordRegistry::Instance().Reset();
  }
  void TearDown() override {
    for (const std::string& f : files_) ::unlink(f.c_str());
    ::rmdir(dir_.c_str());
    RecordRegistry::Instance().Reset();
  }

  std::string WriteFile(const std::string& text) {
    std::string path = dir_ + "/records" + std::to_string(files_.size()) + ".json";
    std::ofstream(path) << text;
    files_.push_back(path);
    return path;
  }

  // The registry still holds the marker client that each failing case
  // starts with.
  static void ExpectMarkerOnly() {
    std::string name;
    EXPECT_EQ(0, KXClient(2, 1).getName(name));
    EXPECT_EQ("marker", name);
    EXPECT_EQ(KXR_NO_RECORD, KXClient(2, 5).getName(name));
  }

  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(RecordsLoaderTest, LoadsEverySectionOfASmallFile) {
  RecordRegistry::Instance().AddClient(1, "replaced", 49);
  CWqError rc = RecordsJsonLoader::LoadFile(WriteFile(kRecords), RecordRegistry::Instance());
  ASSERT_FALSE(rc.IsError()) << rc.AsString();

  std::string name;
  EXPECT_EQ(KXR_NO_RECORD, KXClient(2, 1).getName(name));  // the file replaced everything
  ApplicationId app(2, 10);
  KXClient* client = app.getClient();
  ASSERT_NE(nullptr, client);
  uint64_t port = 0, mask = 0;
  int os = 0, proxyId = 0, streams = 0;
  EXPECT_EQ(0, client->getKXDPort(port));
  EXPECT_EQ(9401u, port);
  EXPECT_EQ(6, client->getOperatingSystemId(os));
  ASSERT_NE(nullptr, client->getClientProperties());
  EXPECT_EQ(0, client->getClientProperties()->getOpenVMSProxyClientId(proxyId));
  EXPECT_EQ(9, proxyId);
  EXPECT_EQ(nullptr, KXClient(2, 9).getClientProperties());

  Subclient* subclient = app.getSubclient();
  ASSERT_NE(nullptr, subclient);
  EXPECT_EQ(0, subclient->getiSeriesSCContentSelection(mask));
  EXPECT_EQ(UINT64_MAX, mask);
  EXPECT_EQ(0, subclient->getNumberOfStreams(streams));
  EXPECT_EQ(2, streams);

  GetMangledDIPListArgs_t args;
  GetMangledDIPListRet_t ret;
  args.clientName = "ibmi1";
  ASSERT_EQ(0, ArMgrClientAPI::getMangledDIPList(&args, &ret));
  ASSERT_EQ(1u, ret.dipList.size());
  EXPECT_EQ("127.0.0.1*proxy1", ret.dipList[0].second);
  args.clientName = "vms1";
  EXPECT_EQ(8, ArMgrClientAPI::getMangledDIPList(&args, &ret));

  std::string reply;
  EXPECT_EQ(0, App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq, "", reply));
  EXPECT_EQ("<CNMessage ns=\"10\" id=\"125\"/>", reply);
  EXPECT_EQ(5, App_ExecuteSP::executeStoredProcedure(99, "", reply));
  EXPECT_EQ(0, ClientApplicationList::getModifiedFileList("", reply));
  EXPECT_EQ("<CNMessage ns=\"30\" id=\"373\"/>", reply);

  EvTask task(77);
  int option = 0;
  std::string text;
  EXPECT_EQ(0, task.getOptionInt(0x1722ca9a, option));
  EXPECT_EQ(2, option);
  EXPECT_EQ(0, task.getOptionString(707, text));
  EXPECT_EQ("QGPL/JOBLOG", text);
  EXPECT_EQ(0, task.getXMLOptions(text));
  EXPECT_EQ("<opts/>", text);
  EXPECT_EQ(nullptr, task.getFilterPaths());  // a task without a list

  EvRstTask restoreTask(78);
  ASSERT_NE(nullptr, restoreTask.getFilterPaths());
  std::vector<std::string> paths;
  for (const TaskFile* file : *restoreTask.getFilterPaths()) paths.push_back(file->getValue());
  EXPECT_EQ((std::vector<std::string>{"/QSYS.LIB/LIB1.LIB/A*.FILE", "/home/*", ""}), paths);
}

TEST_F(RecordsLoaderTest, MalformedJsonIsAClearErrorAndChangesNothing) {
  RecordRegistry::Instance().AddClient(1, "marker", 49);
  std::string path = WriteFile("{\"clients\": [ {\"clientId\": 5,, } ]");
  CWqError rc = RecordsJsonLoader::LoadFile(path, RecordRegistry::Instance());
  ASSERT_TRUE(rc.IsError());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(rc, EINVAL));
  EXPECT_NE(std::string::npos, rc.AsString().find(path)) << rc.AsString();
  EXPECT_NE(std::string::npos, rc.AsString().find("parse error")) << rc.AsString();
  ExpectMarkerOnly();

  rc = RecordsJsonLoader::LoadFile(dir_ + "/missing.json", RecordRegistry::Instance());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(rc, ENOENT)) << rc.AsString();
}

// A file of the wrong shape names the place of the fault; a fault late in
// the file leaves nothing of the earlier entries behind.
TEST_F(RecordsLoaderTest, WrongShapeNamesThePlace) {
  const std::string goodClient = R"({"clientId": 5, "name": "ibmi1", "osId": 118})";
  struct Case {
    std::string json;
    const char* place;
  } cases[] = {
      {"[]", "(top): expected an object"},
      {R"({"client": []})", "unknown key \"client\""},
      {R"({"clients": {}})", "clients: expected an array"},
      {"{\"clients\": [" + goodClient + R"(, {"clientId": 6, "name": "x", "osId": "118"}]})",
       "clients[1].osId: expected an integer"},
      {R"({"clients": [{"clientId": 6, "osId": 1}]})", "clients[0].name: missing"},
      {R"({"clients": [{"clientId": 4294967296, "name": "x", "osId": 1}]})",
       "clients[0].clientId: out of the 32-bit range"},
      {"{\"clients\": [" + goodClient + R"(], "subclients": [{"appId": 1, "clientId": 5,
        "values": {"NumberOfStreams": 1.5}}]})",
       "subclients[0].values.NumberOfStreams: expected a boolean, an integer or a string"},
      {R"({"dataInterfacePairs": [{"clientName": "a", "result": 3, "pairs": []}]})",
       "dataInterfacePairs[0].pairs: not allowed"},
      {R"({"dataInterfacePairs": [{"clientName": "a", "pairs": [{"first": "x"}]}]})",
       "dataInterfacePairs[0].pairs[0].second: missing"},
      {R"({"storedProcedures": [{"tag": "Tag_Nothing"}]})", "unknown stored procedure"},
      {R"({"tasks": [{"jobId": 1, "options": {"opt": 1}}]})", "tasks[0].options.opt: option id"},
      {R"({"getterFailures": {"KXClient::getName": 0}})", "must not be 0"},
      {R"({"tasks": [{"jobId": 1, "filterPaths": "/a"}]})", "tasks[0].filterPaths: expected an array"},
      {R"({"tasks": [{"jobId": 1, "filterPaths": ["/a", 5]}]})", "tasks[0].filterPaths[1]: expected a string"},
      {R"({"tasks": [{"jobId": 1, "filterPaths": ["/a\u0000b"]}]})", "tasks[0].filterPaths[0]: expected a string"},
  };
  for (const Case& c : cases) {
    RecordRegistry::Instance().Reset();
    RecordRegistry::Instance().AddClient(1, "marker", 49);
    CWqError rc = RecordsJsonLoader::LoadText(c.json, "case.json", RecordRegistry::Instance());
    ASSERT_TRUE(rc.IsError()) << c.json;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(rc, EINVAL));
    EXPECT_NE(std::string::npos, rc.AsString().find(c.place)) << rc.AsString();
    EXPECT_NE(std::string::npos, rc.AsString().find("case.json")) << rc.AsString();
    ExpectMarkerOnly();
  }
}

}  // namespace
