#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "FXAtomicFile.h"
#include "FXErrorUtil.h"

namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FXAtomicFile::ResetForTest();
    char pattern[] = "/tmp/proxy-atomic-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    m_sFolder = pattern;
    m_iFolder = ::open(pattern, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_LE(0, m_iFolder);
  }
  void TearDown() override {
    FXAtomicFile::ResetForTest();
    ::close(m_iFolder);
    ::unlink(Path("sub/x").c_str());
    ::rmdir(Path("sub").c_str());
    for (const std::string& name : Entries()) ::unlink(Path(name).c_str());
    ::rmdir(m_sFolder.c_str());
  }

  std::string Path(const std::string& name) const { return m_sFolder + "/" + name; }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    if (DIR* dir = ::opendir(m_sFolder.c_str())) {
      while (dirent* e = ::readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      ::closedir(dir);
    }
    return names;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  CWqError Replace(const std::string& name, const std::string& content) {
    return FXAtomicFile::Replace(m_iFolder, name, "shown/" + name, name + ".tmp-", 6, 0640, content);
  }

  std::string m_sFolder;
  int m_iFolder = -1;
};

TEST_F(AtomicFileTest, ReplacesTheFileWholeWithTheModeAsked) {
  ASSERT_FALSE(Replace("a.values", "first").IsError());
  ASSERT_FALSE(Replace("a.values", "second").IsError());
  EXPECT_EQ("second", Read("a.values"));
  EXPECT_EQ((std::set<std::string>{"a.values"}), Entries());
  struct stat st;
  ASSERT_EQ(0, ::stat(Path("a.values").c_str(), &st));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(0640u & ~mask, st.st_mode & 0777u);

  // In progress, the new content lives in a temporary of the caller's prefix.
  FXAtomicFile file;
  ASSERT_FALSE(file.Begin(m_iFolder, "a.values", "a.values", ".receiving-", 6, 0600).IsError());
  ASSERT_FALSE(file.Write("third").IsError());
  const std::string temporary = file.TemporaryName();
  EXPECT_EQ(17u, temporary.size());
  EXPECT_EQ(0u, temporary.find(".receiving-"));
  EXPECT_EQ((std::set<std::string>{"a.values", temporary}), Entries());
  EXPECT_EQ("second", Read("a.values"));
  ASSERT_FALSE(file.Commit().IsError());
  EXPECT_EQ("third", Read("a.values"));
  EXPECT_FALSE(file.InProgress());
}

// Each step that fails is named; the old file stays whole and no temporary
// stays behind. A failed sync of the folder comes after the rename: the new
// content is in place, yet the save is reported failed.
TEST_F(AtomicFileTest, EachFailedStepIsNamedAndLeavesNothingBehind) {
  struct Row {
    FXAtomicFile::Step step;
    const char* text;
    const char* after;
  } rows[] = {
      {FXAtomicFile::kCreate, "Cannot create a temporary file for [shown/a]: ", "old"},
      {FXAtomicFile::kWrite, "Cannot write the temporary file of [shown/a]: ", "old"},
      {FXAtomicFile::kSyncFile, "Cannot sync the temporary file of [shown/a]: ", "old"},
      {FXAtomicFile::kRename, "Cannot rename the temporary file over [shown/a]: ", "old"},
      {FXAtomicFile::kSyncFolder, "Cannot sync the folder of [shown/a]: ", "new"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    FXAtomicFile::ResetForTest();
    ASSERT_FALSE(Replace("a", "old").IsError());
    FXAtomicFile::FailStepForTest(row.step, ENOSPC);
    CWqError result = Replace("a", "new");
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOSPC));
    EXPECT_NE(std::string::npos, result.AsString().find(row.text)) << result.AsString();
    EXPECT_EQ(row.after, Read("a"));
    EXPECT_EQ((std::set<std::string>{"a"}), Entries());
  }
}

TEST_F(AtomicFileTest, RealFailuresLeaveNothingBehind) {
  // A folder where the file should be: the rename fails.
  ASSERT_EQ(0, ::mkdir(Path("sub").c_str(), 0700));
  ASSERT_EQ(0, ::close(::open(Path("sub/x").c_str(), O_CREAT | O_WRONLY, 0600)));
  CWqError result = Replace("sub", "new");
  EXPECT_TRUE(result.IsError());
  EXPECT_NE(std::string::npos, result.AsString().find("Cannot rename the temporary file over [shown/sub]"))
      << result.AsString();
  EXPECT_EQ((std::set<std::string>{"sub"}), Entries());
  // A temporary name too long for the folder: nothing is made.
  result = FXAtomicFile::Replace(m_iFolder, "b", "b", std::string(300, 'b'), 6, 0600, "new");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENAMETOOLONG));
  // Not a folder at all.
  result = FXAtomicFile::Replace(-1, "b", "b", "b.", 6, 0600, "new");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, EBADF));
  EXPECT_EQ((std::set<std::string>{"sub"}), Entries());
}

TEST_F(AtomicFileTest, AbandonedOrMisusedFilesChangeNothing) {
  ASSERT_FALSE(Replace("a", "old").IsError());
  {
    FXAtomicFile file;
    ASSERT_FALSE(file.Begin(m_iFolder, "a", "a", "a.", 6, 0600).IsError());
    ASSERT_FALSE(file.Write("half").IsError());
    EXPECT_TRUE(FXErrorUtil::IsErrNo(file.Begin(m_iFolder, "a", "a", "a.", 6, 0600), EBUSY));
  }
  FXAtomicFile file;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(file.Write("x"), EBADF));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(file.Commit(), EBADF));
  ASSERT_FALSE(file.Begin(m_iFolder, "a", "a", "a.", 6, 0600).IsError());
  file.Abandon();
  EXPECT_EQ("old", Read("a"));
  EXPECT_EQ((std::set<std::string>{"a"}), Entries());
}

}  // namespace
