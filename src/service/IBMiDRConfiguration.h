// IBMiDRConfigurationInterface: what one IBM i DR job needs from the
// configuration records: the client's host name, daemon port and id, the DR
// media directory and the subclient's DR options, the IPL choice and the
// suspend choice (task option, read only with IPL). It checks the media
// directory, turns the DR libraries and the IPL program into IBM i names, and
// fills the start message (populateDRMessage, IBMiDRStartMessage.cpp).
//
// Order: construct, configure once, then the getters and checks. Used on the
// host's thread only.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CWqError.h"
#include "KXJobTypes.h"

class ApplicationId;
class Subclient;
class KXBkpJobClient;
class ClIBMDRBackupJobMsg;

const uint32_t EV_DR_MEDIA_PATH_IN_QSYS = 0x1700007d;
const uint32_t EV_DR_MEDIA_PATH_AT_ROOT = 0x1700007e;
const uint32_t kSuspendJobTaskOption = 0x6057ad0b;
const int32_t DR_ERROR_GENERAL = 99;
const int32_t DR_ERROR_RETRY_LATER = 100;

class IBMiDRConfigurationInterface {
 public:
  IBMiDRConfigurationInterface(int velliconId, int appId, long long jobId, bool ipl);
  virtual ~IBMiDRConfigurationInterface();
  IBMiDRConfigurationInterface(const IBMiDRConfigurationInterface&) = delete;
  IBMiDRConfigurationInterface& operator=(const IBMiDRConfigurationInterface&) = delete;

  // Reads the records; EINVAL, ENOMEM or EFAULT with the failing read's text.
  virtual CWqError configure();
  virtual CWqError populateDRMessage(ClIBMDRBackupJobMsg& message);
  virtual void setTapeListAndDevice(const std::list<std::string>& tapes, const std::string& drive) {}
  virtual std::string getDriveCode() const { return std::string(); }
  virtual std::string getTapeList() const { return std::string(); }

  bool isConfigured() const { return m_pSubclient != nullptr; }
  std::string getClientName() const { return m_sClientName; }
  int getClientPort() const { return m_iClientPort; }
  uint64_t getClientID() const { return m_ulClientId; }
  int getDelayBeforeShutDown() const { return m_iDelayBeforeShutDown; }
  int getMaxJobDuration() const { return m_iMaxJobDuration; }
  bool shouldSuspendJob() const { return m_bSuspendJob; }
  bool isIPL() const { return m_bIPL; }
  long long getJobId() const { return m_llJobId; }
  int getAppId() const { return m_iAppId; }
  int getVelliconId() const { return m_iVelliconId; }

  // The DR media directory, read again from the subclient while empty.
  std::string getDRMediaPath();
  // Refuses a directory inside "/QSYS.LIB/" (0x1700007d) and one that is the
  // root, directly under it, relative or holding ".." (0x1700007e), raising
  // the job's pending cause; EINVAL "DR directory '%s' can't be used". The
  // checked (normalised) path becomes the one sent and recorded. An empty
  // path passes (a VTL job stages nothing).
  CWqError validateDRParameters(KXBkpJobClient* jobClient);
  int getIbmiDrBackupLibraryPaths(std::vector<std::string>& paths);
  // IBM i library names joined by ":"; plain integer 99 for a path that is
  // not "/QSYS.LIB/<library>".
  CWqError getAdditionalLibraryList(std::string& libraries);
  void getNotifyUserMessage(std::string& message, bool& notify);
  // The job-log outfile a VTL DR save writes and the index update reads:
  // the task's outfile when "Log_Output_Option" is 2 and the outfile option
  // reads, else "KXLIBOBJ/DRLOG". The start message and the outfile request
  // both take it from here, so they always name the same file.
  static std::string DRLogOutfile(long long jobId);

 protected:
  Subclient* subclient() const { return m_pSubclient; }

  std::unique_ptr<ApplicationId> m_pApplicationId;
  bool m_bIPL;
  bool m_bSuspendJob;
  int32_t m_iDelayBeforeShutDown;
  int32_t m_iMaxJobDuration;
  std::string m_sClientName;
  std::string m_sDRMediaPath;
  int32_t m_iClientPort;
  uint64_t m_ulClientId;
  long long m_llJobId;
  int32_t m_iAppId;
  int32_t m_iVelliconId;
  Subclient* m_pSubclient;
};

namespace KXDRHelperFunctions {
// An IFS program path (/QSYS.LIB/LIB.LIB/PGM.PGM) as LIB/PGM, in place; a
// path without ".LIB" (any case) or without library and program stays.
void StripExtensions(std::string& path);
// "name:value " for each option of the message, in name order.
std::string messageOptions(const ClIBMDRBackupJobMsg& message);
// Drops repeated "/" and "." components; keeps ".." for the caller to refuse.
std::string NormalisePath(const std::string& path);
}  // namespace KXDRHelperFunctions
