#include "DBBackupRoad.h"

#include "SimFileTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "FXErrorUtil.h"
#include "KxsDBFBRecords.h"
#include "SimDBFileBackupServer.h"
#include "SimScanContent.h"
#include "backup/DBProxyBackup.h"

namespace {

// The regular files below `folder`, in a stable order.
void RegularFiles(const std::string& folder, std::vector<std::string>& files) {
  for (const std::string& name : SimSortedNames(folder)) {
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) RegularFiles(path, files);
    else if (S_ISREG(st.st_mode)) files.push_back(path);
  }
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One file through the phase into the archive; the text of a failure.
CWqError BackUpOne(DBProxyBackup& phase, const std::string& archiveRoot) {
  std::unique_ptr<CXFileHeader> cx(new CXFileHeader);
  CWqError result = phase.getCxHeader(*cx);
  if (result.IsError()) return result.Push(FX_HERE, "Converting a header");
  // The local path the server named; the header carries the server's text.
  const std::string source = phase.getFileName();
  std::string data;
  for (;;) {
    char* block = nullptr;
    uint32_t size = 0;
    result = phase.recvData(block, size);
    if (!result.IsError()) {
      data.append(block, size);
      std::free(block);
      continue;
    }
    if (FXErrorUtil::IsInt(result, RECV_STATUS_GOOD_EOF)) break;
    return result.Push(FX_HERE, "Reading %s", source.c_str());
  }
  const std::string archived = archiveRoot + "/" + cx->name;
  result = MakeFolders(archived.substr(0, archived.rfind('/')));
  if (!result.IsError()) result = WriteWholeFile(archived, data);
  if (result.IsError()) return result;
  std::string original;
  result = ReadWholeFile(source, original);
  if (result.IsError()) return result;
  if (original != data)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "MISSING bytes: %s differs from its source %s", archived.c_str(),
                                   source.c_str());
  ExampleDetail("  %s <- %s: %zu bytes, sequence number %llu, verified\n", SimScanEscape(cx->name).c_str(),
                SimScanEscape(source).c_str(), data.size(), static_cast<unsigned long long>(cx->offset));
  return CWqError::Success();
}

}  // namespace

CWqError RunDBBackupRoad(const std::string& contentDir, const std::string& outputDir) {
  std::vector<std::string> files;
  RegularFiles(contentDir, files);
  std::vector<SimDBFileBackupServer::Answer> script;
  for (size_t i = 0; i < files.size(); ++i)
    script.push_back(SimDBFileBackupServer::Answer::File(
        files[i], "DB/" + std::to_string(i + 1) + "/" + BaseName(files[i]), 1000 + i));

  SimDBFileBackupServer server(ExampleJob::kHost);
  server.SetScript(script);
  CWqError result = server.Start();
  if (result.IsError()) return result.Push(FX_HERE, "Starting the simulated database file-backup server");
  std::printf("database file-backup server: simulated on %s:%u, names %s of %s\n", ExampleJob::kHost,
              static_cast<unsigned>(server.GetPort()), Counted(files.size(), "file", "files").c_str(),
              contentDir.c_str());

  const std::string archiveRoot = outputDir + "/archive/db";
  unsigned int statsFiles = 0, statsFailed = 0;
  unsigned long statsBytes = 0;
  {
    DBProxyBackup phase(0, nullptr, nullptr);
    result = phase.init(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId, ExampleJob::kJobId,
                        ExampleJob::kLevel, ExampleJob::kJobStartValue, "", 0);
    if (result.IsError()) return result.Push(FX_HERE, "Connecting to the database file-backup server");
    std::printf("init: connected to %s\n", DBProxyBackup::kServiceName);
    phase.sendJobStart();
    for (;;) {
      result = phase.recvNextFile();
      if (FXErrorUtil::IsInt(result, RECV_STATUS_NO_MORE_FILES)) break;
      if (result.IsError()) return result.Push(FX_HERE, "Asking for the next file");
      result = BackUpOne(phase, archiveRoot);
      if (result.IsError()) return result;
    }
    phase.getStats(statsFiles, statsFailed, statsBytes);
    phase.sendJobComplete();
  }
  if (!server.WaitForEnd(static_cast<int>(ExampleJob::kTimeoutSeconds)))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The simulated database file-backup server saw no end of the job");
  std::printf("getStats: %s, %u failed, %s\n", Counted(statsFiles, "file", "files").c_str(), statsFailed,
              Counted(statsBytes, "byte", "bytes").c_str());
  std::printf("the server recorded:\n");
  size_t statuses = 0;
  for (const SimDBFileBackupServer::Message& message : server.Received()) {
    if (message.type != DBFB_FILE_MSG) {
      std::printf("  %s\n", KXS_OraBackupRestore_PM_STRING(message.type));
      continue;
    }
    ++statuses;
    ExampleDetail("  %s %s phase %d\n", KXS_OraBackupRestore_PM_STRING(message.type),
                  SimScanEscape(message.fileName).c_str(), message.phase);
  }
  if (!ExampleConsole::Verbose())
    std::printf("  %s (each with --verbose)\n", Counted(statuses, "file status", "file statuses").c_str());
  if (statuses != files.size() || statsFiles != files.size() || statsFailed != 0)
    return FXErrorUtil::ErrorInt(FX_HERE, 1, "MISSING statuses: %zu files named, %zu statuses, %u failed",
                                   files.size(), statuses, statsFailed);
  std::printf("database file backup: %s verified under %s\n", Counted(files.size(), "file", "files").c_str(),
              archiveRoot.c_str());
  return CWqError::Success();
}
