// Shared pieces of the database file-backup tests: a scratch folder of
// local files, the client records and the simulated server, the phase with
// its state reachable, and a host loop that writes what the phase gave as
// one line.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backup/DBProxyBackup.h"
#include "FXErrorUtil.h"
#include "KxsDBFBRecords.h"
#include "RecordRegistry.h"
#include "ScopedSettingsRoot.h"
#include "SimDBFileBackupServer.h"
#include "core/CoreTestUtil.h"

namespace dbtest {

using Answer = SimDBFileBackupServer::Answer;
using Message = SimDBFileBackupServer::Message;

const uint64_t kJob = 4711;
const int32_t kVellicon = 2;
const int32_t kApp = 10;
const int32_t kClient = 5;

// A folder of the test's own, removed with what it holds (one level of
// sub-folders).
class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/proxy-dbbackup-XXXXXX";
    if (::mkdtemp(pattern)) m_sPath = pattern;
  }
  ~ScratchFolder() { Remove(m_sPath); }
  const std::string& path() const { return m_sPath; }
  std::string Path(const std::string& name) const { return m_sPath + "/" + name; }
  // A file of `size` bytes of a known pattern.
  std::string File(const std::string& name, size_t size) const {
    const std::string path = Path(name);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return path;
    for (size_t i = 0; i < size; ++i) std::fputc(static_cast<int>((i * 7 + 3) & 0xff), file);
    std::fclose(file);
    return path;
  }
  std::string Folder(const std::string& name) const {
    const std::string path = Path(name);
    ::mkdir(path.c_str(), 0755);
    return path;
  }

 private:
  static void Remove(const std::string& path) {
    if (path.empty()) return;
    if (DIR* dir = ::opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* entry = ::readdir(dir))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
      ::closedir(dir);
      for (const std::string& name : names) {
        const std::string child = path + "/" + name;
        struct stat st;
        if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) Remove(child);
        else ::unlink(child.c_str());
      }
    }
    ::rmdir(path.c_str());
  }
  std::string m_sPath;
};

class TestDBBackup : public DBProxyBackup {
 public:
  TestDBBackup() : DBProxyBackup(0, nullptr, nullptr) {}
  CKxNetwork* Session() { return m_pServerSession.get(); }
  DBClientBackup* ClientBackup() { return m_pClientBackup; }
};

// The status a call reported: 0 for success, the RECV_STATUS_ code, or -1
// for an error of another kind.
inline int StatusOf(const CWqError& result) {
  if (!result.IsError()) return 0;
  return FXErrorUtil::IsInt(result) ? FXErrorUtil::GetInt(result) : -1;
}

// The host's loop over the whole job, as one line: "H:<cx name>@<offset>"
// per file with " D<size>" per block and " E10"/" E11" at its end,
// " F8:<errno>" for a failed file, " S12" at the end of the files, " X<errno>"
// for an error of errno kind (which ends the loop).
inline std::string Drive(DBProxyBackup& phase, std::string* data = nullptr, int maxFiles = 64) {
  std::ostringstream out;
  for (int file = 0; file < maxFiles; ++file) {
    CWqError result = phase.recvNextFile();
    const int status = StatusOf(result);
    if (status < 0) {
      out << " X" << FXErrorUtil::GetErrNo(result);
      break;
    }
    if (status == RECV_STATUS_NO_MORE_FILES) {
      out << " S12";
      break;
    }
    if (status == RECV_STATUS_FAILED_FILE) {
      std::string name, text;
      int error = 0;
      phase.getFailedFile(name, error, text);
      out << " F8:" << error;
      continue;
    }
    if (status != 0) {
      out << " S" << status;
      continue;
    }
    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    result = phase.getCxHeader(*cx);
    if (result.IsError()) {
      out << " C" << (FXErrorUtil::IsErrNo(result) ? FXErrorUtil::GetErrNo(result) : -1);
      continue;
    }
    out << " H:" << cx->name << "@" << cx->offset;
    for (int block = 0; block < 100000; ++block) {
      char* buf = nullptr;
      uint32_t size = 0;
      result = phase.recvData(buf, size);
      const int dataStatus = StatusOf(result);
      if (dataStatus == 0 && buf) {
        out << " D" << size;
        if (data) data->append(buf, size);
        std::free(buf);
        continue;
      }
      std::free(buf);
      out << " E" << dataStatus;
      break;
    }
  }
  const std::string line = out.str();
  return line.empty() ? line : line.substr(1);
}

// "<type name>:<file name>:<phase>" per message the server received.
inline std::vector<std::string> Conversation(const std::vector<Message>& messages) {
  std::vector<std::string> lines;
  for (const Message& m : messages) {
    std::string line = KXS_OraBackupRestore_PM_STRING(m.type);
    if (m.type == DBFB_FILE_MSG) line += ":" + m.fileName + ":" + std::to_string(m.phase);
    lines.push_back(line);
  }
  return lines;
}

class DBBackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(settingsRoot.path().empty());
    ASSERT_FALSE(scratch.path().empty());
    RecordRegistry& records = RecordRegistry::Instance();
    records.Reset();
    records.AddClient(kClient, "ibmi1", 118);
    records.SetClientValue(kClient, "NetworkHostname", std::string("localhost"));
    records.AddSubclient(kVellicon, kApp, kClient);
    coretest::SetTimeout("TIMEOUT_NEXT_FILE", 20);
  }
  void TearDown() override { RecordRegistry::Instance().Reset(); }

  // Starts the server with `script` and a phase connected to it.
  std::unique_ptr<TestDBBackup> Connected(std::vector<Answer> script) {
    server.SetScript(std::move(script));
    EXPECT_FALSE(server.Start().IsError());
    std::unique_ptr<TestDBBackup> phase(new TestDBBackup);
    CWqError result = phase->init(kVellicon, kApp, kClient, kJob, 1, -5, "ignored", 0);
    EXPECT_FALSE(result.IsError()) << result.AsString();
    if (result.IsError()) phase.reset();
    return phase;
  }

  // Ends the job as a host does and returns what the server recorded.
  std::vector<Message> Finish(std::unique_ptr<TestDBBackup>& phase) {
    phase.reset();
    EXPECT_TRUE(server.WaitForEnd(10));
    return server.Received();
  }

  ScopedSettingsRoot settingsRoot;
  coretest::ScopedLogCapture log{4};
  ScratchFolder scratch;
  SimDBFileBackupServer server;  // last: stops first
};

}  // namespace dbtest
