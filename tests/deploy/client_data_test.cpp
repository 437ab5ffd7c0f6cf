// The client data a manager loads (records, properties, settings) and the
// mapping of the client's base folder into its remote paths.
#include <cerrno>
#include <functional>

#include "DeployTestUtil.h"
#include "ProxyEventIds.h"
#include "RecordsJsonLoader.h"

namespace {

using deploytest::DeployTest;
using deploytest::kIbmiClient;
using deploytest::kVmsClient;

struct DataCase {
  const char* name;
  int32_t clientId;
  std::function<void(RecordRegistry&)> setup;
  std::function<void(const ClClientManager&, const CWqError&)> check;
};

TEST_F(DeployTest, ClientDataTable) {
  const DataCase cases[] = {
      {"openvms client", kVmsClient, nullptr,
       [&](const ClClientManager& m, const CWqError& e) {
         ASSERT_FALSE(e.IsError()) << e.AsString();
         EXPECT_TRUE(m.isInitialized());
         EXPECT_EQ(m.getOsId(), 49);
         EXPECT_EQ(m.client_platform(), "OpenVMS");
         EXPECT_EQ(m.getClientName(), "vms1");
         EXPECT_EQ(m.getHost(), "vms1.example");
         EXPECT_EQ(m.getPort(), 9402);
         EXPECT_EQ(m.getUser(), "SYSTEM");  // raw: command lines quote it
         EXPECT_TRUE(m.hasPassword());
         EXPECT_EQ(m.getProxyClientId(), 3);
         EXPECT_EQ(m.getLocalBaseHome(), tools.BaseHome());
         EXPECT_EQ(m.getLocalPackageFolder(), tools.PackageFolder("OpenVMS"));
         EXPECT_EQ(m.getPlatform().getBase(), "DKA0:[APP.CLIENT]");
         EXPECT_TRUE(m.getPlatform().isStartSvcSupported());
       }},
      {"ibm i client", kIbmiClient,
       [](RecordRegistry& r) { r.SetClientProperty(kIbmiClient, "IBMiUserProfile", RecordValue("OPER#1")); },
       [&](const ClClientManager& m, const CWqError& e) {
         ASSERT_FALSE(e.IsError()) << e.AsString();
         EXPECT_EQ(m.client_platform(), "iSeries");
         EXPECT_EQ(m.getUser(), "OPER#1");
         EXPECT_EQ(m.getIbmiUserProfile(), "OPER#1");
         EXPECT_EQ(m.getJobQueue(), "KXLIB/KXJOBQ");
         EXPECT_EQ(m.getSubsystemDesc(), "KXSBS");
         EXPECT_EQ(m.getJobPriority(), 5);
         EXPECT_EQ(m.getRunPriority(), 20);
         EXPECT_EQ(m.getPlatform().getBase(), "/QSYS.LIB/TARGET_LIB.LIB/");
         EXPECT_FALSE(m.getPlatform().isStartSvcSupported());
         EXPECT_EQ(m.getLocalPackageFolder(), tools.PackageFolder("iSeries"));
       }},
      {"create job queue: queue not read", kIbmiClient,
       [](RecordRegistry& r) {
         r.SetClientProperty(kIbmiClient, "CreateJobQueue", RecordValue(true));
         r.FailGetter("ClientProperties::getJobQueue", 3);
       },
       [](const ClClientManager& m, const CWqError& e) {
         ASSERT_FALSE(e.IsError()) << e.AsString();
         EXPECT_EQ(m.getJobQueue(), "*CREATE");
         EXPECT_TRUE(m.getCreateJobQueue());
       }},
      {"port 0", kVmsClient, [](RecordRegistry& r) { r.SetClientValue(kVmsClient, "KXDPort", RecordValue(0)); },
       [](const ClClientManager& m, const CWqError& e) { EXPECT_EQ(m.getPort(), 9401); }},
      {"port 65536 is not cut to 0", kVmsClient,
       [](RecordRegistry& r) { r.SetClientValue(kVmsClient, "KXDPort", RecordValue(65536)); },
       [](const ClClientManager& m, const CWqError& e) {
         EXPECT_FALSE(e.IsError());
         EXPECT_EQ(m.getPort(), 9401);
       }},
      {"port 74937 is not cut to 9401's neighbour", kVmsClient,
       [](RecordRegistry& r) { r.SetClientValue(kVmsClient, "KXDPort", RecordValue(65536 + 9402)); },
       [](const ClClientManager& m, const CWqError& e) { EXPECT_EQ(m.getPort(), 9401); }},
      {"port read fails", kVmsClient, [](RecordRegistry& r) { r.FailGetter("KXClient::getKXDPort", 4); },
       [](const ClClientManager& m, const CWqError& e) {
         EXPECT_FALSE(e.IsError());
         EXPECT_EQ(m.getPort(), 9401);
       }},
      {"os id 3", kVmsClient, [](RecordRegistry& r) { r.AddClient(kVmsClient, "vms1", 3); },
       [](const ClClientManager& m, const CWqError& e) {
         ASSERT_TRUE(e.IsError());
         EXPECT_TRUE(FXErrorUtil::IsEventMessage(e, EV_CLIENT_OS_UNSUPPORTED));
         EXPECT_NE(e.AsString().find("unsupported OS id 3"), std::string::npos);
         EXPECT_EQ(m.getPlatform().getOSType(), 0);
         EXPECT_FALSE(m.isInitialized());
       }},
      {"property getter fails", kVmsClient,
       [](RecordRegistry& r) { r.FailGetter("ClientProperties::getOpenVMSUserName", 3); },
       [](const ClClientManager& m, const CWqError& e) {
         ASSERT_TRUE(FXErrorUtil::IsErrNo(e, -1));
         EXPECT_NE(e.AsString().find("getOpenVMSUserName failed (3)"), std::string::npos);
       }},
      {"no properties", kVmsClient, [](RecordRegistry& r) { r.SetClientHasProperties(kVmsClient, false); },
       [](const ClClientManager& m, const CWqError& e) {
         ASSERT_TRUE(FXErrorUtil::IsErrNo(e, -1));
         EXPECT_NE(e.AsString().find("[getClientProperties] for client ID [7]"), std::string::npos);
       }},
      {"unknown client", 99, nullptr,
       [](const ClClientManager& m, const CWqError& e) {
         ASSERT_TRUE(FXErrorUtil::IsErrNo(e, 2));
         EXPECT_NE(e.AsString().find("Failed to get client information from the Zentraver"), std::string::npos);
       }},
      {"property blocks updates, setting not read", kVmsClient,
       [](RecordRegistry& r) { r.SetClientProperty(kVmsClient, "IsUpdateInstallBlocked", RecordValue(true)); },
       [](const ClClientManager& m, const CWqError& e) { EXPECT_TRUE(m.isUpdateBlocked()); }},
      {"blocked property read fails: allowed", kVmsClient,
       [](RecordRegistry& r) { r.FailGetter("ClientProperties::getIsUpdateInstallBlocked", 3); },
       [](const ClClientManager& m, const CWqError& e) {
         EXPECT_FALSE(e.IsError());
         EXPECT_FALSE(m.isUpdateBlocked());
       }},
      {"stored password not in the scheme: none used", kVmsClient,
       [](RecordRegistry& r) { r.SetClientProperty(kVmsClient, "OpenVMSUserPassword", RecordValue("plain")); },
       [](const ClClientManager& m, const CWqError& e) {
         EXPECT_FALSE(e.IsError());
         EXPECT_FALSE(m.hasPassword());
       }},
      {"password beyond 127 bytes: none used", kVmsClient,
       [](RecordRegistry& r) {
         r.SetClientProperty(kVmsClient, "OpenVMSUserPassword", RecordValue(KXPassword::encrypt(std::string(128, 'p'))));
       },
       [](const ClClientManager& m, const CWqError& e) {
         EXPECT_FALSE(e.IsError());
         EXPECT_FALSE(m.hasPassword());
       }},
      {"bad base folder", kVmsClient,
       [](RecordRegistry& r) { r.SetClientProperty(kVmsClient, "BaseInstallFolder", RecordValue("DKA0:[A;B]")); },
       [](const ClClientManager& m, const CWqError& e) {
         ASSERT_TRUE(FXErrorUtil::IsErrNo(e, -1));
         EXPECT_FALSE(m.isInitialized());
       }},
  };
  for (const DataCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordRegistry::Instance().Reset();
    AddVms("DKA0:[APP.CLIENT]", "SYSTEM", "secret");
    AddIbmi("QSECOFR", "secret");
    if (c.setup) c.setup(RecordRegistry::Instance());
    deploytest::ScopedCapture capture;
    ClClientManager manager("", 1, c.clientId);
    CWqError result = manager.initData();
    c.check(manager, result);
    // No password in any log line.
    EXPECT_FALSE(capture.AnyContains("secret"));
  }
}

TEST_F(DeployTest, BlockUpdateSetting) {
  const struct {
    const char* name;
    long value;  // -1: absent
    bool blocked;
  } cases[] = {{"absent", -1, false}, {"zero", 0, false}, {"one", 1, true}, {"seven", 7, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KXPlatformInfo settings;
    settings.deleteField("ProxyClients/vms1", "blockUpdate");
    if (c.value >= 0) settings.setNumber("ProxyClients/vms1", "blockUpdate", static_cast<unsigned long>(c.value));
    EXPECT_EQ(Loaded(kVmsClient)->isUpdateBlocked(), c.blocked);
  }
}

TEST_F(DeployTest, SecondInitDataReadsNothing) {
  std::unique_ptr<ClClientManager> manager = Loaded(kVmsClient);
  RecordRegistry::Instance().FailGetter("KXClient::lookup", 2);
  RecordRegistry::Instance().FailGetter("KXClient::getName", 2);
  EXPECT_FALSE(manager->initData().IsError());
}

TEST_F(DeployTest, ClientResolvedThroughSubclientAndGivenHostKept) {
  RecordRegistry::Instance().AddSubclient(2, 10, kVmsClient);
  ClClientManager manager("central-given", 1, 2, 10);
  ASSERT_FALSE(manager.initData().IsError());
  EXPECT_EQ(manager.getClientId(), kVmsClient);
  EXPECT_EQ(manager.getHost(), "central-given");

  ClClientManager unknown("", 1, 2, 11);
  CWqError result = unknown.initData();
  ASSERT_TRUE(FXErrorUtil::IsErrNo(result, -1));
  EXPECT_NE(result.AsString().find("for Application ID [11]"), std::string::npos);
}

TEST_F(DeployTest, NewManagerIsUnknownPlatform) {
  ClClientManager manager("vms1", 9401, kVmsClient);
  EXPECT_EQ(manager.client_platform(), "Unknown");
  EXPECT_EQ(manager.getPlatform().getOSType(), 0);
  EXPECT_TRUE(manager.getPlatform().getBase().empty());
  PlatformDefine platform;
  CWqError result = platform.setOSType(3);
  EXPECT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OS_UNSUPPORTED));
  EXPECT_FALSE(platform.setOSType(118).IsError());
  EXPECT_EQ(platform.getOSType(), 118);
}

TEST(BaseFolder, MappingTable) {
  const struct {
    const char* folder;
    const char* base;  // null: the call fails
    const char* bin;
    const char* upload;
    const char* error;
  } cases[] = {
      {"DKA0:[APP.CLIENT]", "DKA0:[APP.CLIENT]", "DKA0:[APP.CLIENT.bin]", "/DKA0/APP/CLIENT", nullptr},
      {"/DKA0/APP/CLIENT", "DKA0:[APP.CLIENT]", "DKA0:[APP.CLIENT.bin]", "/DKA0/APP/CLIENT", nullptr},
      {"/DKA0/APP/CLIENT/", "DKA0:[APP.CLIENT]", "DKA0:[APP.CLIENT.bin]", "/DKA0/APP/CLIENT", nullptr},
      {"DKA0:[APP..CLIENT]", "DKA0:[APP.CLIENT]", "DKA0:[APP.CLIENT.bin]", "/DKA0/APP/CLIENT", nullptr},
      // "$" stays as it is: the paths travel inside one quoted word.
      {"SYS$DISK:[A]", "SYS$DISK:[A]", "SYS$DISK:[A.bin]", "/SYS$DISK/A", nullptr},
      {"ABC", nullptr, nullptr, nullptr, "client base folder is too short (ABC)"},
      {"/DKA0", nullptr, nullptr, nullptr, "should have drive and drectory (/DKA0)"},
      {"/DKA0/", nullptr, nullptr, nullptr, "should have drive and drectory (/DKA0/)"},
      {"DKA0:[]", nullptr, nullptr, nullptr, "should have drive and drectory (DKA0:[])"},
      {"DKA00", nullptr, nullptr, nullptr, "invalis syntax for client base folder (DKA00)"},
      {"DKA0:A", nullptr, nullptr, nullptr, "invalis syntax"},
      {"DKA0:[A", nullptr, nullptr, nullptr, "invalis syntax"},
      {"DKA0:", nullptr, nullptr, nullptr, "invalis syntax"},
      // Names a shell or DCL would read as more than a name.
      {"DKA0:[A B]", nullptr, nullptr, nullptr, "only letters, digits"},
      {"DKA0:[A;B]", nullptr, nullptr, nullptr, "only letters, digits"},
      {"DKA0:[A]B]", nullptr, nullptr, nullptr, "only letters, digits"},
      {"/DKA0/A'B", nullptr, nullptr, nullptr, "only letters, digits"},
      {"/DK`x`/A", nullptr, nullptr, nullptr, "only letters, digits"},
      {"/-o/A", "-o:[A]", "-o:[A.bin]", "/-o/A", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    PlatformDefine platform;
    ASSERT_FALSE(platform.setOSType(49).IsError());
    ASSERT_FALSE(platform.setClientBaseFolder("DKB1:[OLD]").IsError());
    CWqError result = platform.setClientBaseFolder(c.folder);
    if (c.base) {
      ASSERT_FALSE(result.IsError()) << result.AsString();
      EXPECT_EQ(platform.getBase(), c.base);
      EXPECT_EQ(platform.getBinExecute(), c.bin);
      EXPECT_EQ(platform.getBaseUpload(), c.upload);
    } else {
      ASSERT_TRUE(FXErrorUtil::IsErrNo(result, -1));
      EXPECT_NE(result.AsString().find(c.error), std::string::npos) << result.AsString();
      // The former paths stay.
      EXPECT_EQ(platform.getBase(), "DKB1:[OLD]");
    }
  }
}

// DCL reads "-" as the parent folder and a leading "." as relative to the
// default one: such a base folder could name a tree above the client's.
TEST(BaseFolder, ParentAndRelativeComponentsRefused) {
  const char* folders[] = {"DKA0:[-]",       "DKA0:[-.-]",    "DKA0:[A.-]",  "DKA0:[.A]",     "SYS$LOGIN:[-]",
                           "SYS$LOGIN:[-.-]", "DKA0:[--]",    "DKA0:[A.--.B]", "/DKA0/-",     "/DKA0/-/-",
                           "/DKA0/A/-",      "/DKA0/../A",    "/DKA0/./A",   "/DKA0/A/..",    "/DKA0/A/."};
  for (const char* folder : folders) {
    SCOPED_TRACE(folder);
    PlatformDefine platform;
    ASSERT_FALSE(platform.setOSType(49).IsError());
    ASSERT_FALSE(platform.setClientBaseFolder("DKB1:[OLD]").IsError());
    CWqError result = platform.setClientBaseFolder(folder);
    ASSERT_TRUE(FXErrorUtil::IsErrNo(result, EINVAL)) << result.AsString();
    EXPECT_NE(result.AsString().find(std::string("(") + folder + ")"), std::string::npos) << result.AsString();
    EXPECT_EQ(platform.getBase(), "DKB1:[OLD]");
  }
  // A "-" inside a name is part of the name.
  PlatformDefine platform;
  ASSERT_FALSE(platform.setOSType(49).IsError());
  ASSERT_FALSE(platform.setClientBaseFolder("DKA0:[MY-APP.A-]").IsError());
  EXPECT_EQ(platform.getBase(), "DKA0:[MY-APP.A-]");
}

TEST(BaseFolder, IbmiPathsAreFixed) {
  for (const char* folder : {"", "/anything", "x y"}) {
    PlatformDefine platform;
    ASSERT_FALSE(platform.setOSType(118).IsError());
    ASSERT_FALSE(platform.setClientBaseFolder(folder).IsError());
    EXPECT_EQ(platform.getBase(), "/QSYS.LIB/TARGET_LIB.LIB/");
    EXPECT_EQ(platform.getBinExecute(), "/QSYS.LIB/TARGET_LIB.LIB/");
    EXPECT_EQ(platform.getBaseUpload(), "/QSYS.LIB/QGPL.LIB/");
  }
}

}  // namespace

namespace {

// The example host's records file carries the deployment's properties.
using deploytest::DeployTest;

TEST_F(DeployTest, PropertiesFromTheRecordsFile) {
  const std::string json = R"({"clients": [{"clientId": 21, "name": "ibmi2", "osId": 118,
      "values": {"NetworkHostname": "ibmi2.example", "KXDPort": 9411},
      "properties": {"IBMiUserProfile": "KXUSER", "IBMiUserPassword": ")" +
                           KXPassword::encrypt("pw") + R"(",
                     "IBMiDataFolder": "/kxdata", "SubsystemDesc": "KXSBS", "CreateJobQueue": true,
                     "JobPriority": 5, "RunPriority": 20, "OpenVMSProxyClientId": 3,
                     "IsUpdateInstallBlocked": false}}]})";
  CWqError loaded = RecordsJsonLoader::LoadText(json, "deploy.json", RecordRegistry::Instance());
  ASSERT_FALSE(loaded.IsError()) << loaded.AsString();
  ClClientManager manager("", 1, 21);
  CWqError result = manager.initData();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_EQ(manager.getHost(), "ibmi2.example");
  EXPECT_EQ(manager.getPort(), 9411);
  EXPECT_EQ(manager.getUser(), "KXUSER");
  EXPECT_TRUE(manager.hasPassword());
  EXPECT_EQ(manager.getJobQueue(), "*CREATE");
}

}  // namespace
