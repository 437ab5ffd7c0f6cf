// ApplicationId: a subclient named by (Vellicon id, application id), and the
// way to its subclient record and its client's record. The records it gives
// stay owned by it (callers never delete them) and live as long as it does;
// null means failure, with the result in getLastError().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "KXClient.h"
#include "Subclient.h"

class ApplicationId {
 public:
  ApplicationId(int32_t velliconId, int32_t appId);
  ~ApplicationId();

  KXClient* getClient(std::string* errorText = nullptr);
  Subclient* getSubclient(std::string* errorText = nullptr);
  // The result of the last failed lookup; 0 when none failed.
  int getLastError() const { return m_iLastError; }

 private:
  int32_t m_iVelliconId;
  int32_t m_iAppId;
  int m_iLastError;
  std::unique_ptr<KXClient> m_pClient;
  std::unique_ptr<Subclient> m_pSubclient;
};
