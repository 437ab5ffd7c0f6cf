#include "ClientProperties.h"

#include "RecordGetters.h"

ClientProperties::ClientProperties(int32_t clientId) : m_iClientId(clientId) {}
ClientProperties::~ClientProperties() {}

namespace {

int Read(int32_t clientId, const char* getter, const char* name, RecordValue& value) {
  return RecordRegistry::Instance().ClientProperty(getter, clientId, name, &value);
}

}  // namespace

#define PROPERTY_GETTER(method, name, kind, type)                                      \
  int ClientProperties::method(type& out, std::string* errorText) {                    \
    RecordValue value;                                                                 \
    int rc = Read(m_iClientId, "ClientProperties::" #method, name, value);             \
    return RecordGetters::kind(rc, value, out, errorText);                             \
  }

PROPERTY_GETTER(getOpenVMSProxyClientId, "OpenVMSProxyClientId", Integer, int)
PROPERTY_GETTER(getOpenVMSUserName, "OpenVMSUserName", String, std::string)
PROPERTY_GETTER(getOpenVMSUserPassword, "OpenVMSUserPassword", String, std::string)
PROPERTY_GETTER(getBaseInstallFolder, "BaseInstallFolder", String, std::string)
PROPERTY_GETTER(getIBMiUserProfile, "IBMiUserProfile", String, std::string)
PROPERTY_GETTER(getIBMiUserPassword, "IBMiUserPassword", String, std::string)
PROPERTY_GETTER(getIBMiDataFolder, "IBMiDataFolder", String, std::string)
PROPERTY_GETTER(getSubsystemDesc, "SubsystemDesc", String, std::string)
PROPERTY_GETTER(getCreateJobQueue, "CreateJobQueue", Boolean, bool)
PROPERTY_GETTER(getJobQueue, "JobQueue", String, std::string)
PROPERTY_GETTER(getJobPriority, "JobPriority", Integer, int)
PROPERTY_GETTER(getRunPriority, "RunPriority", Integer, int)
PROPERTY_GETTER(getIsUpdateInstallBlocked, "IsUpdateInstallBlocked", Boolean, bool)

#undef PROPERTY_GETTER

int ClientProperties::setProperty(const ApplProperty& property, void*, void*) {
  RecordRegistry& registry = RecordRegistry::Instance();
  int rc = registry.GetterFailure("ClientProperties::setProperty");
  if (rc != KXR_SUCCESS) return rc;
  return registry.SetClientProperty(m_iClientId, property.getName(), RecordValue(property.getValue()))
             ? KXR_SUCCESS
             : KXR_NO_RECORD;
}
