// ClientProperties: the properties record of one client. Getters return 0
// when they read the value and leave the out-value untouched otherwise; the
// optional last argument receives the failure's text. Values are kept by the
// getter's name without "get" (or "is"), e.g. "OpenVMSUserName",
// "IsUpdateInstallBlocked"; the JSON records loader fills them.
//
// setProperty writes one property (by its name) into the records and returns
// 0, KXR_NO_RECORD for an unknown client, or the failure set with
// RecordRegistry::FailGetter("ClientProperties::setProperty", n).
#pragma once

#include <cstdint>
#include <string>

#include "ApplProperty.h"

class ClientProperties {
 public:
  explicit ClientProperties(int32_t clientId);
  ~ClientProperties();

  // Id of the proxy client that manages this client (the property has this
  // name for IBM i clients too).
  int getOpenVMSProxyClientId(int& id, std::string* errorText = nullptr);

  // OpenVMS credentials and install folder.
  int getOpenVMSUserName(std::string& user, std::string* errorText = nullptr);
  // The stored (enciphered) password, for KXPassword::decrypt.
  int getOpenVMSUserPassword(std::string& password, std::string* errorText = nullptr);
  int getBaseInstallFolder(std::string& folder, std::string* errorText = nullptr);

  // IBM i credentials, data folder and daemon job settings.
  int getIBMiUserProfile(std::string& profile, std::string* errorText = nullptr);
  int getIBMiUserPassword(std::string& password, std::string* errorText = nullptr);
  int getIBMiDataFolder(std::string& folder, std::string* errorText = nullptr);
  int getSubsystemDesc(std::string& description, std::string* errorText = nullptr);
  int getCreateJobQueue(bool& create, std::string* errorText = nullptr);
  int getJobQueue(std::string& queue, std::string* errorText = nullptr);
  int getJobPriority(int& priority, std::string* errorText = nullptr);
  int getRunPriority(int& priority, std::string* errorText = nullptr);

  int getIsUpdateInstallBlocked(bool& blocked, std::string* errorText = nullptr);

  int setProperty(const ApplProperty& property, void* reserved1, void* reserved2);

 private:
  int32_t m_iClientId;
};
