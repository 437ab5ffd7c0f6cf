// A whole backup job against the unscripted BKP.EXE, which backs up a local
// folder: the archive the host builds from the stream matches the folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "BackupTestUtil.h"
#include "GetObjectGuid.h"
#include "SimScanContent.h"

namespace backuptest {
namespace {

class ContentFolder {
 public:
  ContentFolder() {
    char pattern[] = "/tmp/proxy-backup-content-XXXXXX";
    if (mkdtemp(pattern)) m_sRoot = pattern;
  }
  ~ContentFolder() {
    if (!m_sRoot.empty()) std::system(("rm -rf '" + m_sRoot + "'").c_str());
  }
  const std::string& root() const { return m_sRoot; }
  void Folder(const std::string& clientPath) { ASSERT_EQ(0, ::mkdir((m_sRoot + clientPath).c_str(), 0755)); }
  void File(const std::string& clientPath, const std::string& bytes) {
    std::ofstream out(m_sRoot + clientPath, std::ios::binary);
    out << bytes;
    m_files[clientPath] = bytes;
  }
  const std::map<std::string, std::string>& files() const { return m_files; }

 private:
  std::string m_sRoot;
  std::map<std::string, std::string> m_files;
};

struct Archive {
  std::map<std::string, std::string> files;  // regular files' bytes
  std::map<std::string, std::string> guids;
  std::vector<std::string> folders;
  std::vector<std::string> failed;
  unsigned int statsFiles = 0, statsFailed = 0;
  unsigned long statsBytes = 0;
};

// The host's loop over one collect file.
void Receive(TestBackup& phase, Archive& archive) {
  char* buf = nullptr;
  unsigned int size = 0;
  for (int item = 0; item < 100; ++item) {
    CWqError result = phase.recvNextFile();
    const int status = StatusOf(result);
    if (status == RECV_STATUS_COLLECT_DONE) break;
    if (status == RECV_STATUS_FAILED_FILE) {
      std::string name, text;
      int error = 0;
      phase.getFailedFile(name, error, text);
      archive.failed.push_back(name);
      continue;
    }
    ASSERT_EQ(0, status) << result.AsString();
    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    ASSERT_FALSE(phase.getCxHeader(*cx).IsError());
    ASSERT_FALSE(phase.recvReferenceList().IsError());
    archive.guids[cx->name] = phase.getComponentGUID(cx->name);
    std::string data;
    for (;;) {
      result = phase.recvData(buf, size, nullptr, nullptr);
      if (StatusOf(result) != 0) break;
      data.append(buf, size);
    }
    ASSERT_EQ(RECV_STATUS_GOOD_EOF, StatusOf(result)) << result.AsString();
    if ((cx->mode & 0xF000) == 0x4000) archive.folders.push_back(cx->name);
    else archive.files[cx->name] = data;
  }
  std::free(buf);
  phase.getStats(archive.statsFiles, archive.statsFailed, archive.statsBytes);
}

std::string Guid(const std::string& path) {
  std::string guid;
  GetObjectGuid(path, 0, '/', guid);
  return guid;
}

// The collect file lies beside the content (inside, it would count as
// content); it goes however the test ends.
struct ScopedCollectFile {
  std::string path;
  ~ScopedCollectFile() { ::unlink(path.c_str()); }
};

class BackupFolderTest : public BackupTest {
 protected:
  void SetUp() override {
    BackupTest::SetUp();
    content.Folder("/data");
    content.Folder("/data/sub");
    content.Folder("/data2");
    content.File("/data/a.txt", "abc");
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 3);
    content.File("/data/sub/big.bin", big);
    content.File("/data2/x", "x");
  }
  ContentFolder content;
};

TEST_F(BackupFolderTest, SyntheticFullOfTheScannedItems) {
  SimScanResult scan = SimScanContent(content.root(), {"/data", "/data2"});
  ASSERT_TRUE(scan.failures.empty());
  // An item that vanished between the scan and the backup.
  const std::string dirChange = scan.dirChange + "F\t1\t1767225600\t/data/missing\n";
  const ScopedCollectFile dc{content.root() + ".dc"};
  const std::string& dcPath = dc.path;
  { std::ofstream(dcPath, std::ios::binary) << dirChange; }

  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Unscripted(content.root()));
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->getClientVolumeList().IsError());
  ASSERT_FALSE(phase->sendSyntheticFullCollectFile(dcPath, 1).IsError());
  Archive archive;
  ASSERT_NO_FATAL_FAILURE(Receive(*phase, archive));
  ASSERT_FALSE(phase->sendJobComplete().IsError());

  std::map<std::string, std::string> expected = content.files();
  EXPECT_TRUE(expected == archive.files) << "the archive differs from the content";
  EXPECT_EQ((std::vector<std::string>{"/data", "/data/sub", "/data2"}), archive.folders);
  EXPECT_EQ((std::vector<std::string>{"/data/missing"}), archive.failed);
  EXPECT_EQ(6u, archive.statsFiles);
  EXPECT_EQ(1u, archive.statsFailed);
  EXPECT_EQ(200004u, archive.statsBytes);
  // The first file's mount path answers the whole collect file.
  EXPECT_EQ(Guid("/data"), archive.guids["/data/a.txt"]);
  EXPECT_EQ(Guid("/data"), archive.guids["/data2/x"]);
  phase.reset();
}

// A file whose read fails part-way ends with BAD_EOF_MSG after the data
// read so far, and counts as failed in the program's statistics.
TEST_F(BackupFolderTest, FileEndedByBadEofCountsAsFailed) {
  const ScopedCollectFile dc{content.root() + ".dc"};
  const std::string& dcPath = dc.path;
  { std::ofstream(dcPath, std::ios::binary) << "F\t0\t1767225600\t/data/sub/big.bin\n"; }
  SimBackupProgram::Options options;
  options.sendVolumeList = false;
  options.readFailsAt = "/data/sub/big.bin";
  options.readFailsAfter = SimBackupProgram::kBlockBytes;
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Unscripted(content.root(), options));
  ASSERT_TRUE(phase);
  ASSERT_FALSE(phase->sendSyntheticFullCollectFile(dcPath, 1).IsError());
  EXPECT_EQ("H:/data/sub/big.bin D65536 E11 S7", Drive(*phase));
  unsigned int files = 9, failed = 0;
  unsigned long bytes = 0;
  phase->getStats(files, failed, bytes);
  EXPECT_EQ(0u, files);
  EXPECT_EQ(1u, failed);
  ASSERT_FALSE(phase->sendJobComplete().IsError());
}

TEST_F(BackupFolderTest, NumberedCollectFilesBackUpTheWholeFolder) {
  SimBackupProgram::Options options;
  options.sendVolumeList = false;
  std::unique_ptr<TestBackup> phase = Started(SimBackupProgram::Unscripted(content.root(), options));
  ASSERT_TRUE(phase);
  for (unsigned int collect = 1; collect <= 2; ++collect) {
    SCOPED_TRACE(collect);
    ASSERT_FALSE(phase->sendCollectFile(collect, 0).IsError());
    Archive archive;
    ASSERT_NO_FATAL_FAILURE(Receive(*phase, archive));
    EXPECT_TRUE(content.files() == archive.files);
    EXPECT_TRUE(archive.failed.empty());
    EXPECT_EQ("", archive.guids["/data/a.txt"]);  // no volume list: no GUID
  }
  ASSERT_FALSE(phase->sendJobComplete().IsError());
}

}  // namespace
}  // namespace backuptest
