// ClientProperties: the properties record of one client. Getters return 0
// when they read the value and leave the out-value untouched otherwise; the
// optional last argument receives the failure's text.
#pragma once

#include <cstdint>
#include <string>

class ClientProperties {
 public:
  explicit ClientProperties(int32_t clientId);
  ~ClientProperties();

  // Id of the proxy client that manages this client (the property has this
  // name for IBM i clients too).
  int getOpenVMSProxyClientId(int& id, std::string* errorText = nullptr);

 private:
  int32_t m_iClientId;
};
