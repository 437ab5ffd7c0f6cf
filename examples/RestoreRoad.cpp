#include "RestoreRoad.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <set>
#include <sstream>

#include <boost/shared_ptr.hpp>

#include "CXFileHeader.h"
#include "EvTask.h"
#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "SimFileTree.h"
#include "SimScanContent.h"
#include "SimRestoreProgram.h"
#include "restore/ProxyRestore.h"

namespace {

const char kPhase[] = "restore";
// The host's block: every archived file goes through one buffer of this size.
const size_t kBlockSize = 64 * 1024;
const int32_t kOsIbmI = 118;

CWqError StepFailed(CWqError error, const char* step) {
  error.Push(FX_HERE, "Step '%s' of the %s phase failed", step, kPhase);
  return error;
}

CWqError Mismatch(const char* what, const std::string& path) {
  // A difference is no system error: a plain value, not an errno.
  return FXErrorUtil::ErrorInt(FX_HERE, 1, "Restore verification: %s [%s]", what, path.c_str());
}

// One line of "archive/headers.txt": the converted header's fields, a tab,
// the client path.
struct ArchivedItem {
  std::unique_ptr<CXFileHeader> header;
  std::string name;
};

CWqError ParseHeaderLine(const std::string& line, ArchivedItem& item) {
  const size_t tab = line.find('\t');
  if (tab == std::string::npos) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "No tab in [%s]", line.c_str());
  item.name = SimScanUnescape(line.substr(tab + 1));  // written escaped: a name may hold a newline
  unsigned long long mode = 0, size = 0, mtime = 0, ctime = 0;
  unsigned attributes = 0;
  int os = 0;
  if (std::sscanf(line.c_str(), "mode=%llo size=%llu mtime=%llu ctime=%llu attributes=0x%x os=%d", &mode, &size,
                  &mtime, &ctime, &attributes, &os) != 6)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unreadable header line [%s]", line.c_str());
  if (item.name.empty() || item.name.size() >= CXFileHeader::kNameCapacity)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "A name of %zu bytes in [%s]", item.name.size(), line.c_str());
  if (item.name.find('\0') != std::string::npos)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "A name with a NUL in [%s]", line.c_str());
  item.header.reset(new CXFileHeader);
  CXFileHeader& cx = *item.header;
  cx.mode = mode;
  cx.size = size;
  cx.mtime = mtime;
  cx.ctime = ctime;
  cx.attributes = attributes;
  cx.clientOsType = os ? os : kOsIbmI;
  cx.pathSeparator = '/';
  std::memcpy(cx.name, item.name.c_str(), item.name.size() + 1);
  cx.nameLength = static_cast<uint32_t>(item.name.size() + 1);
  return CWqError::Success();
}

CWqError ReadArchive(const std::string& outputDir, std::vector<ArchivedItem>& items) {
  std::string text;
  CWqError result = ReadWholeFile(outputDir + "/archive/headers.txt", text);
  if (result.IsError()) return result;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    ArchivedItem item;
    result = ParseHeaderLine(line, item);
    if (result.IsError()) return result;
    items.push_back(std::move(item));
  }
  return CWqError::Success();
}

// Every result due so far, printed.
void PullResults(ProxyRestore& phase, RestoreOutcome& outcome) {
  std::string name, message;
  uint32_t status = 0;
  uint64_t value = 0;
  while (!phase.getFileRestoreStatusInfo(name, status, message, value).IsError()) {
    if (status == 0) {
      ++outcome.restoredResults;
      ExampleDetail("  result: %s restored (%" PRIu64 " bytes)\n", name.c_str(), value);
    } else {
      ++outcome.otherResults;
      ExampleDetail("  result: %s status 0x%x value %" PRIu64 " [%s]\n", name.c_str(), status, value, message.c_str());
    }
  }
}

// One archived item: its header, its bytes in blocks, its good end.
CWqError SendItem(ProxyRestore& phase, const std::string& archiveRoot, ArchivedItem& item, std::vector<char>& buffer,
                  RestoreOutcome& outcome) {
  CWqError result = phase.setCxHeader(*item.header);
  if (result.IsError()) return result;
  result = phase.sendHeader();
  if (result.IsError()) return result;
  uint64_t sent = 0;
  if (!S_ISDIR(item.header->mode)) {
    const std::string local = archiveRoot + item.name;
    const int fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      const int errNo = errno;
      phase.sendBadEOF();
      return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot open the archived [%s]: %s", local.c_str(),
                                     std::strerror(errNo));
    }
    for (;;) {
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        const int errNo = errno;
        ::close(fd);
        phase.sendBadEOF();
        return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot read the archived [%s]: %s", local.c_str(),
                                       std::strerror(errNo));
      }
      if (got == 0) break;
      result = phase.sendData(buffer.data(), static_cast<uint32_t>(got));
      if (result.IsError()) {
        ::close(fd);
        return result;
      }
      sent += static_cast<uint64_t>(got);
      ++outcome.blocks;
    }
    ::close(fd);
  }
  result = phase.sendGoodEOF();
  if (result.IsError()) return result;
  outcome.bytes += sent;
  ExampleDetail("  sent %s (%s, %" PRIu64 " bytes)\n", SimScanEscape(item.name).c_str(),
                S_ISDIR(item.header->mode) ? "folder" : S_ISLNK(item.header->mode) ? "link" : "file", sent);
  return CWqError::Success();
}

void PrintFilters(ProxyRestore& phase, const std::string& path) {
  std::list<std::string> found;
  phase.getFiltersFor(path, &found);
  std::string joined;
  for (const std::string& filter : found) joined += (joined.empty() ? "" : ", ") + filter;
  std::printf("getFiltersFor(%s) of the sample job's filters: %s\n", path.c_str(),
              joined.empty() ? "none" : joined.c_str());
}

CWqError RunPhase(ProxyRestore& phase, SimClientDaemon& daemon, std::vector<ArchivedItem>& items,
                  const std::string& archiveRoot, RestoreOutcome& outcome) {
  CWqError result = phase.init(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId,
                               ExampleJob::kRestoreJobId, ExampleJob::kHost, 0);
  if (result.IsError()) return StepFailed(result, "init");
  for (const char* path : {"/QSYS.LIB/PAYROLL.LIB", "/home/QSECOFR"}) phase.addSourceDestination(path, path);
  // The restore task, its pairs and filters are the sample job's records,
  // whatever folder the run backed up: said so in every line that shows them.
  std::printf("init, addSourceDestination: restore job %llu in place (the sample job's 2 source/destination pairs)\n",
              static_cast<unsigned long long>(ExampleJob::kRestoreJobId));
  boost::shared_ptr<EvRstTask> task(new EvRstTask(static_cast<KXJobID>(ExampleJob::kRestoreJobId)));
  result = phase.prepareWithRestoreTask(task);
  if (result.IsError()) return StepFailed(result, "prepareWithRestoreTask");
  std::printf("prepareWithRestoreTask: the sample job's filters from the records file:");
  if (task->getFilterPaths())
    for (const TaskFile* filter : *task->getFilterPaths()) std::printf(" %s", filter->getValue());
  std::printf("\n");
  for (const char* path : {"/", "/QSYS.LIB", "/home/QSECOFR", "/tmp"}) PrintFilters(phase, path);

  result = phase.launchClientProcess();
  if (result.IsError()) return StepFailed(result, "launchClientProcess");
  result = phase.acceptClientProcessConnection();
  if (result.IsError()) return StepFailed(result, "acceptClientProcessConnection");
  std::printf("launchClientProcess, acceptClientProcessConnection: %s connected back (daemon port %u)\n",
              SimRestoreProgram::kCommand, static_cast<unsigned>(daemon.GetPort()));
  result = phase.sendJobStart();
  if (result.IsError()) return StepFailed(result, "sendJobStart");
  std::printf("sendJobStart: restore options sent\n");
  result = phase.sendSourceFilters();
  if (result.IsError()) return StepFailed(result, "sendSourceFilters");
  std::printf("sendSourceFilters: the sample job's %s, then GOOD_EOF_MSG\n",
              Counted(ExampleJob::RestoreFilters().size(), "filter", "filters").c_str());

  std::vector<char> buffer(kBlockSize);
  const int64_t startMs = FXGetClock().MonotonicMs();
  for (ArchivedItem& item : items) {
    result = SendItem(phase, archiveRoot, item, buffer, outcome);
    if (result.IsError()) {
      result.Push(FX_HERE, "Restoring [%s]", SimScanEscape(item.name).c_str());
      return StepFailed(result, "send an item");
    }
    outcome.items.push_back(item.name);
    PullResults(phase, outcome);
  }
  result = phase.onCloseArchive();
  if (result.IsError()) return StepFailed(result, "onCloseArchive");
  result = phase.sendJobComplete();
  if (result.IsError()) return StepFailed(result, "sendJobComplete");
  outcome.seconds = static_cast<double>(FXGetClock().MonotonicMs() - startMs) / 1000.0;
  PullResults(phase, outcome);
  outcome.discardedBytes = phase.getDiscardedBytes();
  return CWqError::Success();
}

bool ReadLink(const std::string& path, std::string& target) {
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t got = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (got < 0) return false;
  target.assign(buffer.data(), static_cast<size_t>(got));
  return true;
}

}  // namespace

bool UsableRestoreFolder(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return false;
  return SimSortedNames(path).empty() && ::access(path.c_str(), R_OK | W_OK | X_OK) == 0;
}

CWqError PrepareRestoreFolder(const std::string& requested, std::string& folder) {
  CWqError result;
  if (requested.empty()) {
    result = MakeTempFolder("proxy-example-restore-", folder);
    if (result.IsError()) return result;
    std::printf("restore: into the new folder %s (kept)\n", folder.c_str());
    return result;
  }
  if (!UsableRestoreFolder(requested))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENOTEMPTY, "The restore folder [%s] is not an empty folder",
                                   requested.c_str());
  result = MakeFolders(requested);
  if (!result.IsError()) result = AbsoluteFolder(requested, folder);
  if (result.IsError()) return result;
  std::printf("restore: into %s (kept)\n", folder.c_str());
  return result;
}

CWqError RunRestoreRoad(SimClientDaemon& daemon, const std::string& outputDir, RestoreOutcome& outcome) {
  std::vector<ArchivedItem> items;
  CWqError result = ReadArchive(outputDir, items);
  if (result.IsError()) return StepFailed(result, "read archive/headers.txt");
  std::printf("archive: %s in %s/archive/headers.txt\n", Counted(items.size(), "item", "items").c_str(),
              outputDir.c_str());

  std::unique_ptr<ProxyRestore> phase(new ProxyRestore);
  std::printf("ProxyRestore: restore phase made\n");
  result = RunPhase(*phase, daemon, items, outputDir + "/archive", outcome);
  phase.reset();
  if (result.IsError()) return result;

  const size_t program = daemon.GetProgramCount() - 1;  // the restore program, launched last
  if (!daemon.WaitForProgram(program, static_cast<int>(ExampleJob::kTimeoutSeconds)))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The simulated restore program did not end");
  const SimConnectionRecord record = daemon.GetProgramRecord(program);
  if (record.failure.IsError()) {
    CWqError error = record.failure;
    error.Push(FX_HERE, "The simulated restore program failed");
    return error;
  }
  const std::vector<std::string> filters = SimRestoreProgram::SourceFilters(record);
  if (filters != ExampleJob::RestoreFilters())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPROTO, "RST.EXE received %zu source filters, not the task's %zu",
                                   filters.size(), ExampleJob::RestoreFilters().size());
  const double mb = static_cast<double>(outcome.bytes) / (1024.0 * 1024.0);
  std::printf("restore: %s, %s in %s of up to %zu bytes; results: %" PRIu64
              " restored, %" PRIu64 " other; discarded %s; %.3f MB in %.3f s (%.1f MB/s); RST.EXE "
              "received the %s\n",
              Counted(outcome.items.size(), "item", "items").c_str(), Counted(outcome.bytes, "byte", "bytes").c_str(),
              Counted(outcome.blocks, "block", "blocks").c_str(), kBlockSize, outcome.restoredResults,
              outcome.otherResults, Counted(outcome.discardedBytes, "byte", "bytes").c_str(), mb, outcome.seconds,
              outcome.seconds > 0 ? mb / outcome.seconds : 0.0, Counted(filters.size(), "filter", "filters").c_str());
  return CWqError::Success();
}

CWqError VerifyRestore(const std::string& contentDir, const std::string& restoreDir, const RestoreOutcome& outcome) {
  if (outcome.restoredResults != outcome.items.size() || outcome.otherResults != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO,
                                   "Restore verification: %" PRIu64 " restored and %" PRIu64
                                   " other results for %zu items",
                                   outcome.restoredResults, outcome.otherResults, outcome.items.size());
  // What must be there: the items and the folders above them.
  // The restore folder itself stands for "/": the listing never holds it.
  std::set<std::string> expected;
  for (const std::string& name : outcome.items) {
    if (name != "/") expected.insert(name);
    for (size_t slash = name.rfind('/'); slash != std::string::npos && slash > 0; slash = name.rfind('/', slash - 1))
      expected.insert(name.substr(0, slash));
  }
  std::vector<std::string> listed;
  SimListTree(restoreDir, "/", listed);
  const std::set<std::string> restored(listed.begin(), listed.end());
  for (const std::string& name : expected)
    if (!restored.count(name)) return Mismatch("missing from the restored folder", SimScanEscape(name));
  uint64_t files = 0, links = 0, folders = 0, bytes = 0, others = 0;
  for (const std::string& name : restored) {
    const std::string shown = SimScanEscape(name);
    if (!expected.count(name)) return Mismatch("in the restored folder but never archived", shown);
    const std::string original = contentDir + name, copy = restoreDir + name;
    struct stat want, got;
    if (::lstat(original.c_str(), &want) != 0) return Mismatch("not in the content", shown);
    if (::lstat(copy.c_str(), &got) != 0) return Mismatch("cannot be read back", shown);
    const bool special = !S_ISDIR(want.st_mode) && !S_ISLNK(want.st_mode) && !S_ISREG(want.st_mode);
    if (special) {
      // A FIFO, socket or device has no data; the simulated restore makes
      // it an empty file. Neither is ever opened.
      if (!S_ISREG(got.st_mode) || got.st_size != 0) return Mismatch("restored as another kind of item", shown);
      ++others;
    } else if ((want.st_mode & S_IFMT) != (got.st_mode & S_IFMT)) {
      return Mismatch("restored as another kind of item", shown);
    } else if (S_ISDIR(got.st_mode)) {
      ++folders;
    } else if (S_ISLNK(got.st_mode)) {
      std::string a, b;
      if (!ReadLink(original, a) || !ReadLink(copy, b) || a != b) return Mismatch("the link's target differs", shown);
      ++links;
    } else {
      std::string a, b;
      CWqError result = ReadWholeFile(original, a);
      if (!result.IsError()) result = ReadWholeFile(copy, b);
      if (result.IsError()) return result;
      if (a != b) return Mismatch("the restored bytes differ from the content's", shown);
      if ((want.st_mode & 07777) != (got.st_mode & 07777)) return Mismatch("the restored mode differs", shown);
      if (want.st_mtime != got.st_mtime) return Mismatch("the restored modification time differs", shown);
      bytes += b.size();
      ++files;
    }
  }
  std::printf("verified: the restored folder matches the content byte for byte: %s (%s, with their modes and "
              "times), %s, %s%s; nothing missing, nothing extra\n",
              Counted(files, "file", "files").c_str(), Counted(bytes, "byte", "bytes").c_str(),
              Counted(links, "link", "links").c_str(), Counted(folders, "folder", "folders").c_str(),
              others ? (", " + Counted(others, "FIFO, socket or device", "FIFOs, sockets or devices") +
                        " as empty files").c_str()
                     : "");
  return CWqError::Success();
}
