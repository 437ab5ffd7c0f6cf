#include "Subclient.h"

#include "RecordGetters.h"

Subclient::Subclient(int32_t velliconId, int32_t appId)
    : m_iVelliconId(velliconId), m_iAppId(appId) {}
Subclient::~Subclient() {}

int Subclient::Read(const char* getter, const char* name, RecordValue* value) const {
  return RecordRegistry::Instance().SubclientValue(getter, m_iVelliconId, m_iAppId, name, value);
}

#define SUBCLIENT_GETTER(Method, Name, Kind, Type)                                  \
  int Subclient::Method(Type out, std::string* errorText) {                         \
    RecordValue value;                                                              \
    int rc = Read("Subclient::" #Method, Name, &value);                             \
    return RecordGetters::Kind(rc, value, out, errorText);                          \
  }

SUBCLIENT_GETTER(getSubclientId, "SubclientId", Integer, int32_t&)
SUBCLIENT_GETTER(getiSeriesSCCustomFlag, "iSeriesSCCustomFlag", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesSCContentSelection, "iSeriesSCContentSelection", Integer, uint64_t&)
SUBCLIENT_GETTER(isDefaultSubclient, "DefaultSubclient", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesBackupLibSAVFDTAFlag, "iSeriesBackupLibSAVFDTAFlag", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesBackupLibSPLFDTAFlag, "iSeriesBackupLibSPLFDTAFlag", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesBackupLibQDTAFlag, "iSeriesBackupLibQDTAFlag", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesBackupLibPVTAUTFlag, "iSeriesBackupLibPVTAUTFlag", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesBackupTargetRelease, "iSeriesBackupTargetRelease", String,
                 std::string&)
SUBCLIENT_GETTER(getiSeriesSaveActiveWaitTime, "iSeriesSaveActiveWaitTime", Integer, uint64_t&)
SUBCLIENT_GETTER(getiSeriesBackupSyncLibFlag, "iSeriesBackupSyncLibFlag", Boolean, bool&)
SUBCLIENT_GETTER(getiSeriesBackupSyncQueue, "iSeriesBackupSyncQueue", String, std::string&)
SUBCLIENT_GETTER(getiSeriesLibSyncCheckpoint, "iSeriesLibSyncCheckpoint", String, std::string&)
SUBCLIENT_GETTER(getNumberOfStreams, "NumberOfStreams", Integer, int&)
SUBCLIENT_GETTER(getIbmiCompression, "IbmiCompression", String, std::string&)
SUBCLIENT_GETTER(getLastBackupStartTime, "LastBackupStartTime", Integer, int&)
SUBCLIENT_GETTER(getSaveAccessPath, "SaveAccessPath", String, std::string&)
SUBCLIENT_GETTER(getUpdateHistory, "UpdateHistory", String, std::string&)
SUBCLIENT_GETTER(getIBMiSaveWhileActiveFlag, "IBMiSaveWhileActiveFlag", String, std::string&)
SUBCLIENT_GETTER(getIBMiDVDImageFileFormat, "IBMiDVDImageFileFormat", String, std::string&)
SUBCLIENT_GETTER(isDRSubclient, "DRSubclient", Boolean, bool&)
SUBCLIENT_GETTER(getDRDataPath, "DRDataPath", String, std::string&)
SUBCLIENT_GETTER(isScanlessBackup, "ScanlessBackup", Boolean, bool&)
SUBCLIENT_GETTER(getIBMiNotifyDelay, "IBMiNotifyDelay", Integer, int&)
SUBCLIENT_GETTER(getIBMiBackupMaxTime, "IBMiBackupMaxTime", Integer, int&)
SUBCLIENT_GETTER(getIBMiNotifyUser, "IBMiNotifyUser", Boolean, bool&)
SUBCLIENT_GETTER(getIBMiNotifyMessage, "IBMiNotifyMessage", String, std::string&)
SUBCLIENT_GETTER(getIBMiSaveConfObjects, "IBMiSaveConfObjects", Boolean, bool&)
SUBCLIENT_GETTER(getIBMiSaveSecurityData, "IBMiSaveSecurityData", Boolean, bool&)
SUBCLIENT_GETTER(getIBMiUserIPLProgram, "IBMiUserIPLProgram", String, std::string&)
SUBCLIENT_GETTER(getIBMiUserProgram, "IBMiUserProgram", String, std::string&)
SUBCLIENT_GETTER(getIBMiUserCommand, "IBMiUserCommand", String, std::string&)
SUBCLIENT_GETTER(getIBMiPrintSysInfo, "IBMiPrintSysInfo", Boolean, bool&)

#undef SUBCLIENT_GETTER

int Subclient::getIbmiDrBackupLibraryPaths(std::vector<std::string>& paths, std::string* errorText) {
  std::string text;
  RecordValue value;
  int rc = Read("Subclient::getIbmiDrBackupLibraryPaths", "IbmiDrBackupLibraryPaths", &value);
  rc = RecordGetters::String(rc, value, text, errorText);
  if (rc != KXR_SUCCESS) return rc;
  paths.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) paths.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return rc;
}
