#include "ExampleJob.h"

#include <cerrno>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppMsgs.h"
#include "ClProxyTimeouts.h"
#include "ExampleFiles.h"
#include "FXErrorUtil.h"
#include "KXPassword.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "RecordsJsonLoader.h"
#include "SampleContent.h"

namespace ExampleJob {

const char kClientName[] = "ibmi1";
const char kProxyName[] = "proxy1";
const char kHost[] = "127.0.0.1";
const char kCentralServerName[] = "central01";

namespace {

using nlohmann::json;

const int kOsIbmI = 118;
// 2025-12-31 00:00:00 UTC: the subclient's last backup.
const int64_t kLastBackupTime = 1767139200;

// The central server's answer to the new-content request, as it sends it.
std::string NewContentAnswer() {
  App::GetModifiedFileListResp answer;
  *answer.getliststring(1, 1, 0, 0, true) = std::vector<std::string>{kSampleNewContent};
  std::string text;
  answer.serialize(text, false);
  return text;
}

// The restore options of the restore task: none set beyond their object.
const char kRestoreXmlOptions[] =
    "<CNMessage ns=\"12\" id=\"262\"><Field position=\"2\" type=\"objects\">"
    "<CNMessage ns=\"12\" id=\"311\"></CNMessage></Field></CNMessage>";

}  // namespace

const std::vector<std::string>& RestoreFilters() {
  static const std::vector<std::string> filters = {"/QSYS.LIB/PAYROLL.LIB/*", "/home/QSECOFR/*"};
  return filters;
}

std::string ClientPropertiesText() {
  // What the deployment manager reads of an IBM i client.
  json properties = {{"OpenVMSProxyClientId", kProxyClientId},
                     {"IBMiUserProfile", "KXUSER"},
                     {"IBMiUserPassword", KXPassword::encrypt("example")},
                     {"IBMiDataFolder", "/kxdata"},
                     {"SubsystemDesc", "KXLIB/KXSBS"},
                     {"CreateJobQueue", false},
                     {"JobQueue", "KXLIB/KXJOBQ"},
                     {"JobPriority", 5},
                     {"RunPriority", 20},
                     {"IsUpdateInstallBlocked", false}};
  return properties.dump();
}

std::string RecordsText(uint16_t daemonPort) {
  const std::string proxyInterface = std::string(kHost) + "*" + kProxyName;
  const std::string clientInterface = std::string(kHost) + "*" + kClientName;
  json records = {
      {"clients",
       {{{"clientId", kClientId},
         {"name", kClientName},
         {"osId", kOsIbmI},
         {"values", {{"KXDPort", daemonPort}, {"NetworkHostname", kHost}}},
         {"properties", json::parse(ClientPropertiesText())}},
        {{"clientId", kProxyClientId}, {"name", kProxyName}, {"osId", 0}}}},
      {"subclients",
       {{{"velliconId", kVelliconId},
         {"appId", kAppId},
         {"clientId", kClientId},
         {"values",
          {{"iSeriesSCCustomFlag", true},
           {"DefaultSubclient", false},
           {"NumberOfStreams", 2},
           {"IbmiCompression", "*LOW"},
           {"LastBackupStartTime", kLastBackupTime}}}}}},
      // The scan program calls back on the loopback interface only.
      {"dataInterfacePairs",
       {{{"clientName", kClientName}, {"pairs", {{{"first", clientInterface}, {"second", proxyInterface}}}}}}},
      {"modifiedFileList", {{"result", 0}, {"response", NewContentAnswer()}}},
      // Job log: option 2 (to a file), the file and the member. The backup
      // reads the task's XML options too (none set).
      {"tasks",
       {{{"jobId", kJobId},
         {"options", {{"0x1722ca9a", 2}, {"0x2a0686b9", "QGPL/JOBLOG"}, {"0x33729206", "SCAN1001"}}},
         {"xmlOptions", "<options/>"}},
        {{"jobId", kRestoreJobId}, {"xmlOptions", kRestoreXmlOptions}, {"filterPaths", RestoreFilters()}}}},
  };
  return records.dump(2) + "\n";
}

CWqError WriteAndLoadRecords(const std::string& path, uint16_t daemonPort) {
  CWqError result = WriteWholeFile(path, RecordsText(daemonPort));
  if (result.IsError()) {
    result.Push(FX_HERE, "Writing the records file");
    return result;
  }
  result = RecordsJsonLoader::LoadFile(path, RecordRegistry::Instance());
  if (result.IsError()) result.Push(FX_HERE, "Loading the records file");
  return result;
}

CWqError SeedSettings() {
  KXPlatformInfo settings;
  for (TimeOut_enum kind : {TIMEOUT_DAEMON_REPLY, TIMEOUT_PROCESS_STATUS, TIMEOUT_CLIENT_CONNECT,
                            TIMEOUT_JOB_START_REPLY}) {
    const char* name = getTimeOutName(kind);
    if (settings.setNumber(kTimeOutSettingsSection, name, kTimeoutSeconds) != 0)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot set %s/%s in the settings store [%s]",
                                     kTimeOutSettingsSection, name, KXPlatformInfo::RootDirectory().c_str());
  }
  // With a central server named, pending causes reach the job manager
  // rather than being raised as plain events.
  const std::string server = kCentralServerName;
  if (settings.setString("Zentraver", "sClientName", server.data(), server.size()) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot set Zentraver/sClientName in the settings store [%s]",
                                   KXPlatformInfo::RootDirectory().c_str());
  return CWqError::Success();
}

}  // namespace ExampleJob
