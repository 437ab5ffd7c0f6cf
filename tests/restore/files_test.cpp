// The file stream restored by "RST.EXE" into a local folder: items written
// with their modes and times and reported back, partial files removed, names
// that would lead out of the folder refused with nothing written.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "FXErrorUtil.h"
#include "RestoreTestUtil.h"
#include "SimFileTree.h"
#include "SimRestoreFiles.h"

namespace restoretest {
namespace {

CXFileHeader Header(const std::string& name, uint64_t mode, uint64_t mtime = 1767225600) {
  CXFileHeader header;
  std::strncpy(header.name, name.c_str(), CXFileHeader::kNameCapacity - 1);
  header.mode = mode;
  header.mtime = mtime;
  return header;
}

std::string TempFolder(const char* prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  return ::mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> out;
  SimListTree(root, "/", out);
  return out;
}

template <class Ready>
bool WaitFor(Ready ready) {
  for (int i = 0; i < 4000 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return ready();
}

class FilesTest : public RestoreTest {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    root = TempFolder("restore-root-");
    outside = TempFolder("restore-outside-");
    ASSERT_FALSE(root.empty());
    ASSERT_FALSE(outside.empty());
  }
  void TearDown() override {
    std::string command = "rm -rf '" + root + "' '" + outside + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
    RestoreTest::TearDown();
  }

  std::unique_ptr<TestRestore> Open() { return Started(SimRestoreProgram::Files(root)); }

  // Header, blocks, good end; the error of the first step that fails.
  CWqError Send(TestRestore& phase, CXFileHeader header, const std::vector<std::string>& blocks) {
    CWqError result = phase.setCxHeader(header);
    if (!result.IsError()) result = phase.sendHeader();
    for (const std::string& block : blocks) {
      if (result.IsError()) break;
      std::vector<char> bytes(block.begin(), block.end());
      result = phase.sendData(bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    if (!result.IsError()) result = phase.sendGoodEOF();
    return result;
  }

  std::string root;
  std::string outside;
};

TEST_F(FilesTest, ATreeIsRestoredWithModesTimesAndResults) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->sendSourceFilters().IsError());
  ASSERT_FALSE(Send(*phase, Header("/lib", S_IFDIR | 0750), {}).IsError());
  ASSERT_FALSE(Send(*phase, Header("/lib/data", S_IFREG | 0640, 1700000000), {"abc", "", std::string(70000, 'x')})
                   .IsError());
  ASSERT_FALSE(Send(*phase, Header("/lib/new/deep/file", S_IFREG | 0600), {"d"}).IsError());  // folders made
  ASSERT_FALSE(Send(*phase, Header("/lib/latest", S_IFLNK | 0777), {"da", "ta"}).IsError());
  ASSERT_FALSE(Send(*phase, Header("/lib/empty", S_IFREG | 0644), {}).IsError());
  CWqError result = phase->sendJobComplete();  // answered with GOOD_EOF_MSG
  ASSERT_FALSE(result.IsError()) << result.AsString();

  std::vector<std::string> results;
  std::string name, message;
  uint32_t status = 0;
  uint64_t value = 0;
  while (!phase->getFileRestoreStatusInfo(name, status, message, value).IsError())
    results.push_back(name + ":" + std::to_string(status) + ":" + std::to_string(value));
  EXPECT_EQ((std::vector<std::string>{"/lib:0:0", "/lib/data:0:70003", "/lib/new/deep/file:0:1", "/lib/latest:0:4",
                                      "/lib/empty:0:0"}),
            results);

  EXPECT_EQ((std::vector<std::string>{"/lib", "/lib/data", "/lib/empty", "/lib/latest", "/lib/new", "/lib/new/deep",
                                      "/lib/new/deep/file"}),
            Tree(root));
  EXPECT_EQ("abc" + std::string(70000, 'x'), Contents(root + "/lib/data"));
  struct stat st;
  ASSERT_EQ(0, ::lstat((root + "/lib/data").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(1700000000, st.st_mtime);
  ASSERT_EQ(0, ::lstat((root + "/lib").c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 07777);
  char target[16] = {};
  ASSERT_EQ(4, ::readlink((root + "/lib/latest").c_str(), target, sizeof target));
  EXPECT_EQ(std::string("data"), target);
  EXPECT_EQ("", Contents(root + "/lib/empty"));
  Finish(phase);
}

TEST_F(FilesTest, ABadEndRemovesThePartialFile) {
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  CXFileHeader header = Header("/partial", S_IFREG | 0644);
  ASSERT_FALSE(phase->setCxHeader(header).IsError());
  ASSERT_FALSE(phase->sendHeader().IsError());
  char block[] = "half";
  ASSERT_FALSE(phase->sendData(block, 4).IsError());
  ASSERT_FALSE(phase->sendBadEOF().IsError());
  ASSERT_FALSE(Send(*phase, Header("/kept", S_IFREG | 0644), {"k"}).IsError());
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  EXPECT_EQ((std::vector<std::string>{"/kept"}), Tree(root));
  Finish(phase);
}

TEST_F(FilesTest, NamesThatLeadOutOfTheRootAreRefusedAndNothingIsWritten) {
  ASSERT_EQ(0, ::symlink(outside.c_str(), (root + "/away").c_str()));
  ASSERT_EQ(0, ::mkdir((root + "/folder").c_str(), 0755));
  struct Row {
    const char* name;
    int errNo;  // the client's code: its system error
  };
  const Row rows[] = {
      {"/../escape", EACCES},
      {"/a/../../escape", EACCES},
      {"/./escape", EACCES},
      {"/away/escape", ENOTDIR},       // through a link to a folder outside
      {"/away/sub/escape", ENOTDIR},
      {"/folder", EISDIR},             // a file over a folder
      {"/", EISDIR},
  };
  std::unique_ptr<TestRestore> phase = Open();
  ASSERT_TRUE(phase);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CXFileHeader header = Header(row.name, S_IFREG | 0644);
    ASSERT_FALSE(phase->setCxHeader(header).IsError());
    // The verdict comes back on the receiver thread; the next operation on
    // the file after it arrived ends with it, which may be the header's own
    // status check when the program answered that quickly.
    CWqError sent = phase->sendHeader();
    EXPECT_TRUE(!sent.IsError() || FXErrorUtil::IsErrNo(sent, row.errNo + 230)) << sent.AsString();
    ASSERT_TRUE(WaitFor([&] { return phase->StatusCount() == 1; }));
    char block[] = "x";
    CWqError result = phase->sendData(block, 1);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(result, row.errNo + 230)) << result.AsString();
    // The record stays until pulled: the end of the file fails the same way.
    EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendBadEOF(), row.errNo + 230));
    std::string name, message;
    uint32_t status = 0;
    uint64_t value = 0;
    ASSERT_FALSE(phase->getFileRestoreStatusInfo(name, status, message, value).IsError());
    EXPECT_EQ(row.name, name);
    EXPECT_EQ(static_cast<uint32_t>(row.errNo), status);
    EXPECT_NE(std::string::npos, message.find(std::strerror(row.errNo))) << message;
  }
  // A good file after the refusals still goes where it belongs.
  ASSERT_FALSE(Send(*phase, Header("/fine", S_IFREG | 0644), {"ok"}).IsError());
  ASSERT_FALSE(phase->sendJobComplete().IsError());
  EXPECT_EQ((std::vector<std::string>{"/away", "/fine", "/folder"}), Tree(root));
  EXPECT_TRUE(Tree(outside).empty());
  EXPECT_EQ("ok", Contents(root + "/fine"));
  Finish(phase);
}

// The program on its own: a write the system refuses. A file-size limit
// makes the refusal (EFBIG) without filling a disk.
TEST(SimRestoreFilesTest, AFailedWriteIsReportedWithTheSystemErrorAndThePartialFileRemoved) {
  const std::string root = TempFolder("restore-root-");
  ASSERT_FALSE(root.empty());
  std::vector<std::shared_ptr<ClProxyMsg>> replies;
  bool done = false;
  {
    SimRestoreFiles files(root);
    ClProxyFileHeaderSerializer header;
    header.name = "/big";
    header.mode = S_IFREG | 0644;
    std::vector<uint8_t> bytes(header.getBufSize());
    uint32_t used = 0;
    ASSERT_EQ(0, header.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used));
    files.Handle(ClBlobMsg(FILE_HEADER_MSG, ClBlobMsg::Copy, bytes.data(), used), replies, done);
    const std::vector<uint8_t> block(64, 'b');
    rlimit saved;
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    rlimit small = saved;
    small.rlim_cur = 16;
    void (*previous)(int) = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &small));
    files.Handle(ClBlobMsg(FILE_DATA_MSG, ClBlobMsg::Copy, block.data(), 64), replies, done);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    files.Handle(ClBlobMsg(FILE_DATA_MSG, ClBlobMsg::Copy, block.data(), 64), replies, done);  // ignored
    files.Handle(ClEmptyMsg(GOOD_EOF_MSG), replies, done);                                    // no result
    files.Handle(ClEmptyMsg(JOB_COMPLETE_MSG), replies, done);
    EXPECT_EQ(1u, files.GetTotals().failed);
  }
  EXPECT_TRUE(done);
  ASSERT_EQ(2u, replies.size());
  const ClFailedFileMsg* failed = dynamic_cast<const ClFailedFileMsg*>(replies[0].get());
  ASSERT_NE(nullptr, failed);
  std::string name, text;
  int code = 0;
  failed->get(name, code, text);
  EXPECT_EQ("/big", name);
  EXPECT_EQ(EFBIG, code);
  EXPECT_NE(std::string::npos, text.find(std::strerror(EFBIG))) << text;
  EXPECT_EQ(GOOD_EOF_MSG, replies[1]->getMsgType());
  EXPECT_TRUE(Tree(root).empty());  // the partial file went
  ::rmdir(root.c_str());
}

}  // namespace
}  // namespace restoretest
