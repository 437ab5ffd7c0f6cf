#include "KXClient.h"

#include "ArMgrClientAPI.h"
#include "RecordGetters.h"

KXClient::KXClient(int32_t velliconId, int32_t clientId) : m_iClientId(clientId) {}
KXClient::KXClient(const std::string& name, bool create, int flags)
    : m_iClientId(RecordRegistry::Instance().ClientIdForName(name)) {}
KXClient::~KXClient() {}

int KXClient::lookup(std::string* errorText) {
  RecordRegistry& registry = RecordRegistry::Instance();
  int rc = registry.GetterFailure("KXClient::lookup");
  if (rc == KXR_SUCCESS && !registry.HasClient(m_iClientId)) rc = KXR_NO_RECORD;
  return RecordGetters::Finish(rc, errorText);
}

int KXClient::getKXDPort(uint64_t& port, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientValue("KXClient::getKXDPort", m_iClientId, "KXDPort",
                                                  &value);
  return RecordGetters::Integer(rc, value, port, errorText);
}

int KXClient::getClientId(uint64_t& clientId, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientValue("KXClient::getClientId", m_iClientId,
                                                  "ClientId", &value);
  return RecordGetters::Integer(rc, value, clientId, errorText);
}

int KXClient::getName(std::string& name, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientValue("KXClient::getName", m_iClientId, "Name", &value);
  return RecordGetters::String(rc, value, name, errorText);
}

int KXClient::getOperatingSystemId(int& osId, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientValue("KXClient::getOperatingSystemId", m_iClientId,
                                                  "OperatingSystemId", &value);
  return RecordGetters::Integer(rc, value, osId, errorText);
}

int KXClient::getDisplayName(std::string& name, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientValue("KXClient::getDisplayName", m_iClientId, "DisplayName", &value);
  return RecordGetters::String(rc, value, name, errorText);
}

int KXClient::getNetworkHostname(std::string& host, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientValue("KXClient::getNetworkHostname", m_iClientId, "NetworkHostname",
                                                  &value);
  return RecordGetters::String(rc, value, host, errorText);
}

int KXClient::getNetworkHostnameMangled(std::string& mangled, std::string* errorText) {
  std::string host, name;
  int rc = getNetworkHostname(host, errorText);
  if (rc != 0) return rc;
  rc = getName(name, errorText);
  if (rc != 0) return rc;
  mangled = MangleHostName(host, name);
  return 0;
}

ClientProperties* KXClient::getClientProperties(std::string* errorText) {
  int rc = RecordRegistry::Instance().ClientHasProperties("KXClient::getClientProperties",
                                                          m_iClientId);
  if (RecordGetters::Finish(rc, errorText) != KXR_SUCCESS) return nullptr;
  if (!m_pProperties) m_pProperties.reset(new ClientProperties(m_iClientId));
  return m_pProperties.get();
}
