// The scan mode of the example host: one whole job with no configuration.
// It starts the simulated client daemon on 127.0.0.1 over a folder that
// stands for an IBM i client's content, seeds a temporary settings store and
// the job's records file, drives the scan phase through its road, backs up
// what the scan listed, sends the list of backed-up files to the
// post-operations program, verifies the archive against the content byte
// for byte, restores the archive into a fresh folder through the restore
// phase and compares that folder with the content byte for byte, and ends
// with one command run on the client. It prints each step, the events and
// pending causes raised, and the files written.
#include <cstdio>
#include <cstdlib>
#include <list>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include "BackupRoad.h"
#include "DBBackupRoad.h"
#include "DedupeRoad.h"
#include "CProxyFileSystemSendEvents.h"
#include "EventJournal.h"
#include "ExampleClientCommand.h"
#include "ExampleConsole.h"
#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "ExampleModes.h"
#include "ExampleDeployment.h"
#include "ExampleSoftwareCheck.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "ISendEventInterface.h"
#include "RecordRegistry.h"
#include "RestoreRoad.h"
#include "ScanRoad.h"
#include "SimClientDaemon.h"
#include "SampleContent.h"
#include "SimBackupProgram.h"
#include "SimPostOpsProgram.h"
#include "SimRestoreProgram.h"
#include "SimScanProgram.h"

namespace {

const char kRecordsName[] = "job-records.json";

// The content folder and the entries to scan in it; a sample made for the
// run is removed by `removal`.
CWqError PrepareContent(const ExampleOptions& options, ScopedTreeRemoval& removal, std::string& contentDir,
                        std::list<std::string>& entries) {
  if (!options.contentDir.empty()) {
    CWqError result = AbsoluteFolder(options.contentDir, contentDir);
    if (result.IsError()) return result;
    entries = {"/"};
    std::printf("content: %s stands for the client's \"/\"\n", contentDir.c_str());
    return result;
  }
  CWqError result = MakeTempFolder("proxy-example-content-", contentDir);
  if (result.IsError()) return result;
  removal.Reset(contentDir);
  result = MakeSampleContent(contentDir);
  if (result.IsError()) return result;
  entries = SampleContentEntries();
  std::printf("content: sample IBM i tree made in %s (removed at exit); %s is left out of it on purpose\n",
              contentDir.c_str(), kSampleMissingEntry);
  return result;
}

// What the scan listed in the directory-change file: its items and their bytes.
void CountListed(const std::string& path, uint64_t& items, uint64_t& bytes) {
  items = bytes = 0;
  std::string text;
  if (ReadWholeFile(path, text).IsError()) return;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    ++items;
    const size_t tab = line.find('\t');
    if (line[0] == 'F' && tab != std::string::npos) bytes += std::strtoull(line.c_str() + tab + 1, nullptr, 10);
  }
}

// The phases after the scan: the backup of what it listed, the
// post-operations, the comparison of the archive with the content, and the
// restore of the archive into `restoreDir` compared with the content.
CWqError RunBackupAndVerify(SimClientDaemon& daemon, const SimPostOpsProgram& postOps, const std::string& contentDir,
                            const std::string& outputDir, const std::string& restoreDir) {
  std::printf("\n-- backup of what the scan listed --\n");
  BackupOutcome outcome;
  ExampleStage backup("backup");
  CWqError result = backup.Check(RunBackupRoad(daemon, outputDir + "/dirChange.txt", outputDir, outcome));
  if (result.IsError()) return result;
  const uint64_t items = outcome.files.size() + outcome.folders.size();
  backup.Done(items, outcome.bytes);

  std::printf("\n-- post-operations --\n");
  ExampleStage postOperations("post-operations");
  result = postOperations.Check(RunPostOpsRoad(daemon, outputDir));
  if (result.IsError()) return result;
  // Programs in launch order: scan, backup, post-operations.
  for (size_t program = 1; program <= 2; ++program) {
    if (!daemon.WaitForProgram(program, static_cast<int>(ExampleJob::kTimeoutSeconds)))
      return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The simulated client program %zu did not end", program);
    const SimConnectionRecord record = daemon.GetProgramRecord(program);
    if (record.failure.IsError()) {
      CWqError error = record.failure;
      error.Push(FX_HERE, "The simulated client program %zu failed", program);
      return error;
    }
  }
  FileGlance list;
  GlanceAtFile(outputDir + "/BackedUpFiles.kxf", 0, list);
  postOperations.Done(items, list.bytes);

  std::printf("\n-- verification --\n");
  ExampleStage backupCheck("backup check");
  result = backupCheck.Check(VerifyBackup(contentDir, outputDir, outcome, postOps));
  if (result.IsError()) return result;
  backupCheck.Done(items, outcome.bytes);

  std::printf("\n-- restore of the archive into %s --\n", restoreDir.c_str());
  RestoreOutcome restored;
  ExampleStage restore("restore");
  result = restore.Check(RunRestoreRoad(daemon, outputDir, restored));
  if (result.IsError()) return result;
  restore.Done(restored.items.size(), restored.bytes);

  std::printf("\n-- restore verification --\n");
  ExampleStage restoreCheck("restore check");
  result = restoreCheck.Check(VerifyRestore(contentDir, restoreDir, restored));
  if (result.IsError()) return result;
  restoreCheck.Done(restored.items.size(), restored.bytes);

  std::printf("\n-- database file backup --\n");
  ExampleStage database("database backup");
  result = database.Check(RunDBBackupRoad(contentDir, outputDir));
  if (result.IsError()) return result;
  uint64_t files = 0, bytes = 0;
  CountTree(outputDir + "/archive/db", files, bytes);
  database.Done(files, bytes);
  return result;
}

void PrintJournal() {
  const std::string journal = EventJournal::Instance().FormatAll();
  std::printf("events and pending causes raised: %s\n", journal.empty() ? "none" : "");
  if (!journal.empty()) std::printf("%s", journal.c_str());
}

// The --dedupe run: the backup of the whole content through pre-pipeline
// deduplication, then the archive file read back.
CWqError RunDedupeAndVerify(SimClientDaemon& daemon, const std::string& contentDir, const std::string& outputDir) {
  std::printf("\n-- backup through pre-pipeline deduplication --\n");
  DedupeOutcome outcome;
  ExampleStage backup("dedupe backup");
  CWqError result = backup.Check(RunDedupeRoad(daemon, outputDir, 1, outcome));
  if (result.IsError()) return result;
  if (!daemon.WaitForProgram(0, static_cast<int>(ExampleJob::kTimeoutSeconds)))
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "The simulated backup program did not end");
  const SimConnectionRecord record = daemon.GetProgramRecord(0);
  if (record.failure.IsError()) {
    CWqError error = record.failure;
    error.Push(FX_HERE, "The simulated backup program failed");
    return error;
  }
  uint64_t files = 0, bytes = 0;
  CountTree(outputDir + "/archive", files, bytes);
  backup.Done(files, bytes);
  std::printf("\n-- verification --\n");
  ExampleStage check("dedupe check");
  result = check.Check(VerifyDedupeArchive(contentDir, outcome));
  if (!result.IsError()) check.Done(files, bytes);
  return result;
}

// Everything from the settings store to the journal. The objects it makes go
// in reverse order: the daemon stops before the rest goes.
CWqError RunJob(const ExampleOptions& options) {
  const std::string& outputDir = options.outputDir;
  ExampleSettingsStore settingsRoot;
  if (settingsRoot.path().empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "No temporary settings store could be made");
  std::printf("settings: temporary store %s (removed at exit)\n", settingsRoot.path().c_str());
  CWqError result = ExampleJob::SeedSettings();
  if (result.IsError()) return result;
  ExampleSoftwareCheck softwareCheck;
  result = softwareCheck.Prepare();
  if (result.IsError()) return result;
  std::unique_ptr<ExampleDeployment> deployment;
  if (options.deploy) {
    deployment.reset(new ExampleDeployment(options.clientOs == "openvms"));
    result = deployment->Prepare();
    if (result.IsError()) return result;
  }

  ScopedTreeRemoval contentRemoval;
  std::string contentDir;
  std::list<std::string> entries;
  result = PrepareContent(options, contentRemoval, contentDir, entries);
  if (result.IsError()) return result;
  std::string restoreDir;
  ScopedTreeRemoval restoreRemoval;
  if (!options.dedupe) {
    result = PrepareRestoreFolder(options.restoreTo, restoreDir);
    if (result.IsError()) return result;
    // A folder the run made is kept at the end, but goes on Ctrl-C.
    if (options.restoreTo.empty()) {
      restoreRemoval.Reset(restoreDir);
      restoreRemoval.KeepAtEnd();
    }
    ExampleConsole::NoteKept(restoreDir, "the restored files");
  }

  EventJournal::Instance().Reset();
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>(
      new CProxyFileSystemSendEvents(static_cast<long long>(ExampleJob::kJobId), nullptr)));

  {
    SimClientDaemon daemon;
    daemon.SetProgram(SimScanProgram::kCommand, SimScanProgram::Unscripted(contentDir));
    daemon.SetProgram(SimBackupProgram::kCommand, options.dedupe ? SimBackupProgram::Prepipeline(contentDir)
                                                                 : SimBackupProgram::Unscripted(contentDir));
    std::shared_ptr<SimPostOpsProgram> postOps = SimPostOpsProgram::Create();
    daemon.SetProgram("PST.EXE", postOps->Script());
    if (!restoreDir.empty()) daemon.SetProgram(SimRestoreProgram::kCommand, SimRestoreProgram::Files(restoreDir));
    if (deployment)
      deployment->Attach(daemon);
    else
      softwareCheck.Configure(daemon);
    // Under --deploy the daemon refuses connections until the client
    // software that the first connect installs starts it.
    result = deployment ? daemon.Reserve() : daemon.Start();
    if (result.IsError()) {
      result.Push(FX_HERE, "Starting the simulated client daemon");
    } else {
      std::printf("client daemon: simulated daemon of %s on %s:%u, its %s scans %s\n", ExampleJob::kClientName,
                  ExampleJob::kHost, static_cast<unsigned>(daemon.GetPort()), SimScanProgram::kCommand,
                  contentDir.c_str());
      const std::string recordsPath = outputDir + "/" + kRecordsName;
      result = ExampleJob::WriteAndLoadRecords(recordsPath, daemon.GetPort());
      if (!result.IsError() && deployment) result = deployment->PatchRecords();
      if (!result.IsError()) {
        std::printf("records: %s written and loaded\n", recordsPath.c_str());
        if (options.dedupe) {
          result = RunDedupeAndVerify(daemon, contentDir, outputDir);
        } else {
          ExampleStage scan("scan");
          result = scan.Check(RunScanRoad(daemon, entries, outputDir));
          if (!result.IsError()) {
            uint64_t items = 0, bytes = 0;
            CountListed(outputDir + "/dirChange.txt", items, bytes);
            scan.Done(items, bytes);
            result = RunBackupAndVerify(daemon, *postOps, contentDir, outputDir, restoreDir);
          }
        }
      }
      if (deployment) {
        deployment->Report();
      } else if (!softwareCheck.Report(daemon) && !result.IsError()) {
        result = FXErrorUtil::ErrorInt(FX_HERE, 1, "The software check did not find the client software current");
      }
    }
    daemon.Stop();
  }
  if (!result.IsError() && !options.dedupe) {
    ExampleStage command("client command");
    result = command.Check(RunClientCommand());
    if (!result.IsError()) command.Done(1, 0, false);
  }
  if (!result.IsError() && deployment && options.uninstall) {
    ExampleStage uninstall("uninstall");
    result = uninstall.Check(deployment->Uninstall());
    if (!result.IsError()) uninstall.Done(1, 0, false);
  }

  PrintJournal();
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  RecordRegistry::Instance().Reset();
  return result;
}

void AddScanOptions(CLI::App& command, ExampleOptions& options) {
  command
      .add_option("--content", options.contentDir,
                  "An existing folder that stands for the client's file system; the whole of it (\"/\") is "
                  "scanned. Default: a small sample tree made for the run and removed afterwards.")
      ->type_name("DIR")
      ->check(NonEmptyValue())
      ->check(ExistingFolder());
  CLI::Option* restoreTo =
      command
          .add_option("--restore-to", options.restoreTo,
                      "A new or empty folder (made when missing) that the restore after the backup writes into. "
                      "Default: a new folder under $TMPDIR, printed and kept.")
          ->type_name("DIR")
          ->check(NonEmptyValue())
          ->check(NewOrEmptyFolder());
  command
      .add_flag("--dedupe", options.dedupe,
                "Only the backup, through pre-pipeline deduplication: the new blocks and their signature tags go "
                "into archive/pipeline.dat, which is then read back and checked against the content.")
      ->excludes(restoreTo);
  CLI::Option* deploy = command.add_flag(
      "--deploy", options.deploy,
      "Start from a client machine without the client software: the first connect installs it over ssh through a "
      "real sshd on loopback (root needed: a throwaway user is added and removed), then the job runs on.");
  command
      .add_option("--client-os", options.clientOs, "With --deploy: the machine, ibmi (default) or openvms.")
      ->type_name("OS")
      ->check(CLI::IsMember({"ibmi", "openvms"}).description(""))
      ->needs(deploy);
  command
      .add_flag("--uninstall", options.uninstall,
                "With --deploy: after the job, remove the client software over ssh and show what is left.")
      ->needs(deploy);
}

int RunScan(const ExampleOptions& options) {
  CWqError result = RunJob(options);
  if (result.IsError()) {
    ReportFailure(result, "job");
    return 1;
  }
  if (options.dedupe)
    std::printf("example_host: the dedupe backup completed (verified); its files are in %s\n",
                options.outputDir.c_str());
  else
    std::printf("example_host: the job completed (scan, backup, post-operations, restore; verified); its files are "
                "in %s\n",
                options.outputDir.c_str());
  return 0;
}

}  // namespace

ExampleMode ScanMode() {
  return ExampleMode{"scan",
                     "One whole job against a simulated IBM i client: scan, backup, post-operations, restore, "
                     "database backup, a client command; verified.",
                     AddScanOptions, RunScan, true};
}
