// The dr mode's VTL run: a whole VTL DR job against the simulated IBM i on a
// virtual clock. The plain driver's pre-scan measures the system; the VTL
// driver has the drive and volumes initialised (the client grants its own),
// runs the five steps to state 7, starts the index update and pulls the
// saved files one per call (each with its tape, a symlink, a failed file, the
// statistics); destroying the driver has the client clean up its drive.
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "App_ExecuteSP.h"
#include "CProxyFileSystemSendEvents.h"
#include "ClBasicMsgs.h"
#include "ClDRMsgs.h"
#include "ClEventMsg.h"
#include "ClFileStreamMsgs.h"
#include "ClProxyFileHeader.h"
#include "ClProxySerializer.h"
#include "EventJournal.h"
#include "ExampleDR.h"
#include "ExampleJob.h"
#include "FXClock.h"
#include "FXErrorUtil.h"
#include "JobResults.h"
#include "KXJobControl.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "ServiceClient.h"
#include "SimMediaManager.h"
#include "SimServiceDaemon.h"
#include "service/IBMiDRBackupManager.h"
#include "service/IBMiVTLDRBackupManager.h"

namespace {

const unsigned int kSystemSizeMB = 40960;

std::shared_ptr<ClProxyMsg> Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }

// A saved file as the client streams it: its header, then the tape.
std::shared_ptr<ClProxyMsg> SavedFile(const std::string& name, uint64_t mode, uint64_t size,
                                      const std::string& barcode) {
  ClProxyFileHeaderSerializer file;
  file.name = name;
  file.mode = mode;
  file.size = size;
  file.mtime = 1767225600;
  std::vector<uint8_t> bytes(file.getBufSize() + 4 + barcode.size());
  uint32_t used = 0;
  file.serialize(bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  ClProxySerializer::serialize(barcode, bytes.data(), static_cast<uint32_t>(bytes.size()), used);
  return std::make_shared<ClBlobMsg>(FILE_HEADER_MSG, ClBlobMsg::Copy, bytes.data(), used);
}

SimScript SavedSystem() {
  const std::string link = "/QSYS.LIB/PAYROLL.LIB/EMP.FILE";
  return SimScript()
      .Reply(SavedFile("/QSYS.LIB/PAYROLL.LIB", 040755, 0, "VOL001"))
      .Reply(Empty(GOOD_EOF_MSG))
      .Reply(SavedFile(link, 0100644, 1 << 20, "VOL001"))
      .Reply(Empty(GOOD_EOF_MSG))
      .Reply(std::make_shared<ClBlobMsg>(FILE_DATA_MSG, ClBlobMsg::Copy, link.data(),
                                         static_cast<uint32_t>(link.size())))
      .Reply(SavedFile("/home/payroll/employees", 0120777, 0, "VOL002"))
      .Reply(Empty(GOOD_EOF_MSG))
      .Reply(std::make_shared<ClFailedFileMsg>("/QSYS.LIB/QTEMP.LIB", 13, "object in use"))
      .Reply(SavedFile("/QSYS.LIB/HR.LIB", 040755, 0, "VOL002"))
      .Reply(Empty(GOOD_EOF_MSG))
      .Reply(std::make_shared<ClBackupStatsMsg>(4, 1, 1 << 20));
}

// Pulls the saved files until the stream ends.
CWqError IndexUpdate(IBMiVTLDRBackupManager& driver) {
  CXFileHeader header;
  for (;;) {
    int status = 0;
    std::string name;
    header.attributes = 0;
    CWqError result = driver.recvNextFileFromDR(status, name, header);
    if (result.IsError()) return result;
    if (status == 0) {
      const std::string symlink = driver.getSymlink();
      std::printf("  %s %s on tape %s%s%s\n", (header.mode & 0170000) == 040000 ? "folder" : "file", name.c_str(),
                  driver.getFileTapeBarCode().c_str(), symlink.empty() ? "" : " -> ", symlink.c_str());
    } else if (status == 8) {
      int error = 0;
      std::string failed, text;
      driver.getFileError(error, failed, text);
      std::printf("  failed file %s: errno %d (%s)\n", failed.c_str(), error, text.c_str());
    } else if (status == 7) {
      std::printf("  end of the stream: statistics received\n");
      return CWqError::Success();
    } else {
      std::printf("  the client's outfile processing failed\n");
      return FXErrorUtil::ErrorInt(FX_HERE, 1, "outfile processing failed on the client");
    }
  }
}

}  // namespace

CWqError RunVTLDR(const ExampleOptions& options) {
  ServiceClient client;
  CWqError result = client.Prepare(options);
  if (result.IsError()) return result;
  result = client.Start();
  if (result.IsError()) return result;
  SimServiceDaemon back;  // the client after its save, on the same port
  back.SetBindAddress("127.0.0.1", client.daemon().GetPort());

  FXScopedVirtualClock clock;
  const int64_t startMs = clock.clock().MonotonicMs();
  setenv("PROXY_RESULTS_ROOT", (client.outputDir() + "/results").c_str(), 1);
  const long long job = ExampleJob::kJobId;
  RecordRegistry& records = RecordRegistry::Instance();
  records.AddSubclient(ExampleJob::kVelliconId, ExampleJob::kAppId, ExampleJob::kClientId);
  records.SetSubclientValue(ExampleJob::kVelliconId, ExampleJob::kAppId, "DRDataPath", RecordValue(""));
  records.SetTaskXMLOptions(job, "<options/>");
  records.SetStoredProcedureReply(Tag_GetLibInfoForSubClientReq, 0, SimLibraryReply(true));
  KXPlatformInfo().setString("Zentraver", "sHostName", "central01", 9);
  KXJobControlScript::Instance().Reset();
  EventJournal::Instance().Reset();
  ISendEventInterface::SetInstance(
      boost::shared_ptr<ISendEventInterface>(new CProxyFileSystemSendEvents(job, nullptr)));
  JobResultsSwitches::Instance().SetSaveHook([&](int) {
    IBMiDRStateInterface saved(ExampleJob::kVelliconId, ExampleJob::kAppId, job);
    saved.restoreStatus();
    std::list<std::string> tapes;
    saved.getTapeList(tapes);
    std::string joined;
    for (const std::string& tape : tapes) joined += (joined.empty() ? "" : ",") + tape;
    std::printf("  t=%6.0f s  state saved: %d (%s) size %u MB tapes [%s]\n",
                (clock.clock().MonotonicMs() - startMs) / 1000.0, static_cast<int>(saved.getState()),
                saved.toString().c_str(), saved.getSystemBackupSize(), joined.c_str());
  });
  KXBkpJobClient jobClient;
  jobClient.init("central01", 0, job);
  KXJobCtrlClient control(job);

  // The pre-scan: the plain driver of a subclient with VTL and other libraries.
  auto size = std::make_shared<ClClientBackupSize>(ExampleJob::kVelliconId, ExampleJob::kAppId, job);
  size->setClientBackupSize(kSystemSizeMB);
  client.daemon().ScriptNext(CLIENT_BACKUP_SIZE_MSG, SimScript().Silent(100).Reply(size));
  {
    IBMiDRBackupManager prescan(&jobClient, &control, ExampleJob::kVelliconId, job, ExampleJob::kAppId, false);
    std::printf("pre-scan: configure and run\n");
    result = prescan.configure();
    if (!result.IsError()) result = prescan.run();
    if (result.IsError()) return result;
  }

  const std::list<std::string> asked = {"VOL001", "VOL002", "VOL003"};
  const std::list<std::string> granted = {"VOL001", "VOL002"};
  client.daemon().ScriptNext(
      INITIALIZE_TAPE_MLB_MODE_MSG,
      SimScript()
          .Reply(std::make_shared<ClEventMsg>(0x17000091, 0, 0, std::list<std::string>{"TAPMLB01", "varied on"}))
          .Reply(std::make_shared<ClInitializeTapeMLBMode>(ExampleJob::kVelliconId, ExampleJob::kAppId, job,
                                                          "TAPMLB01", granted)));
  client.daemon().ScriptNext(IBM_DR_BACKUP_JOB_MSG,
                             SimScript().Reply(DRStatusBlob("123456/QSECOFR/KXDRBKP", nullptr, nullptr)).Call([&](SimPeer&) {
                               clock.clock().At(clock.clock().MonotonicMs() + 30000, [&] { client.daemon().Stop(); });
                               clock.clock().At(clock.clock().MonotonicMs() + 5 * 60000, [&] { back.Start(); });
                               return CWqError::Success();
                             }));
  const uint32_t exitCode = 0;
  const std::string text = "Save completed";
  back.ScriptNext(DR_JOB_STATUS_MSG, SimScript().Reply(DRStatusBlob("KXDRBKP2", &exitCode, &text)));
  back.ScriptNext(PROCESS_OUTFILE_MSG, SavedSystem());
  back.ScriptNext(VTL_DR_CLEANUP_MSG, SimScript().Reply(Empty(SERVICE_CHECK_MSG)));
  {
    IBMiVTLDRBackupManager driver(&jobClient, &control, ExampleJob::kVelliconId, job, ExampleJob::kAppId, false);
    std::printf("VTL driver: configure\n");
    result = driver.configure();
    if (result.IsError()) return result;
    std::printf("system size from the pre-scan: %u MB\n", driver.systemBackupSize());
    std::printf("tape initialisation: asked drive (any) and volumes VOL001,VOL002,VOL003\n");
    result = driver.initializeTapeAndDrive(asked, "");
    if (result.IsError()) return result;
    std::printf("  granted drive %s, volumes [%s]\n",
                driver.connection()->configuration()->getDriveCode().c_str(),
                driver.connection()->getTapeList().c_str());
    std::printf("VTL driver: run\n");
    result = driver.run();
    if (result.IsError()) return result;
    std::printf("tape created: %s\n", driver.wasDRTapeCreated() ? "yes" : "no");
    std::printf("index update:\n");
    result = driver.startOutfileProcessing();
    if (!result.IsError()) result = IndexUpdate(driver);
    if (result.IsError()) return result;
    std::printf("the driver ends: drive cleanup on the client\n");
  }
  JobResultsSwitches::Instance().SetSaveHook(nullptr);
  size_t cleanups = 0;
  for (ClProxyMsgType type : back.GetRequests()) cleanups += type == VTL_DR_CLEANUP_MSG;
  std::printf("drive cleanup requests: %zu\n", cleanups);
  std::printf("events and pending causes:\n%s\n", EventJournal::Instance().FormatAll().c_str());
  ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
  back.Stop();
  return cleanups == 1 ? CWqError::Success()
                       : FXErrorUtil::ErrorInt(FX_HERE, 1, "expected one drive cleanup, saw %zu", cleanups);
}
