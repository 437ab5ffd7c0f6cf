#include "ClientProperties.h"

#include "RecordGetters.h"

ClientProperties::ClientProperties(int32_t clientId) : m_iClientId(clientId) {}
ClientProperties::~ClientProperties() {}

int ClientProperties::getOpenVMSProxyClientId(int& id, std::string* errorText) {
  RecordValue value;
  int rc = RecordRegistry::Instance().ClientProperty("ClientProperties::getOpenVMSProxyClientId",
                                                     m_iClientId, "OpenVMSProxyClientId", &value);
  return RecordGetters::Integer(rc, value, id, errorText);
}
