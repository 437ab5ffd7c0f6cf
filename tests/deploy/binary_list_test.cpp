// The OpenVMS file list comparison: the local package listed by the
// pkgcrc32 stand-in against the client's list.
#include <sys/stat.h>

#include "DeployTestUtil.h"
#include "KxProcess.h"
#include "ProxyEventIds.h"

namespace {

using deploytest::DeployTest;
using deploytest::kVmsClient;
typedef ClClientManager::BinaryMap BinaryMap;

class BinaryListTest : public DeployTest {
 protected:
  void SetUp() override {
    DeployTest::SetUp();
    manager = Loaded(kVmsClient);
  }
  // The CRC text pkgcrc32 gives a file of this content.
  std::string Crc(const std::string& content) {
    const std::string path = tools.Root() + "/crc-probe";
    SimSshTools::WriteFile(path, content);
    std::string out, err;
    KxProcess::Options options;
    KxProcess::run({tools.BaseHome() + "/pkgcrc32", path}, options, &out, &err);
    return out.substr(0, out.find(' '));
  }
  void Package(const std::string& name, const std::string& content) {
    ASSERT_TRUE(SimSshTools::WriteFile(tools.PackageFolder("OpenVMS") + "/" + name, content));
  }
  std::unique_ptr<ClClientManager> manager;
};

TEST_F(BinaryListTest, ZlibCrcOfTheStandIn) {
  // crc32("123456789") is 0xCBF43926.
  EXPECT_EQ(Crc("123456789"), "3421780262");
}

TEST_F(BinaryListTest, MarksEachFile) {
  Package("a.exe", "A");
  Package("b.exe", "B");
  Package("new.exe", "N");
  BinaryMap& map = manager->getBinaries();
  map["A.EXE"] = {Crc("A"), ClClientManager::FILE_ONLY_ON_CLIENT};
  map["B.EXE"] = {"99", ClClientManager::FILE_ONLY_ON_CLIENT};
  map["OLD.EXE"] = {"7", ClClientManager::FILE_ONLY_ON_CLIENT};
  CWqError result = manager->updateClientBinaryList();
  ASSERT_TRUE(FXErrorUtil::IsEventMessage(result, EV_CLIENT_OUT_OF_DATE));
  EXPECT_NE(result.AsString().find("Client binaries are not up-to-date."), std::string::npos);
  EXPECT_EQ(map["A.EXE"].second, ClClientManager::FILE_GOOD);
  EXPECT_EQ(map["B.EXE"].second, ClClientManager::FILE_CRC_DIFFERS);
  EXPECT_EQ(map["B.EXE"].first, "99");
  EXPECT_EQ(map["NEW.EXE"].second, ClClientManager::FILE_MISSING_ON_CLIENT);
  EXPECT_EQ(map["NEW.EXE"].first, "");
  EXPECT_EQ(map["OLD.EXE"].second, ClClientManager::FILE_ONLY_ON_CLIENT);
}

TEST_F(BinaryListTest, OnlyClientFilesLeftAreCurrent) {
  for (bool crlf : {false, true}) {
    SCOPED_TRACE(crlf ? "CRLF lines" : "LF lines");
    tools.SetPkgcrcCrlf(crlf);
    Package("A.EXE", "A");
    Package("B.EXE", "B");
    Package("PKGCRC.INFO", "ignored");
    Package("msg.eu", "ignored");
    BinaryMap& map = manager->getBinaries();
    map.clear();
    map["A.EXE"] = {Crc("A"), ClClientManager::FILE_ONLY_ON_CLIENT};
    map["B.EXE"] = {Crc("B"), ClClientManager::FILE_ONLY_ON_CLIENT};
    map["OLD.EXE"] = {"7", ClClientManager::FILE_ONLY_ON_CLIENT};
    CWqError result = manager->updateClientBinaryList();
    EXPECT_FALSE(result.IsError()) << result.AsString();
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(map["A.EXE"].second, ClClientManager::FILE_GOOD);
    EXPECT_EQ(map["B.EXE"].second, ClClientManager::FILE_GOOD);
  }
}

TEST_F(BinaryListTest, EmptyMapListsEverythingMissing) {
  Package("A.EXE", "A");
  Package("KXOV_START.COM", "S");
  deploytest::ScopedCapture capture;
  EXPECT_FALSE(manager->updateClientBinaryList().IsError());
  BinaryMap& map = manager->getBinaries();
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map["A.EXE"].second, ClClientManager::FILE_MISSING_ON_CLIENT);
  EXPECT_EQ(map["KXOV_START.COM"].second, ClClientManager::FILE_MISSING_ON_CLIENT);
  EXPECT_FALSE(capture.AnyContains("not loaded to the client"));
}

TEST_F(BinaryListTest, NameWithBlankIsInvalid) {
  Package("two words.exe", "T");
  Package("A.EXE", "A");
  deploytest::ScopedCapture capture;
  EXPECT_FALSE(manager->updateClientBinaryList().IsError());
  EXPECT_TRUE(capture.AnyContains("Invalid output at line 2"));  // "A.EXE" sorts first
  EXPECT_EQ(manager->getBinaries().size(), 1u);
}

// Every local key may become a copy destination on the client: only plain
// file names enter the list.
TEST_F(BinaryListTest, OnlyPlainLocalNamesEnter) {
  const char* names[] = {"a;b.exe", "x&y.exe", "[a]b.exe", "a.b.exe", "a,b.exe", "a*b.exe", "a|b.exe",
                         "a(b).exe", "a<b.exe", "a'b.exe", "a\"b.exe", "a`b`.exe", "a:b.exe", "a@b.exe"};
  for (const char* name : names) Package(name, "X");
  Package("GOOD.EXE", "G");
  deploytest::ScopedCapture capture;
  EXPECT_FALSE(manager->updateClientBinaryList().IsError());
  const BinaryMap& map = manager->getBinaries();
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.begin()->first, "GOOD.EXE");
  for (const char* name : names) EXPECT_TRUE(capture.AnyContains(std::string("'") + name + "'")) << name;
}

TEST_F(BinaryListTest, ToolFailsOrFolderMissing) {
  const struct {
    const char* name;
    std::function<void()> setup;
    int errNo;
  } cases[] = {
      {"failing tool", [&] { tools.SetPkgcrcFailure(true); }, 3},
      {"missing folder", [&] { ::rmdir(tools.PackageFolder("OpenVMS").c_str()); }, ENOENT},
      {"missing tool", [&] { ::unlink((tools.BaseHome() + "/pkgcrc32").c_str()); }, KxProcess::kCouldNotRun},
      {"folder that cannot be entered",
       [&] {
         const std::string folder = tools.PackageFolder("OpenVMS");
         ::unlink((folder + "/A.EXE").c_str());
         ::rmdir(folder.c_str());
         SimSshTools::WriteFile(folder, "not a folder");
       },
       ENOTDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(tools.Install().IsError());
    KXPlatformInfo().setString("ProductPaths", "sHomeDirectory", tools.HomeDirectory().c_str(),
                               tools.HomeDirectory().size());
    manager = Loaded(kVmsClient);
    manager->getBinaries()["A.EXE"] = {"1", ClClientManager::FILE_ONLY_ON_CLIENT};
    c.setup();
    CWqError result = manager->updateClientBinaryList();
    ASSERT_TRUE(FXErrorUtil::IsErrNo(result, c.errNo)) << result.AsString();
    EXPECT_NE(result.AsString().find("Fail to obtain crc for local binaries"), std::string::npos);
    EXPECT_EQ(manager->getBinaries().size(), 1u);
    EXPECT_EQ(manager->getBinaries()["A.EXE"].second, ClClientManager::FILE_ONLY_ON_CLIENT);
  }
}

}  // namespace
