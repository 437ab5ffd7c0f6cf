// Conversion of the current header into CXFileHeader and struct stat, and
// the proxy-file test.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "BackupTestUtil.h"

namespace backuptest {
namespace {

struct FlagCase {
  uint64_t flags;
  uint64_t converted;
  uint32_t attributes;
};

TEST(BackupHeaderTest, FlagRules) {
  const std::vector<FlagCase> cases = {
      {0x41, 0x2000000000000041ull, 0},             // reference, kind 0x40
      {0x49, 0x2000008000000049ull, 0x200},         // reference with 0x8
      {0x14, 0x2000000000000014ull, 0},             // kind 0x10, bit 0x4
      {0x21, 0x2000000000000021ull, 0},             // kind 0x20
      {0x43, 0x43, 0x400},                          // archive data
      {0x4D, 0x200000800000004Dull, 0x200},         // kind 0x40, bits 0x4 and 0x8
      {0x31, 0x31, 0},                              // kind 0x30 takes no reference
      {0x10000000000ull, 0x10000000000ull, 0x600},  // attributes 0x600 whatever the kind
      {0x10000000043ull, 0x10000000043ull, 0x600},  // with archive data: 0x600
      {0x10000000049ull, 0x2000018000000049ull, 0x600},
  };
  for (const FlagCase& c : cases) {
    SCOPED_TRACE(c.flags);
    TestBackup phase;
    phase.m_headerSerializer.setHeader(FileHeader("/lib/a", 5, c.flags));
    CXFileHeader cx;
    ASSERT_FALSE(phase.getCxHeader(cx).IsError());
    EXPECT_EQ(c.converted, cx.platformFlags);
    EXPECT_EQ(c.attributes, cx.attributes);
  }
}

TEST(BackupHeaderTest, FieldsNamesAndKinds) {
  coretest::ScopedLogCapture log;
  TestBackup phase;
  phase.SetClientOS(118);
  ClProxyFileHeader header = FileHeader("/QSYS.LIB/A.FILE", 1234, 0x10);
  header.uid = 7;
  header.gid = 8;
  header.offset = 99;
  header.word1 = 5;
  phase.m_headerSerializer.setHeader(header);
  CXFileHeader cx;
  std::memset(cx.name, 'x', sizeof cx.name);
  ASSERT_FALSE(phase.getCxHeader(cx).IsError());
  EXPECT_EQ(3, cx.headerType);
  EXPECT_EQ(header.name.size() + 1, cx.nameLength);
  EXPECT_EQ(0100644u, cx.mode);
  EXPECT_EQ(7u, cx.uid);
  EXPECT_EQ(8u, cx.gid);
  EXPECT_EQ(1234u, cx.size);
  EXPECT_EQ(header.mtime, cx.mtime);
  EXPECT_EQ(header.ctime, cx.ctime);
  EXPECT_EQ(99u, cx.offset);
  EXPECT_EQ('/', cx.pathSeparator);
  EXPECT_EQ(118, cx.clientOsType);
  EXPECT_STREQ("/QSYS.LIB/A.FILE", cx.name);
  EXPECT_EQ(header.name, phase.m_sCurrentFile);
  EXPECT_TRUE(log.Has("Backup file /QSYS.LIB/A.FILE with platform flags 10 size:1234"));

  header.mode = 040755;
  header.name = "";
  phase.m_headerSerializer.setHeader(header);
  ASSERT_FALSE(phase.getCxHeader(cx).IsError());
  EXPECT_EQ(1u, cx.nameLength);
  EXPECT_STREQ("", cx.name);
  EXPECT_TRUE(log.Has("Backup folder  with platform flags"));

  struct stat st;
  std::memset(&st, 0, sizeof st);
  phase.fillStatBuffer(&st);
  EXPECT_EQ(040755u, st.st_mode);
  EXPECT_EQ(7u, st.st_uid);
  EXPECT_EQ(1234, st.st_size);
  EXPECT_EQ(static_cast<time_t>(header.atime), st.st_atim.tv_sec);
  EXPECT_EQ(static_cast<time_t>(header.mtime), st.st_mtim.tv_sec);
  EXPECT_EQ(static_cast<time_t>(header.ctime), st.st_ctim.tv_sec);
}

TEST(BackupHeaderTest, NameLongerThanTheFieldIsRefused) {
  for (size_t length : {size_t{CXFileHeader::kNameCapacity} - 1, size_t{CXFileHeader::kNameCapacity}}) {
    SCOPED_TRACE(length);
    TestBackup phase;
    phase.m_headerSerializer.setHeader(FileHeader("/" + std::string(length - 1, 'n')));
    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    CWqError result = phase.getCxHeader(*cx);
    if (length < CXFileHeader::kNameCapacity) {
      EXPECT_FALSE(result.IsError());
      EXPECT_EQ(length, std::strlen(cx->name));
    } else {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENAMETOOLONG)) << result.AsString();
      EXPECT_EQ(0u, cx->nameLength);
      EXPECT_EQ('\0', cx->name[0]);
    }
  }
}

// A name the archive cannot hold as it stands fails the item: nothing is
// written, and getFailedFile names it in a form that prints whole.
TEST(BackupHeaderTest, RefusedNamesAreFailedItems) {
  const std::string tooLong = "/" + std::string(CXFileHeader::kNameCapacity, 'n');
  struct Case {
    const char* name;
    std::string clientName;
    int error;
    std::string reported;
  } cases[] = {
      {"NUL inside", std::string("/top/a\0x", 8), EINVAL, "/top/a\\0x"},
      {"NUL inside, other tail", std::string("/top/a\0y", 8), EINVAL, "/top/a\\0y"},
      {"NUL at the end", std::string("/top/a\0", 7), EINVAL, "/top/a\\0"},
      {"NUL and a newline", std::string("/x\n/top/\0b\\", 11), EINVAL, "/x\\x0a/top/\\0b\\\\"},
      {"longer than the field", tooLong, ENAMETOOLONG, tooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestBackup phase;
    phase.m_headerSerializer.setHeader(FileHeader(c.clientName));
    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    CWqError result = phase.getCxHeader(*cx);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, c.error)) << result.AsString();
    EXPECT_EQ(0u, cx->nameLength);
    EXPECT_EQ('\0', cx->name[0]);
    std::string name, text;
    int error = 0;
    phase.getFailedFile(name, error, text);
    EXPECT_EQ(c.reported, name);
    EXPECT_EQ(c.error, error);
    EXPECT_FALSE(text.empty());
  }
}

TEST(BackupHeaderTest, ProxyFiles) {
  struct Case {
    const char* baseDir;
    const char* path;
    bool expected;
  } cases[] = {
      {"/opt/Client/", "/OPT/client/logs/a", true},
      {"/opt/client/", "/opt/client", false},
      {"/opt/client/", "/__KXHardLink@-@-Files__/f1", true},
      {"/opt/client/", "/__kxhardlink@-@-files__/f1", false},
      {"/opt/client/", "/data/a", false},
      {"", "/data/a", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TestBackup phase;
    phase.SetBaseDir(c.baseDir);
    EXPECT_EQ(c.expected, phase.isProxyFile(c.path));
  }
}

}  // namespace
}  // namespace backuptest
