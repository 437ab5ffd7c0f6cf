#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "App_ExecuteSP.h"
#include "AppMsgs.h"
#include "ApplicationId.h"
#include "ArMgrClientAPI.h"
#include "ClientApplicationList.h"
#include "EvTask.h"
#include "MediaManagerMsgs.h"
#include "RecordRegistry.h"

namespace {

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry().Reset();
    registry().AddClient(5, "ibmi1", 118);
    registry().SetClientValue(5, "KXDPort", 9501);
    registry().SetClientProperty(5, "OpenVMSProxyClientId", 9);
    registry().AddClient(9, "proxy1", 0);
    registry().AddSubclient(2, 10, 5);
    registry().SetSubclientValue(2, 10, "iSeriesSCCustomFlag", false);
    registry().SetSubclientValue(2, 10, "iSeriesSCContentSelection", uint64_t{0x8000000000000005});
    registry().SetSubclientValue(2, 10, "IbmiCompression", "*LOW");
    registry().SetSubclientValue(2, 10, "NumberOfStreams", 0);
  }
  void TearDown() override { registry().Reset(); }

  static RecordRegistry& registry() { return RecordRegistry::Instance(); }
};

TEST_F(RecordsTest, ApplicationLeadsToItsClientAndSubclient) {
  ApplicationId app(2, 10);
  KXClient* client = app.getClient(NULL);
  ASSERT_NE(nullptr, client);
  EXPECT_EQ(client, app.getClient(NULL));  // one record, owned by the application
  uint64_t id = 0, port = 0;
  std::string name;
  int os = 0;
  EXPECT_EQ(0, client->getClientId(id, NULL));
  EXPECT_EQ(5u, id);
  EXPECT_EQ(0, client->getKXDPort(port));
  EXPECT_EQ(9501u, port);
  EXPECT_EQ(0, client->getName(name));
  EXPECT_EQ("ibmi1", name);
  EXPECT_EQ(0, client->getOperatingSystemId(os));
  EXPECT_EQ(118, os);
  ClientProperties* properties = client->getClientProperties();
  ASSERT_NE(nullptr, properties);
  int proxyId = -1;
  EXPECT_EQ(0, properties->getOpenVMSProxyClientId(proxyId, NULL));
  EXPECT_EQ(9, proxyId);

  Subclient* subclient = app.getSubclient(NULL);
  ASSERT_NE(nullptr, subclient);
  bool custom = true, isDefault = true;
  uint64_t mask = 0;
  int streams = -1;
  std::string compression;
  int32_t subclientId = 0;
  EXPECT_EQ(0, subclient->getiSeriesSCCustomFlag(custom, NULL));
  EXPECT_FALSE(custom);
  EXPECT_EQ(0, subclient->getiSeriesSCContentSelection(mask, NULL));
  EXPECT_EQ(0x8000000000000005u, mask);
  EXPECT_EQ(0, subclient->getIbmiCompression(compression, NULL));
  EXPECT_EQ("*LOW", compression);
  EXPECT_EQ(0, subclient->getNumberOfStreams(streams));
  EXPECT_EQ(0, streams);
  EXPECT_EQ(0, subclient->getSubclientId(subclientId));
  EXPECT_EQ(10, subclientId);
  // Absent value: not read, out-value untouched, text for the caller's log.
  std::string text;
  EXPECT_EQ(KXR_NO_VALUE, subclient->isDefaultSubclient(isDefault, &text));
  EXPECT_TRUE(isDefault);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(0, app.getLastError());
}

TEST_F(RecordsTest, MissingRecordsGiveNullOrNoRecord) {
  ApplicationId unknown(2, 11);
  EXPECT_EQ(nullptr, unknown.getClient(NULL));
  EXPECT_EQ(KXR_NO_RECORD, unknown.getLastError());
  EXPECT_EQ(nullptr, unknown.getSubclient(NULL));

  registry().AddSubclient(2, 12, 77);  // its client has no record
  ApplicationId orphan(2, 12);
  EXPECT_EQ(nullptr, orphan.getClient(NULL));
  EXPECT_NE(nullptr, orphan.getSubclient(NULL));

  KXClient nobody(2, 4242);
  std::string name = "preset";
  EXPECT_EQ(KXR_NO_RECORD, nobody.getName(name));
  EXPECT_EQ("preset", name);
  EXPECT_EQ(nullptr, nobody.getClientProperties());

  registry().SetClientHasProperties(9, false);
  KXClient proxy(2, 9);
  EXPECT_EQ(nullptr, proxy.getClientProperties());
  EXPECT_FALSE(registry().SetClientValue(4242, "Name", "x"));
}

TEST_F(RecordsTest, ValueOfAnotherTypeIsNotRead) {
  registry().SetSubclientValue(2, 10, "iSeriesBackupSyncLibFlag", "yes");
  registry().SetSubclientValue(2, 10, "iSeriesBackupSyncQueue", 5);
  Subclient subclient(2, 10);
  bool flag = false;
  std::string queue = "q";
  EXPECT_EQ(KXR_NO_VALUE, subclient.getiSeriesBackupSyncLibFlag(flag));
  EXPECT_EQ(KXR_NO_VALUE, subclient.getiSeriesBackupSyncQueue(queue));
  EXPECT_EQ("q", queue);
  // An integer reads as a boolean and back.
  registry().SetSubclientValue(2, 10, "iSeriesBackupLibQDTAFlag", 2);
  EXPECT_EQ(0, subclient.getiSeriesBackupLibQDTAFlag(flag));
  EXPECT_TRUE(flag);
}

// Every getter can be made to fail by name, whatever the records hold, and
// leaves its out-value untouched.
TEST_F(RecordsTest, EveryGetterHasAFailureSwitch) {
  registry().SetDIPList("ibmi1", {{"a*ibmi1", "b*proxy1"}});
  registry().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, "<x/>");
  registry().SetTaskOption(77, 0x1722ca9a, 2);
  registry().SetTaskOption(77, 0x2a0686b9, "LIB/FILE");
  registry().SetTaskXMLOptions(77, "<xml/>");

  struct Case {
    const char* getter;
    std::function<int()> call;  // the getter's result; the out-value must stay as preset
  };
  uint64_t u64 = 1;
  int i = 1;
  int32_t i32 = 1;
  bool b = true;
  std::string s = "preset";
  auto same = [&] { return u64 == 1 && i == 1 && i32 == 1 && b && s == "preset"; };
  int code = 40;
  Subclient sub(2, 10);
  KXClient client(2, 5);
  EvTask task(77, 0, NULL, false);
  std::vector<Case> cases = {
      {"KXClient::getKXDPort", [&] { return client.getKXDPort(u64); }},
      {"KXClient::getClientId", [&] { return client.getClientId(u64); }},
      {"KXClient::getName", [&] { return client.getName(s); }},
      {"KXClient::getOperatingSystemId", [&] { return client.getOperatingSystemId(i); }},
      {"KXClient::getClientProperties",
       [&] { return client.getClientProperties() ? 0 : code; }},
      {"ClientProperties::getOpenVMSProxyClientId",
       [&] { return ClientProperties(5).getOpenVMSProxyClientId(i); }},
      {"ApplicationId::getClient",
       [&] { ApplicationId a(2, 10); return a.getClient() ? 0 : a.getLastError(); }},
      {"ApplicationId::getSubclient",
       [&] { ApplicationId a(2, 10); return a.getSubclient() ? 0 : a.getLastError(); }},
      {"Subclient::getSubclientId", [&] { return sub.getSubclientId(i32); }},
      {"Subclient::getiSeriesSCCustomFlag", [&] { return sub.getiSeriesSCCustomFlag(b); }},
      {"Subclient::getiSeriesSCContentSelection",
       [&] { return sub.getiSeriesSCContentSelection(u64); }},
      {"Subclient::getIbmiCompression", [&] { return sub.getIbmiCompression(s); }},
      {"Subclient::getNumberOfStreams", [&] { return sub.getNumberOfStreams(i); }},
      {"EvTask::getOptionInt", [&] { return task.getOptionInt(0x1722ca9a, i); }},
      {"EvTask::getOptionString", [&] { return task.getOptionString(0x2a0686b9, s); }},
      {"EvTask::getXMLOptions", [&] { return task.getXMLOptions(s); }},
      {"ArMgrClientAPI::getMangledDIPList",
       [&] {
         GetMangledDIPListArgs_t args;
         args.clientName = "ibmi1";
         GetMangledDIPListRet_t ret;
         int rc = ArMgrClientAPI::getMangledDIPList(&args, &ret);
         if (rc == 0) return ret.dipList.size() == 1 ? 0 : -1;
         return ret.dipList.empty() ? rc : -1;
       }},
      {"App_ExecuteSP::executeStoredProcedure",
       [&] {
         return App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq, "r", s);
       }},
      {"ClientApplicationList::getModifiedFileList",
       [&] { return ClientApplicationList::getModifiedFileList("r", s, NULL); }},
  };
  for (const Case& c : cases) {
    ++code;
    registry().FailGetter(c.getter, code);
    EXPECT_EQ(code, c.call()) << c.getter;
    EXPECT_TRUE(same()) << c.getter;
    registry().ClearGetterFailure(c.getter);
    EXPECT_EQ(0, c.call()) << c.getter;
    u64 = 1, i = 1, i32 = 1, b = true, s = "preset";
  }
}

TEST_F(RecordsTest, TaskOptionsByJob) {
  registry().SetTaskOption(77, 0x1722ca9a, 2);
  registry().SetTaskOption(77, 0x2a0686b9, "QGPL/JOBLOG");
  EvTask task(77, 0, NULL, false);
  int value = -1;
  std::string text;
  EXPECT_EQ(0, task.getOptionInt(0x1722ca9a, value, NULL));
  EXPECT_EQ(2, value);
  EXPECT_EQ(0, task.getOptionString(0x2a0686b9, text, NULL));
  EXPECT_EQ("QGPL/JOBLOG", text);
  value = -1;
  EXPECT_EQ(KXR_NO_VALUE, task.getOptionInt(0x22b53998, value, NULL));
  EXPECT_EQ(KXR_NO_VALUE, task.getOptionInt(0x2a0686b9, value, NULL));  // a string
  EXPECT_EQ(-1, value);
  EXPECT_EQ(KXR_NO_VALUE, task.getXMLOptions(text));
  EvTask other(78);
  EXPECT_EQ(KXR_NO_RECORD, other.getOptionInt(0x1722ca9a, value, NULL));
}

TEST_F(RecordsTest, DataInterfacePairs) {
  registry().SetDIPList("ibmi1", {{"d1*ibmi1", "p1*proxy1"}, {"d2*ibmi1", "p2*proxy1*1*2"}});
  registry().SetDIPResult("vms1", 7);
  GetMangledDIPListArgs_t args;
  GetMangledDIPListRet_t ret;
  args.clientName = "ibmi1";
  ASSERT_EQ(ARMGR_SUCCESS, ArMgrClientAPI::getMangledDIPList(&args, &ret));
  ASSERT_EQ(2u, ret.dipList.size());
  EXPECT_EQ("p2*proxy1*1*2", ret.dipList[1].second);

  GetMangledDIPListRet_t untouched;
  args.clientName = "vms1";
  EXPECT_EQ(7, ArMgrClientAPI::getMangledDIPList(&args, &untouched));
  args.clientName = "nobody";
  EXPECT_EQ(ARMGR_NO_DIPS, ArMgrClientAPI::getMangledDIPList(&args, &untouched));
  EXPECT_TRUE(untouched.dipList.empty());
  EXPECT_EQ(ARMGR_INVALID_ARGUMENT, ArMgrClientAPI::getMangledDIPList(nullptr, &untouched));
}

TEST(DemangleHostNameTest, SplitsTheDocumentedForms) {
  struct Case {
    const char* mangled;
    int result;
    const char* host;
    const char* name;
    int n1, n2;
  } cases[] = {
      {"10.0.0.1*proxy1", 0, "10.0.0.1", "proxy1", 0, 0},
      {"data.example*proxy1*3*-4", 0, "data.example", "proxy1", 3, -4},
      {"*proxy1", 0, "", "proxy1", 0, 0},
      {"host*", 0, "host", "", 0, 0},
      {"plainhost", 1, "plainhost", "", 0, 0},
      {"h*c*x*2", 1, "h", "c", 0, 0},
      {"h*c*1", 1, "h", "c", 0, 0},
  };
  for (const Case& c : cases) {
    std::string host = "?", name = "?";
    int n1 = 9, n2 = 9;
    EXPECT_EQ(c.result, DemangleHostName(c.mangled, host, name, n1, n2)) << c.mangled;
    EXPECT_EQ(c.host, host) << c.mangled;
    EXPECT_EQ(c.name, name) << c.mangled;
    EXPECT_EQ(c.n1, n1) << c.mangled;
    EXPECT_EQ(c.n2, n2) << c.mangled;
  }
  std::string host, name;
  int n1, n2;
  EXPECT_EQ(0, DemangleHostName(MangleHostName("h.example", "c1"), host, name, n1, n2));
  EXPECT_EQ("h.example", host);
  EXPECT_EQ("c1", name);
}

TEST_F(RecordsTest, StoredProceduresAndModifiedFileListKeepRequests) {
  std::string reply = "untouched";
  EXPECT_EQ(KXR_NOT_CONFIGURED,
            App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq, "req1", reply));
  EXPECT_EQ("untouched", reply);
  registry().SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, "<reply/>");
  EXPECT_EQ(0, App_ExecuteSP::executeStoredProcedure(Tag_GetLibInfoForSubClientReq, "req2", reply,
                                                     NULL));
  EXPECT_EQ("<reply/>", reply);
  auto requests = registry().StoredProcedureRequests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("req2", requests[1].second);

  std::string response = "x";
  EXPECT_EQ(0, ClientApplicationList::getModifiedFileList("a", response, NULL));
  EXPECT_EQ("", response);
  registry().SetModifiedFileListReply(12, "");
  EXPECT_EQ(12, ClientApplicationList::getModifiedFileList("b", response, NULL));
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), registry().ModifiedFileListRequests());
}

TEST_F(RecordsTest, ReplaceWithCopiesAndResetEmpties) {
  RecordRegistry other;
  other.AddClient(1, "other", 49);
  registry().ReplaceWith(other);
  std::string name;
  EXPECT_EQ(0, KXClient(2, 1).getName(name));
  EXPECT_EQ(KXR_NO_RECORD, KXClient(2, 5).getName(name));
  other.Reset();
  EXPECT_EQ(0, KXClient(2, 1).getName(name));  // a copy, not a view
  registry().Reset();
  EXPECT_EQ(KXR_NO_RECORD, KXClient(2, 1).getName(name));
}

// XML messages.

TEST(CNMessageBaseTest, RoundTripsItsOwnText) {
  const std::string odd("a\0<b>&\"c'\n\r\t\x7f\xff end", 18);
  App::GetModifiedFileListResp message;
  message.setint64(7, 7, INT64_MIN, 0x1e5ce865, 0xa4b486);
  message.setint64(8, 9, -1, 0, 0);
  message.getliststring(1, 1, 0x1e4024e9, 0xceba77, true)->assign({"/A\\/\\/", "", odd});
  std::vector<CNMessageBase>* entries = message.getlistobject(3, 6, 0, 0, true);
  MediaManager::LibraryInfo library;
  library.setint64(1, 1, 3);
  library.getlistobject(2, 2, 0, 0, true)->push_back(CNMessageBase(22, 423));
  entries->push_back(library);
  message.getlistobject(4, 4, 0, 0, true);  // an empty list stays a set field

  for (bool declaration : {false, true}) {
    std::string text;
    ASSERT_EQ(0, message.serialize(text, declaration));
    EXPECT_EQ(std::string::npos, text.find('\n'));
    App::GetModifiedFileListResp back;
    ASSERT_EQ(CN_PARSE_OK, back.unserialize(text)) << text;
    EXPECT_EQ(INT64_MIN, back.getint64(7));
    EXPECT_EQ(-1, back.getint64(8));
    std::vector<std::string>* strings = back.getliststring(1, 1, 0, 0, false);
    ASSERT_NE(nullptr, strings);
    EXPECT_EQ((std::vector<std::string>{"/A\\/\\/", "", odd}), *strings);
    std::vector<CNMessageBase>* list = back.getlistobject(3, 6, 0, 0, false);
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(1u, list->size());
    MediaManager::LibraryInfo entry((*list)[0]);
    EXPECT_EQ(10, entry.getNamespace());
    EXPECT_EQ(127, entry.getMessageId());
    EXPECT_EQ(3, entry.getint64(1));
    ASSERT_NE(nullptr, entry.getlistobject(2, 2, 0, 0, false));
    EXPECT_EQ(22, entry.getlistobject(2, 2, 0, 0, false)->at(0).getNamespace());
    EXPECT_TRUE(back.isSet(4));
    EXPECT_FALSE(back.isSet(5));
    std::string again;
    back.serialize(again, declaration);
    EXPECT_EQ(text, again);
  }
}

TEST(CNMessageBaseTest, ReadsHandWrittenReplies) {
  const char* text =
      "<?xml version=\"1.0\"?>\n"
      "<CNMessage ns=\"10\" id=\"125\">\n"
      "  <Field position=\"1\" type=\"objects\">\n"
      "    <CNMessage ns=\"10\" id=\"127\"><Field position=\"1\" type=\"int64\"> 3 </Field>\n"
      "      <Field position=\"4\" type=\"int64\">4</Field></CNMessage>\n"
      "    <CNMessage ns=\"10\" id=\"127\"/>\n"
      "  </Field>\n"
      "  <Field position=\"2\" field=\"5\" type=\"strings\"><String>x &amp; &#x41;&#66;</String>"
      "<String/></Field>\n"
      "</CNMessage>\n";
  MediaManager::GetLibInfoForSubClientResp reply;
  ASSERT_EQ(CN_PARSE_OK, reply.unserialize(text));
  std::vector<CNMessageBase>* list = reply.getlistobject(1, 1, 0, 0, false);
  ASSERT_NE(nullptr, list);
  ASSERT_EQ(2u, list->size());
  EXPECT_EQ(3, (*list)[0].getint64(1));
  EXPECT_EQ(4, (*list)[0].getint64(4));
  EXPECT_FALSE((*list)[1].isSet(1));
  EXPECT_EQ((std::vector<std::string>{"x & AB", ""}), *reply.getliststring(2, 5, 0, 0, false));
}

TEST(CNMessageBaseTest, RejectsOtherMessagesAndMalformedTextUnchanged) {
  MediaManager::GetLibInfoForSubClientResp reply;
  reply.setint64(9, 9, 99);
  EXPECT_EQ(CN_PARSE_OTHER_MESSAGE, reply.unserialize("<CNMessage ns=\"30\" id=\"373\"/>"));
  const char* malformed[] = {
      "",
      "not xml",
      "<CNMessage ns=\"10\" id=\"125\">",
      "<CNMessage ns=\"10\">",
      "<CNMessage ns=\"ten\" id=\"125\"/>",
      "<CNMessage ns=\"10\" id=\"125\"/> trailing",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"int64\">x</Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"blob\">1</Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field type=\"int64\">1</Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"strings\"><String>&bogus;"
      "</String></Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"strings\"><String>&#300;"
      "</String></Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"strings\"><String>a"
      "</Field></CNMessage>",
      // The numbers are 32-bit: one beyond is refused, never cut to one that
      // happens to match (2^32 + 10 is not 10).
      "<CNMessage ns=\"4294967306\" id=\"125\"/>",
      "<CNMessage ns=\"10\" id=\"4294967421\"/>",
      "<CNMessage ns=\"-4294967286\" id=\"125\"/>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"4294967305\" type=\"int64\">1</Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"-2147483649\" type=\"int64\">1</Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"9\" field=\"4294967305\" type=\"int64\">1</Field>"
      "</CNMessage>",
      // A position given twice says two things of one field: neither is taken.
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"int64\">1</Field>"
      "<Field position=\"1\" type=\"int64\">2</Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"int64\">1</Field>"
      "<Field position=\"1\" field=\"2\" type=\"strings\"><String>a</String></Field></CNMessage>",
      "<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"objects\"><CNMessage ns=\"10\" id=\"127\">"
      "<Field position=\"4\" type=\"int64\">1</Field><Field position=\"4\" type=\"int64\">1</Field>"
      "</CNMessage></Field></CNMessage>",
  };
  for (const char* text : malformed) {
    EXPECT_EQ(CN_PARSE_MALFORMED, reply.unserialize(text)) << text;
    EXPECT_EQ(99, reply.getint64(9)) << text;
  }
  // The refusal names the repeated field and the message holding it.
  std::string problem;
  EXPECT_EQ(CN_PARSE_MALFORMED, reply.unserialize(malformed[sizeof(malformed) / sizeof(*malformed) - 1], &problem));
  EXPECT_NE(std::string::npos, problem.find("position 4 given twice in message 10:127")) << problem;
  // Each message of a list has positions of its own.
  CNMessageBase list;
  ASSERT_EQ(CN_PARSE_OK, list.unserialize("<CNMessage ns=\"10\" id=\"125\"><Field position=\"1\" type=\"objects\">"
                                          "<CNMessage ns=\"10\" id=\"127\"><Field position=\"1\" type=\"int64\">1</Field>"
                                          "</CNMessage><CNMessage ns=\"10\" id=\"127\"><Field position=\"1\" "
                                          "type=\"int64\">2</Field></CNMessage></Field></CNMessage>",
                                          &problem));
  ASSERT_EQ(2u, list.getlistobject(1, 1, 0, 0, false)->size());
  EXPECT_EQ(2, list.getlistobject(1, 1, 0, 0, false)->back().getint64(1));
  // Lists nested deeper than any real message are refused, not recursed.
  std::string deep;
  for (int i = 0; i < 100; ++i)
    deep += "<CNMessage ns=\"1\" id=\"1\"><Field position=\"1\" type=\"objects\">";
  deep += "<CNMessage ns=\"1\" id=\"1\"/>";
  for (int i = 0; i < 100; ++i) deep += "</Field></CNMessage>";
  CNMessageBase any;
  EXPECT_EQ(CN_PARSE_MALFORMED, any.unserialize(deep));
  // A message made with (0, 0) takes any kind.
  EXPECT_EQ(CN_PARSE_OK, any.unserialize("<CNMessage ns=\"30\" id=\"373\"/>"));
  EXPECT_EQ(373, any.getMessageId());
  // The 32-bit extremes themselves are taken.
  CNMessageBase extremes;
  ASSERT_EQ(CN_PARSE_OK, extremes.unserialize("<CNMessage ns=\"2147483647\" id=\"-2147483648\"><Field "
                                              "position=\"2147483647\" type=\"int64\">9223372036854775807</Field>"
                                              "</CNMessage>"));
  EXPECT_EQ(2147483647, extremes.getNamespace());
  EXPECT_EQ(-2147483647 - 1, extremes.getMessageId());
  EXPECT_EQ(9223372036854775807LL, extremes.getint64(2147483647));
}

// findint64 tells an integer 0 from a field that is missing or holds
// something else, which getint64 reads as 0 alike.
TEST(CNMessageBaseTest, FindsOnlyIntegers) {
  CNMessageBase message(30, 372);
  message.setint64(1, 1, 0);
  message.setint64(2, 2, INT64_MIN);
  message.setstring(3, 3, "7");
  message.getlistobject(4, 4, 0, 0, true)->push_back(CNMessageBase(30, 373));
  message.getliststring(5, 5, 0, 0, true);
  const struct {
    int position;
    bool found;
    int64_t value;
  } cases[] = {{1, true, 0}, {2, true, INT64_MIN}, {3, false, 42}, {4, false, 42}, {5, false, 42}, {6, false, 42}};
  const CNMessageBase& reader = message;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    int64_t value = 42;
    EXPECT_EQ(c.found, reader.findint64(c.position, c.position, 0, 0, value));
    EXPECT_EQ(c.value, value);
  }
}

TEST(CNMessageBaseTest, ListAccessorsCreateOnlyWhenAsked) {
  CNMessageBase message(30, 372);
  EXPECT_EQ(nullptr, message.getliststring(1, 1, 0, 0, false));
  message.setint64(1, 1, 5);
  EXPECT_EQ(nullptr, message.getliststring(1, 1, 0, 0, false));  // holds an integer
  EXPECT_EQ(5, message.getint64(1));
  ASSERT_NE(nullptr, message.getliststring(1, 1, 0, 0, true));
  EXPECT_EQ(0, message.getint64(1));  // replaced by the list
  EXPECT_TRUE(message.isSet(1));
  CNMessageBase copy = message;
  copy.getliststring(1, 1, 0, 0, false)->push_back("only in the copy");
  EXPECT_TRUE(message.getliststring(1, 1, 0, 0, false)->empty());
}

// Messages appended packed read, copy and write as the same messages made
// as objects do: the list is the same list either way.
TEST(CNMessageBaseTest, PackedMessagesAreTheSameMessages) {
  const std::string odd("a<&\x01\0z", 6);
  const struct {
    int64_t flag;
    std::string name;
    int64_t size;
  } rows[] = {{1, "sub", 0}, {0, odd, -5}, {0, "", INT64_MAX}, {0, "min", INT64_MIN}};
  App::MachineBrowseResp packed, objects;
  for (App::MachineBrowseResp* resp : {&packed, &objects}) resp->setstring(1, 1, "/lib");
  for (const auto& row : rows) {
    const CNMessageBase::PackedField fields[] = {
        {5, 5, 0, &row.name}, {3, 3, 7, nullptr}, {1, 1, row.flag, nullptr}, {3, 3, row.size, nullptr}};
    packed.appendlistobject(2, 5, 0, 0, 30, 270, fields, 4);
    App::MachineBrowseItem item;
    item.setint64(1, 1, row.flag);
    item.setstring(5, 5, row.name);
    item.setint64(3, 3, row.size);  // the later of two at one position
    objects.getlistobject(2, 5, 0, 0, true)->push_back(item);
  }
  std::string packedText, objectsText;
  packed.serialize(packedText, false);
  objects.serialize(objectsText, false);
  EXPECT_EQ(objectsText, packedText);

  const CNMessageBase copy = packed;
  CNMessageBase copied = copy;
  for (CNMessageBase* message : {static_cast<CNMessageBase*>(&packed), &copied}) {
    std::vector<CNMessageBase>* list = message->getlistobject(2, 5, 0, 0, false);
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(4u, list->size());
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(270, list->at(i).getMessageId());
      EXPECT_EQ(rows[i].flag, list->at(i).getint64(1)) << i;
      EXPECT_EQ(rows[i].name, list->at(i).getstring(5)) << i;
      EXPECT_EQ(rows[i].size, list->at(i).getint64(3)) << i;
    }
  }
  // One appended after the list was read is made as an object, after the others.
  const std::string last = "last";
  const CNMessageBase::PackedField one[] = {{5, 5, 0, &last}};
  packed.appendlistobject(2, 5, 0, 0, 30, 270, one, 1);
  ASSERT_EQ(5u, packed.getlistobject(2, 5, 0, 0, false)->size());
  EXPECT_EQ("last", packed.getlistobject(2, 5, 0, 0, false)->back().getstring(5));
  EXPECT_EQ(rows[0].name, packed.getObjectAccessor(false, false, 2, 5, 0, 0, 30, 270)->getstring(5));
}

}  // namespace
