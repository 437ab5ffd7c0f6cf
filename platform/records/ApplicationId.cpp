#include "ApplicationId.h"

#include "RecordGetters.h"

ApplicationId::ApplicationId(int32_t velliconId, int32_t appId)
    : m_iVelliconId(velliconId), m_iAppId(appId), m_iLastError(KXR_SUCCESS) {}
ApplicationId::~ApplicationId() {}

KXClient* ApplicationId::getClient(std::string* errorText) {
  int32_t clientId = 0;
  RecordRegistry& registry = RecordRegistry::Instance();
  int rc = registry.SubclientClient("ApplicationId::getClient", m_iVelliconId, m_iAppId, &clientId);
  // A subclient whose client has no record gives no client either.
  if (rc == KXR_SUCCESS && !registry.HasClient(clientId)) rc = KXR_NO_RECORD;
  if (rc != KXR_SUCCESS) {
    m_iLastError = RecordGetters::Finish(rc, errorText);
    return nullptr;
  }
  if (!m_pClient) m_pClient.reset(new KXClient(m_iVelliconId, clientId));
  return m_pClient.get();
}

Subclient* ApplicationId::getSubclient(std::string* errorText) {
  int32_t clientId = 0;
  int rc = RecordRegistry::Instance().SubclientClient("ApplicationId::getSubclient",
                                                      m_iVelliconId, m_iAppId, &clientId);
  if (rc != KXR_SUCCESS) {
    m_iLastError = RecordGetters::Finish(rc, errorText);
    return nullptr;
  }
  if (!m_pSubclient) m_pSubclient.reset(new Subclient(m_iVelliconId, m_iAppId));
  return m_pSubclient.get();
}
