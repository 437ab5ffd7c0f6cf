// ClIBMDRBackupCleanMsg: asks the client daemon to remove the staging folder
// that an IBM i disaster-recovery backup left on the client.
//
// Payload: int32 Vellicon id, uint64 job id, int32 application id, string
// media location (the folder to remove; empty until set).
#pragma once

#include <cstdint>
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
