#include "ExampleConsole.h"
#include "BackupRoad.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "PostOps/ProxyPostOps.h"
#include "SimBackupProgram.h"
#include "SimFileTree.h"
#include "SimScanContent.h"
#include "backup/ProxyBackup.h"

namespace {

const char kListName[] = "BackedUpFiles.kxf";
// A collect file that goes on for more items than this is taken as stuck.
const int kMaxItems = 100000;

CWqError StepFailed(CWqError error, const char* phase, const char* step) {
  error.Push(FX_HERE, "Step '%s' of the %s phase failed", step, phase);
  return error;
}

// init, launchClientProcess and acceptClientProcessConnection of a phase of
// the example job.
template <class Phase>
CWqError Connect(Phase& phase, const char* phaseName) {
  CWqError result = phase.init(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId, ExampleJob::kJobId,
                               ExampleJob::kLevel, ExampleJob::kJobStartValue, ExampleJob::kHost, 0);
  if (result.IsError()) return StepFailed(result, phaseName, "init");
  result = phase.launchClientProcess();
  if (result.IsError()) return StepFailed(result, phaseName, "launchClientProcess");
  result = phase.acceptClientProcessConnection();
  if (result.IsError()) return StepFailed(result, phaseName, "acceptClientProcessConnection");
  return result;
}

int StatusOf(const CWqError& result) {
  if (!result.IsError()) return 0;
  return FXErrorUtil::IsInt(result) ? FXErrorUtil::GetInt(result) : -1;
}

// A client path the archive can hold: absolute, and no component that
// leads out of the archive folder.
bool SafeClientPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// What the archive keeps while a collect file is received.
class ArchiveWriter {
 public:
  explicit ArchiveWriter(const std::string& outputDir)
      : m_sRoot(outputDir + "/archive"), m_sHeaders(m_sRoot + "/headers.txt") {}

  CWqError Open() {
    RemoveTree(m_sRoot);  // a rerun into the same folder starts afresh
    CWqError result = MakeFolders(m_sRoot);
    if (!result.IsError()) result = WriteWholeFile(m_sHeaders, "");
    return result;
  }

  CWqError Item(const CXFileHeader& cx, const std::string& guid, const std::string& data) {
    const std::string name(cx.name);
    if (!SafeClientPath(name))
      return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "The client sent the item [%s], which no archive may hold",
                                     SimScanEscape(name).c_str());
    const std::string local = m_sRoot + name;
    CWqError result = MakeFolders(S_ISDIR(cx.mode) ? local : Parent(local));
    if (!result.IsError() && !S_ISDIR(cx.mode)) result = WriteWholeFile(local, data);
    if (result.IsError()) return result;
    char line[512];
    std::snprintf(line, sizeof line, "mode=%06llo size=%llu mtime=%llu ctime=%llu attributes=0x%x os=%d guid=%s\t",
                  static_cast<unsigned long long>(cx.mode), static_cast<unsigned long long>(cx.size),
                  static_cast<unsigned long long>(cx.mtime), static_cast<unsigned long long>(cx.ctime),
                  static_cast<unsigned>(cx.attributes), static_cast<int>(cx.clientOsType),
                  guid.empty() ? "-" : guid.c_str());
    m_lines += line + SimScanEscape(name) + "\n";
    return CWqError::Success();
  }

  CWqError Close() { return WriteWholeFile(m_sHeaders, m_lines); }
  const std::string& root() const { return m_sRoot; }

 private:
  const std::string m_sRoot;
  const std::string m_sHeaders;
  std::string m_lines;
};

// One item's data, recvData until its end marker: success at GOOD_EOF,
// `itemFailed` at BAD_EOF or a failed file (the item is lost, the stream
// goes on), an error when the stream itself broke. The phase's buffer is
// the host's: freed here.
CWqError ReceiveData(ProxyBackup& phase, std::string& data, bool& itemFailed) {
  itemFailed = false;
  char* buf = nullptr;
  unsigned int size = 0;
  CWqError result;
  for (;;) {
    result = phase.recvData(buf, size, nullptr, nullptr);
    if (StatusOf(result) != 0) break;
    data.append(buf, size);
  }
  std::free(buf);
  const int status = StatusOf(result);
  if (status == RECV_STATUS_GOOD_EOF) return CWqError::Success();
  if (status == RECV_STATUS_BAD_EOF || status == RECV_STATUS_FAILED_FILE) {
    itemFailed = true;
    return CWqError::Success();
  }
  result.Push(FX_HERE, "The data of [%s] did not end well", SimScanEscape(phase.getFileName()).c_str());
  return result;
}

// The item that just failed, as getFailedFile names it, among the outcome's
// failed items.
void NoteFailed(ProxyBackup& phase, const char* where, BackupOutcome& outcome) {
  std::string name, text;
  int error = 0;
  phase.getFailedFile(name, error, text);
  std::printf("  failed %s: %s (%d: %s)\n", where, SimScanEscape(name).c_str(), error, text.c_str());
  outcome.failed.push_back(name);
}

CWqError ReceiveCollectFile(ProxyBackup& phase, ArchiveWriter& archive, BackupOutcome& outcome) {
  for (int item = 0; item < kMaxItems; ++item) {
    CWqError result = phase.recvNextFile();
    const int status = StatusOf(result);
    if (status == RECV_STATUS_COLLECT_DONE) return CWqError::Success();
    if (status == RECV_STATUS_FAILED_FILE) {
      NoteFailed(phase, "on the client", outcome);
      continue;
    }
    if (status != 0) return result;
    std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
    // A header the archive cannot hold fails its item; its references and
    // data are still read, so that the stream goes on with the next one.
    const bool converted = !phase.getCxHeader(*cx).IsError();
    result = phase.recvReferenceList();
    if (StatusOf(result) == RECV_STATUS_FAILED_FILE) {
      NoteFailed(phase, "on the client", outcome);
      continue;
    }
    if (result.IsError()) return result;
    std::string data;
    bool itemFailed = false;
    result = ReceiveData(phase, data, itemFailed);
    if (result.IsError()) return result;
    if (!converted) {
      NoteFailed(phase, "in the header", outcome);
      continue;
    }
    if (itemFailed) {
      NoteFailed(phase, "in its data", outcome);
      continue;
    }
    const std::string guid = phase.getComponentGUID(cx->name);
    result = archive.Item(*cx, guid, data);
    if (result.IsError()) return result;
    outcome.bytes += data.size();
    (S_ISDIR(cx->mode) ? outcome.folders : outcome.files).push_back(cx->name);
  }
  return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The collect file did not end within %d items", kMaxItems);
}

CWqError WriteList(const std::string& outputDir, const BackupOutcome& outcome) {
  std::string text;
  // One name a line, escaped as the scan escapes its names: a name may hold
  // a newline.
  for (const std::string& name : outcome.folders) text += SimScanEscape(name) + "\n";
  for (const std::string& name : outcome.files) text += SimScanEscape(name) + "\n";
  return WriteWholeFile(outputDir + "/" + kListName, text);
}

CWqError Mismatch(const char* what, const std::string& path) {
  // A difference is no system error: a plain value, not an errno.
  return FXErrorUtil::ErrorInt(FX_HERE, 1, "Verification: %s [%s]", what, path.c_str());
}

// The content's bytes of an item: a file's data, a link's target. A FIFO,
// socket or device is never opened (a FIFO would wait for ever): it has no
// data, and the archive holds it as an empty file.
CWqError ContentBytes(const std::string& local, std::string& bytes) {
  bytes.clear();
  struct stat st;
  if (::lstat(local.c_str(), &st) != 0) return Mismatch("the content lacks", local);
  if (S_ISREG(st.st_mode)) return ReadWholeFile(local, bytes);
  if (!S_ISLNK(st.st_mode)) return CWqError::Success();
  std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
  const ssize_t got = ::readlink(local.c_str(), target.data(), target.size());
  if (got < 0) return Mismatch("cannot read the link", local);
  bytes.assign(target.data(), static_cast<size_t>(got));
  return CWqError::Success();
}

// Every content item below what the job backed up is in the archive or
// among the failed items: none was dropped on the way.
CWqError CheckNothingDropped(const std::string& contentDir, const BackupOutcome& outcome) {
  std::set<std::string> accounted(outcome.files.begin(), outcome.files.end());
  accounted.insert(outcome.folders.begin(), outcome.folders.end());
  accounted.insert(outcome.failed.begin(), outcome.failed.end());
  // The tops of what was backed up: items whose folder was not.
  std::set<std::string> tops;
  for (const std::string& name : accounted)
    if (name == "/" || !accounted.count(Parent(name))) tops.insert(name);
  std::vector<std::string> content;
  SimListTree(contentDir, "/", content);
  for (const std::string& name : content) {
    bool below = false;
    for (std::string at = name; !below; at = Parent(at)) {
      below = tops.count(at) != 0;
      if (at == "/") break;
    }
    if (below && !accounted.count(name))
      return Mismatch("a content item is neither in the archive nor among the failed items",
                      SimScanEscape(name));
  }
  return CWqError::Success();
}

}  // namespace

CWqError RunBackupRoad(SimClientDaemon& daemon, const std::string& dirChangePath, const std::string& outputDir,
                       BackupOutcome& outcome) {
  const char* const kPhase = "backup";
  std::unique_ptr<ProxyBackup> phase(new ProxyBackup);
  std::printf("ProxyBackup: backup phase made (no VTL, sync library off)\n");
  CWqError result = Connect(*phase, kPhase);
  if (result.IsError()) return result;
  std::printf("init, launchClientProcess, acceptClientProcessConnection: %s connected back (daemon port %u)\n",
              SimBackupProgram::kCommand, static_cast<unsigned>(daemon.GetPort()));
  result = phase->sendJobStart(true);
  if (result.IsError()) return StepFailed(result, kPhase, "sendJobStart");
  std::printf("sendJobStart: job %llu started\n", static_cast<unsigned long long>(ExampleJob::kJobId));
  result = phase->getClientVolumeList();
  if (result.IsError()) return StepFailed(result, kPhase, "getClientVolumeList");
  std::printf("getClientVolumeList: %zu mount paths\n", phase->m_mountGUIDs.size());

  ArchiveWriter archive(outputDir);
  result = archive.Open();
  if (result.IsError()) return StepFailed(result, kPhase, "open the archive");
  const int64_t startMs = FXGetClock().MonotonicMs();
  result = phase->sendSyntheticFullCollectFile(dirChangePath, 1);
  if (result.IsError()) return StepFailed(result, kPhase, "sendSyntheticFullCollectFile");
  std::printf("sendSyntheticFullCollectFile: %s announced as collect file 1\n", dirChangePath.c_str());
  result = ReceiveCollectFile(*phase, archive, outcome);
  if (result.IsError()) return StepFailed(result, kPhase, "receive the collect file");
  outcome.seconds = static_cast<double>(FXGetClock().MonotonicMs() - startMs) / 1000.0;
  result = phase->getStats(outcome.statsFiles, outcome.statsFailed, outcome.statsBytes);
  if (result.IsError()) return StepFailed(result, kPhase, "getStats");
  std::printf("recvNextFile/recvData: %s, %s, %zu failed; client statistics: %s, %u failed, %s\n",
              Counted(outcome.folders.size(), "folder", "folders").c_str(),
              Counted(outcome.files.size(), "file", "files").c_str(), outcome.failed.size(),
              Counted(outcome.statsFiles, "file", "files").c_str(), outcome.statsFailed,
              Counted(outcome.statsBytes, "byte", "bytes").c_str());
  result = archive.Close();
  if (!result.IsError()) result = WriteList(outputDir, outcome);
  if (result.IsError()) return StepFailed(result, kPhase, "write the archive's files");
  result = phase->sendJobComplete();
  if (result.IsError()) return StepFailed(result, kPhase, "sendJobComplete");
  std::printf("sendJobComplete: sent; archive in %s, list %s/%s\n", archive.root().c_str(), outputDir.c_str(),
              kListName);
  return CWqError::Success();
}

CWqError RunPostOpsRoad(SimClientDaemon& daemon, const std::string& outputDir) {
  const char* const kPhase = "post-operations";
  std::unique_ptr<ProxyPostOps> phase(new ProxyPostOps);
  CWqError result = Connect(*phase, kPhase);
  if (result.IsError()) return result;
  result = phase->sendJobStart();
  if (result.IsError()) return StepFailed(result, kPhase, "sendJobStart");
  std::printf("ProxyPostOps: PST.EXE connected back (daemon port %u) and took the job start\n",
              static_cast<unsigned>(daemon.GetPort()));
  result = phase->sendVMSBackedUpFilesList(outputDir);
  if (result.IsError()) return StepFailed(result, kPhase, "sendVMSBackedUpFilesList");
  result = phase->sendJobComplete();
  if (result.IsError()) return StepFailed(result, kPhase, "sendJobComplete");
  std::printf("sendVMSBackedUpFilesList: %s/%s sent; sendJobComplete: sent\n", outputDir.c_str(), kListName);
  return CWqError::Success();
}

CWqError VerifyBackup(const std::string& contentDir, const std::string& outputDir, const BackupOutcome& outcome,
                      const SimPostOpsProgram& program) {
  const std::string archiveRoot = outputDir + "/archive";
  uint64_t compared = 0;
  for (const std::string& name : outcome.files) {
    std::string expected, archived;
    CWqError result = ContentBytes(contentDir + name, expected);
    if (!result.IsError()) result = ReadWholeFile(archiveRoot + name, archived);
    if (result.IsError()) return result;
    if (expected != archived) return Mismatch("the archive's bytes differ from the content's", SimScanEscape(name));
    compared += archived.size();
  }
  for (const std::string& name : outcome.folders)
    if (!IsFolder(contentDir + name) || !IsFolder(archiveRoot + name))
      return Mismatch("a folder is missing", SimScanEscape(name));
  CWqError dropped = CheckNothingDropped(contentDir, outcome);
  if (dropped.IsError()) return dropped;

  const SimPostOpsProgram::Result got = program.GetResult();
  if (!got.fault.empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "Verification: PST.EXE saw a protocol fault: %s",
                                   got.fault.c_str());
  std::string written;
  CWqError result = ReadWholeFile(outputDir + "/" + kListName, written);
  if (result.IsError()) return result;
  if (got.transfers.size() != 1 || got.transfers[0].end != SimPostOpsProgram::kGoodEof ||
      std::string(got.transfers[0].data.begin(), got.transfers[0].data.end()) != written)
    return Mismatch("PST.EXE did not receive the list written", outputDir + "/" + kListName);

  const double mb = static_cast<double>(outcome.bytes) / (1024.0 * 1024.0);
  std::printf("verified: %s and %s match the content byte for byte (%s), %zu failed (%s), "
              "nothing dropped; "
              "PST.EXE received the list of %s; %.2f MB in %.3f s (%.1f MB/s)\n",
              Counted(outcome.files.size(), "file", "files").c_str(),
              Counted(outcome.folders.size(), "folder", "folders").c_str(), Counted(compared, "byte", "bytes").c_str(),
              outcome.failed.size(), outcome.failed.empty() ? "none" : SimScanEscape(outcome.failed.front()).c_str(),
              Counted(outcome.files.size() + outcome.folders.size(), "item", "items").c_str(), mb, outcome.seconds,
              outcome.seconds > 0 ? mb / outcome.seconds : 0.0);
  return CWqError::Success();
}
