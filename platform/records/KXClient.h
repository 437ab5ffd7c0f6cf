// KXClient: the configuration record of one client machine. The creator
// deletes it. Getters return 0 when they read the value and leave the
// out-value untouched otherwise; the optional last argument receives the
// failure's text. A record of an unknown client id answers every getter
// with KXR_NO_RECORD.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ClientProperties.h"

class KXClient {
 public:
  // The Vellicon id names the backup domain; this store holds one, so the
  // client id alone finds the record.
  KXClient(int32_t velliconId, int32_t clientId);
  // The client named `name`; getters answer KXR_NO_RECORD when none is.
  // The flag and number choose nothing in this store.
  KXClient(const std::string& name, bool create, int flags);
  ~KXClient();

  // Finds the client's record: 0, or KXR_NO_RECORD for an unknown client id.
  int lookup(std::string* errorText = nullptr);

  int getKXDPort(uint64_t& port, std::string* errorText = nullptr);
  int getClientId(uint64_t& clientId, std::string* errorText = nullptr);
  int getName(std::string& name, std::string* errorText = nullptr);
  int getOperatingSystemId(int& osId, std::string* errorText = nullptr);
  // "DisplayName" and "NetworkHostname": the name people see and the name
  // the client machine is reached by.
  int getDisplayName(std::string& name, std::string* errorText = nullptr);
  int getNetworkHostname(std::string& host, std::string* errorText = nullptr);
  // The network host name in the platform's encoded form,
  // "<NetworkHostname>*<name>" (ArMgrClientAPI.h); 0 on success.
  int getNetworkHostnameMangled(std::string& mangled, std::string* errorText = nullptr);

  // The client's properties, owned by this record; null when the client has
  // none (or the getter was made to fail).
  ClientProperties* getClientProperties(std::string* errorText = nullptr);

 private:
  int32_t m_iClientId;
  std::unique_ptr<ClientProperties> m_pProperties;
};
