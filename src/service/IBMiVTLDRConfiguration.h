// IBMiVTLDRConfiguration: the DR configuration of a VTL DR job. Adds the
// tape volumes and the drive the save writes to (set by the tape and drive
// initialisation) and the VTL options of the start message.
#pragma once

#include <list>
#include <string>

#include "IBMiDRConfiguration.h"

class IBMiVTLDRConfiguration : public IBMiDRConfigurationInterface {
 public:
  IBMiVTLDRConfiguration(int velliconId, int appId, long long jobId, bool ipl)
      : IBMiDRConfigurationInterface(velliconId, appId, jobId, ipl) {}

  CWqError populateDRMessage(ClIBMDRBackupJobMsg& message) override;
  void setTapeListAndDevice(const std::list<std::string>& tapes, const std::string& drive) override {
    m_lstTapes = tapes;
    m_sDriveCode = drive;
  }
  std::string getDriveCode() const override { return m_sDriveCode; }
  // The volumes joined by ":".
  std::string getTapeList() const override;

 private:
  std::list<std::string> m_lstTapes;
  std::string m_sDriveCode;
};
