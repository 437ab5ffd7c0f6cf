// The scan phase as a host drives it: a fresh object, calls made before
// init, and the whole road of a scan job against the unscripted scan
// program over a local folder of content.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ClBasicMsgs.h"
#include "FXErrorUtil.h"
#include "ScanTestUtil.h"

using namespace scantest;

namespace {

TEST(ProxyScanObjectTest, FreshObjectHasNothingSet) {
  std::unique_ptr<ProxyScan> phase(createProxyScan());
  ASSERT_TRUE(phase);
  EXPECT_FALSE(phase->m_bDisableSyncLib);
  EXPECT_FALSE(phase->m_bKeepATime);
  EXPECT_FALSE(phase->m_bSyncLibEnabled);
  EXPECT_FALSE(phase->m_bAllowSyncLib);
  EXPECT_EQ(0, phase->m_numberOfReadersPerVolume);
  EXPECT_TRUE(phase->m_newContent.empty());
}

// Every operation that needs the scan program's link fails clearly before
// init made it, and touches nothing.
TEST(ProxyScanObjectTest, CallsBeforeInitFailWithoutALink) {
  coretest::ScopedLogCapture log;
  std::unique_ptr<ProxyScan> phase(createProxyScan());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendJobStart(), ENOTCONN));
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendJobComplete(), ENOTCONN));
  std::list<std::string> content{"/a"}, none;
  ClScanOptionList options;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(phase->sendScanConfig(content, none, none, none, options), ENOTCONN));
  EXPECT_TRUE(options.empty());
  bool failed = true, completed = true;
  time_t scanTime = 0;
  uint32_t failedToBackup = 0, numCollect = 0;
  CWqError result = phase->recvScanResult("/nonexistent-folder/DC", failed, completed, scanTime, none, failedToBackup,
                                          numCollect, CAbortOperationCheckPtr());
  EXPECT_TRUE(FXErrorUtil::IsErrNo(result, ENOTCONN)) << result.AsString();
  EXPECT_FALSE(failed);
  EXPECT_FALSE(completed);
}

// The lines of a directory-change file without their time field.
std::vector<std::string> Listing(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    // kind, size, time, path: drop the time.
    size_t second = line.find('\t', line.find('\t') + 1);
    size_t third = line.find('\t', second + 1);
    lines.push_back(line.substr(0, second) + line.substr(third));
  }
  return lines;
}

class ScanRoadTest : public ScanTest {};

TEST_F(ScanRoadTest, WholeScanJobOverLocalContent) {
  ScopedTempFolder client;
  ASSERT_FALSE(client.path().empty());
  ASSERT_EQ(0, ::mkdir(client.Path("data").c_str(), 0755));
  ASSERT_EQ(0, ::mkdir(client.Path("data/sub").c_str(), 0755));
  ASSERT_TRUE(WriteFile(client.Path("data/a.txt"), "abc"));
  ASSERT_TRUE(WriteFile(client.Path("data/sub/b"), ""));
  ASSERT_TRUE(WriteFile(client.Path("data/tab\tname"), "12345"));
  ASSERT_EQ(0, ::symlink("a.txt", client.Path("data/link").c_str()));

  std::unique_ptr<ProxyScan> phase = Start(SimScanProgram::Unscripted(client.path()));
  ASSERT_TRUE(phase);
  std::vector<SimClientDaemon::Launch> launches = daemon.GetLaunches();
  ASSERT_EQ(1u, launches.size());
  EXPECT_EQ("SCN.EXE", launches[0].command);

  std::list<std::string> content{"/data", "/missing", "/data/../.."}, none;
  ClScanOptionList options;
  CWqError result = phase->sendScanConfig(content, none, none, none, options);
  ASSERT_FALSE(result.IsError()) << result.AsString();

  // First call: the file stream.
  const std::string dirChange = output.Path("DC");
  bool failed = true, completed = true;
  time_t scanTime = 0;
  std::list<std::string> failures;
  uint32_t failedToBackup = 0, numCollect = 0;
  result = phase->recvScanResult(dirChange, failed, completed, scanTime, failures, failedToBackup, numCollect,
                                 CAbortOperationCheckPtr());
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_FALSE(failed);
  EXPECT_FALSE(completed);
  EXPECT_EQ((std::vector<std::string>{"D\t0\t/data", "F\t3\t/data/a.txt", "L\t5\t/data/link", "D\t0\t/data/sub",
                                      "F\t0\t/data/sub/b", "F\t5\t/data/tab\\tname"}),
            Listing(ReadFile(dirChange)));
  EXPECT_EQ(
      "# SCN.EXE scan failures v1\n/missing\tNo such file or directory\n/data/../..\toutside the client's content\n",
      ReadFile(output.Path("scan_Failures.kxf")));

  // The next call deletes the directory-change file it is given: keep it.
  ASSERT_EQ(0, ::rename(dirChange.c_str(), output.Path("DC.kept").c_str()));
  result = phase->recvScanResult(dirChange, failed, completed, scanTime, failures, failedToBackup, numCollect,
                                 CAbortOperationCheckPtr());
  ASSERT_FALSE(result.IsError()) << result.AsString();
  EXPECT_TRUE(completed);
  EXPECT_FALSE(failed);
  EXPECT_GT(scanTime, 0);
  EXPECT_EQ(
      (std::list<std::string>{"/missing: No such file or directory", "/data/../..: outside the client's content"}),
      failures);
  EXPECT_EQ(2u, failedToBackup);
  EXPECT_EQ(6u, numCollect);

  result = phase->sendJobComplete();
  ASSERT_FALSE(result.IsError()) << result.AsString();
  SimConnectionRecord program = Program(phase);
  EXPECT_FALSE(program.failure.IsError()) << program.failure.AsString();
  ASSERT_EQ(3u, program.received.size());
  EXPECT_EQ(JOB_COMPLETE_MSG, program.received[2]->getMsgType());
  EXPECT_NE(nullptr, dynamic_cast<const ClEmptyMsg*>(program.received[2].get())) << "no payload";
}

}  // namespace
