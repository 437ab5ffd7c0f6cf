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

#undef SUBCLIENT_GETTER
