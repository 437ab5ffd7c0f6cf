// The IBM i disaster-recovery exchanges beside the start message: the
// staging cleanup, the system size query, the VTL tape initialisation, the
// outfile processing and the VTL drive cleanup.

// ClIBMDRBackupCleanMsg: asks the client daemon to remove the staging folder
// that an IBM i disaster-recovery backup left on the client.
//
// Payload: int32 Vellicon id, uint64 job id, int32 application id, string
// media location (the folder to remove; empty until set).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "ClProxyMsg.h"

class ClIBMDRBackupCleanMsg : public ClProxyMsg {
 public:
  ClIBMDRBackupCleanMsg(int32_t velliconId, uint64_t jobId, int32_t appId)
      : ClProxyMsg(IBM_DR_BACKUP_CLEAN_MSG),
        m_iVelliconId(velliconId),
        m_ullJobId(jobId),
        m_iAppId(appId) {}

  void setDRMediaLocation(const std::string& folder) { m_sMediaLocation = folder; }

  int32_t getVelliconId() const { return m_iVelliconId; }
  uint64_t getJobId() const { return m_ullJobId; }
  int32_t getAppId() const { return m_iAppId; }
  const std::string& getDRMediaLocation() const { return m_sMediaLocation; }

  static std::unique_ptr<ClIBMDRBackupCleanMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iVelliconId;
  uint64_t m_ullJobId;
  int32_t m_iAppId;
  std::string m_sMediaLocation;
};

// CLIENT_BACKUP_SIZE_MSG, both ways: the proxy asks how large the client's
// system save will be, naming the DR libraries as IFS paths; the client
// answers with the same class carrying the size in MB.
//
// Payload: int32 Vellicon id, int32 application id, uint64 job id, string
// list user libraries, uint32 size in MB (0 in a request).
class ClClientBackupSize : public ClProxyMsg {
 public:
  ClClientBackupSize(int velliconId, int appId, unsigned long jobId)
      : ClProxyMsg(CLIENT_BACKUP_SIZE_MSG), m_iVelliconId(velliconId), m_iAppId(appId), m_ullJobId(jobId) {}
  ~ClClientBackupSize() override {}

  void addUserLibrary(const std::string& path) { m_userLibraries.push_back(path); }
  void setClientBackupSize(uint32_t megabytes) { m_uSize = megabytes; }

  int32_t getVelliconId() const { return m_iVelliconId; }
  int32_t getAppId() const { return m_iAppId; }
  uint64_t getJobId() const { return m_ullJobId; }
  const std::list<std::string>& getUserLibraries() const { return m_userLibraries; }
  uint32_t getClientBackupSize() const { return m_uSize; }

  static std::unique_ptr<ClClientBackupSize> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iVelliconId;
  int32_t m_iAppId;
  uint64_t m_ullJobId;
  std::list<std::string> m_userLibraries;
  uint32_t m_uSize = 0;
};

// INITIALIZE_TAPE_MLB_MODE_MSG, both ways: the proxy hands the client the
// tape volumes and drive of a VTL DR job; the client answers with the same
// class naming the drive and volumes it will use.
//
// Payload: int32 Vellicon id, int32 application id, uint64 job id, string
// drive, string list tape volumes.
class ClInitializeTapeMLBMode : public ClProxyMsg {
 public:
  ClInitializeTapeMLBMode(int velliconId, int appId, unsigned long jobId, const std::string& drive,
                          const std::list<std::string>& tapes)
      : ClProxyMsg(INITIALIZE_TAPE_MLB_MODE_MSG),
        m_iVelliconId(velliconId),
        m_iAppId(appId),
        m_ullJobId(jobId),
        m_sDrive(drive),
        m_tapes(tapes) {}
  ~ClInitializeTapeMLBMode() override {}

  int32_t getVelliconId() const { return m_iVelliconId; }
  int32_t getAppId() const { return m_iAppId; }
  uint64_t getJobId() const { return m_ullJobId; }
  std::string getDriveCode() const { return m_sDrive; }
  const std::list<std::string>& getTapeList() const { return m_tapes; }

  static std::unique_ptr<ClInitializeTapeMLBMode> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iVelliconId;
  int32_t m_iAppId;
  uint64_t m_ullJobId;
  std::string m_sDrive;
  std::list<std::string> m_tapes;
};

// Asks the client to process the DR save's job-log outfile and stream back
// what the save wrote. The client sends no answer to the request itself.
//
// Payload: int32 Vellicon id, int32 application id, uint64 job id, string
// outfile name.
class ClProcessOutFileMsg : public ClProxyMsg {
 public:
  ClProcessOutFileMsg(int velliconId, int appId, unsigned long jobId, const std::string& outfileName)
      : ClProxyMsg(PROCESS_OUTFILE_MSG),
        m_iVelliconId(velliconId),
        m_iAppId(appId),
        m_ullJobId(jobId),
        m_sOutfileName(outfileName) {}
  ~ClProcessOutFileMsg() override {}

  int32_t getVelliconId() const { return m_iVelliconId; }
  int32_t getAppId() const { return m_iAppId; }
  uint64_t getJobId() const { return m_ullJobId; }
  const std::string& getOutfileName() const { return m_sOutfileName; }

  static std::unique_ptr<ClProcessOutFileMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iVelliconId;
  int32_t m_iAppId;
  uint64_t m_ullJobId;
  std::string m_sOutfileName;
};

// Asks the client to clean up what a VTL DR job set up on its tape drive;
// the client acknowledges with SERVICE_CHECK_MSG.
//
// Payload: int32 Vellicon id, int32 application id, uint64 job id, string
// drive, uint32 value.
class ClVTLDRCleanupMsg : public ClProxyMsg {
 public:
  ClVTLDRCleanupMsg(int velliconId, int appId, unsigned long jobId, const std::string& drive, unsigned int value)
      : ClProxyMsg(VTL_DR_CLEANUP_MSG),
        m_iVelliconId(velliconId),
        m_iAppId(appId),
        m_ullJobId(jobId),
        m_sDrive(drive),
        m_uValue(value) {}
  ~ClVTLDRCleanupMsg() override {}

  int32_t getVelliconId() const { return m_iVelliconId; }
  int32_t getAppId() const { return m_iAppId; }
  uint64_t getJobId() const { return m_ullJobId; }
  const std::string& getDrive() const { return m_sDrive; }
  uint32_t getValue() const { return m_uValue; }

  static std::unique_ptr<ClVTLDRCleanupMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  int32_t m_iVelliconId;
  int32_t m_iAppId;
  uint64_t m_ullJobId;
  std::string m_sDrive;
  uint32_t m_uValue;
};
