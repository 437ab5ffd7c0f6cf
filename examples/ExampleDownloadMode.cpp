// The download mode of the example host: a simulated IBM i client's log
// files and its directory-change file fetched to the proxy host through the
// client's service instance, each file written printed with its size.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "ExampleModes.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "ServiceClient.h"
#include "service/ProxyServices.h"

namespace {

// What the simulated client holds: two logs and a directory-change file.
CWqError MakeClientFiles(const std::string& root) {
  CWqError result = MakeFolders(root + "/logs");
  if (!result.IsError()) result = WriteWholeFile(root + "/logs/agent.log", "agent started\nscan of job 1001 done\n");
  if (!result.IsError()) result = WriteWholeFile(root + "/logs/backup.log", std::string(100000, 'b') + "\n");
  if (!result.IsError())
    result = WriteWholeFile(root + "/DCTmp", "D\t0\t1767225600\t/QSYS.LIB/PAYROLL.LIB\nF\t71\t1767225600\t/QSYS.LIB/"
                                             "PAYROLL.LIB/EMPLOYEE.FILE/EMPLOYEE.MBR\n");
  return result;
}

void PrintFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) std::printf("  %s (%lld bytes)\n", path.c_str(), static_cast<long long>(st.st_size));
  else std::printf("  %s MISSING\n", path.c_str());
}

CWqError RunDownloadJob(const ExampleOptions& options) {
  ServiceClient client;
  CWqError result = client.Prepare(options);
  const std::string clientFiles = client.outputDir() + "/client-files";
  if (!result.IsError()) result = MakeClientFiles(clientFiles);
  client.daemon().SetLogFolder(clientFiles + "/logs");
  client.daemon().SetDirChangeFile(clientFiles + "/DCTmp");
  if (!result.IsError()) result = client.Start();
  if (result.IsError()) return result;
  ProxyServicesPtr handle = ProxyServices::instanceForClient(ExampleJob::kClientId);
  if (!handle) return FXErrorUtil::ErrorErrNo(FX_HERE, ECONNREFUSED, "No service instance (see the log)");

  const std::string logs = client.outputDir() + "/downloaded/logs";
  result = handle->downloadLogFiles(logs, 1);
  if (result.IsError()) return result;
  std::printf("downloadLogFiles: the client's logs written into %s:\n", logs.c_str());
  PrintFile(logs + "/agent.log");
  PrintFile(logs + "/backup.log");
  const std::string dirChange = client.outputDir() + "/downloaded/dirChange.txt";
  result = handle->downloadDirChangeFile(dirChange, ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kJobId);
  if (result.IsError()) return result;
  std::printf("downloadDirChangeFile: the client's DCTmp written:\n");
  PrintFile(dirChange);
  return CWqError::Success();
}

void AddDownloadOptions(CLI::App&, ExampleOptions&) {}

int RunDownload(const ExampleOptions& options) {
  ExampleStage stage("download");
  CWqError result = stage.Check(RunDownloadJob(options));
  if (!result.IsError()) {
    uint64_t files = 0, bytes = 0;
    CountTree(options.outputDir + "/downloaded", files, bytes);
    stage.Done(files, bytes);
  }
  return ReportModeResult(result, "download");
}

}  // namespace

ExampleMode DownloadMode() {
  return ExampleMode{"download", "Fetch a simulated IBM i client's logs and directory-change file.", AddDownloadOptions,
                     RunDownload, true};
}
