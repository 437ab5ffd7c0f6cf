// RecordRegistry: the process-wide, in-memory stand-in for the central
// server's configuration records, task options and XML requests.
//
// A test (or the example host, through RecordsJsonLoader) fills it; the
// record classes (ApplicationId, KXClient, ClientProperties, Subclient,
// EvTask, ArMgrClientAPI, App_ExecuteSP, ClientApplicationList) read it at
// each call. Any getter can be made to fail: FailGetter("KXClient::getName",
// 5) makes every later KXClient::getName return 5, whatever the records hold.
// Getter names are "<Class>::<method>" as the classes spell them.
//
// Values are kept by the getter's name without "get" (or "is"): a client's
// "Name", "OperatingSystemId", "KXDPort", "ClientId"; its properties'
// "OpenVMSProxyClientId"; a subclient's "SubclientId", "iSeriesSCCustomFlag",
// "iSeriesSCContentSelection", "DefaultSubclient", "NumberOfStreams", ...
// A value that is absent (or of another type) makes its getter return
// KXR_NO_VALUE and leave the out-value untouched.
//
// Thread-safe; Reset() empties it (every test that fills it starts with one).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ArMgrClientAPI.h"
#include "RecordValue.h"

// Results of the record getters (0 = read).
enum KXRecordResult {
  KXR_SUCCESS = 0,
  KXR_NO_RECORD = 2,      // no such client, application or task
  KXR_NO_VALUE = 3,       // the record holds no such value
  KXR_NOT_CONFIGURED = 4, // no reply configured for a request
};

// Text for a getter's result, as log lines show it.
std::string KXRecordResultText(int result);

class RecordRegistry {
 public:
  RecordRegistry();
  ~RecordRegistry();

  static RecordRegistry& Instance();

  void Reset();
  // Takes a copy of everything `other` holds (the loader fills a fresh
  // registry and then replaces the process-wide one's content in one step).
  void ReplaceWith(const RecordRegistry& other);

  // Clients. AddClient replaces a client of that id and sets its "ClientId",
  // "Name" and "OperatingSystemId"; it has a properties record, empty.
  void AddClient(int32_t clientId, const std::string& name, int32_t osId);
  // False when no client has that id.
  bool SetClientValue(int32_t clientId, const std::string& name, const RecordValue& value);
  bool SetClientProperty(int32_t clientId, const std::string& name, const RecordValue& value);
  bool HasClient(int32_t clientId) const;
  // The id of the client whose "Name" is `name` (case as given); -1 when
  // no client has it.
  int32_t ClientIdForName(const std::string& name) const;
  // A client without properties: getClientProperties gives null.
  bool SetClientHasProperties(int32_t clientId, bool hasProperties);

  // Subclients (applications): (Vellicon id, application id) names one
  // subclient of a client. AddSubclient replaces one and sets its
  // "SubclientId" to the application id.
  void AddSubclient(int32_t velliconId, int32_t appId, int32_t clientId);
  bool SetSubclientValue(int32_t velliconId, int32_t appId, const std::string& name,
                         const RecordValue& value);

  // Data interface pairs, by client name: a list (result 0) or a bare result
  // (3 = none, other = failure). Unconfigured names answer 3.
  void SetDIPList(const std::string& clientName, const std::vector<DIP_t>& pairs);
  void SetDIPResult(const std::string& clientName, int result);

  // Stored procedures: the reply (result, XML text) for a tag; an
  // unconfigured tag answers KXR_NOT_CONFIGURED. Every request is kept.
  void SetStoredProcedureReply(int tag, int result, const std::string& replyXml);
  std::vector<std::pair<int, std::string>> StoredProcedureRequests() const;

  // The central server's modified-file-list answer (result, response text);
  // until set, result 0 with an empty response. Every request is kept.
  void SetModifiedFileListReply(int result, const std::string& response);
  std::vector<std::string> ModifiedFileListRequests() const;

  // Task options of a job, by 32-bit option id, and its XML options text.
  void SetTaskOption(int64_t jobId, uint32_t optionId, const RecordValue& value);
  void SetTaskXMLOptions(int64_t jobId, const std::string& xml);
  // The restore task's source filter paths of a job, in order.
  void SetTaskFilterPaths(int64_t jobId, const std::vector<std::string>& paths);

  // Failure switches.
  void FailGetter(const std::string& getter, int result);
  void ClearGetterFailure(const std::string& getter);

  // The record classes' way in. Each returns the failure set for `getter`,
  // else KXR_NO_RECORD / KXR_NO_VALUE or 0 with the value.
  int GetterFailure(const std::string& getter) const;
  int ClientValue(const std::string& getter, int32_t clientId, const std::string& name,
                  RecordValue* out) const;
  int ClientHasProperties(const std::string& getter, int32_t clientId) const;
  int ClientProperty(const std::string& getter, int32_t clientId, const std::string& name,
                     RecordValue* out) const;
  // The client id of a subclient (0 with the id) and the subclient's values.
  int SubclientClient(const std::string& getter, int32_t velliconId, int32_t appId,
                      int32_t* clientId) const;
  int SubclientValue(const std::string& getter, int32_t velliconId, int32_t appId,
                     const std::string& name, RecordValue* out) const;
  int DIPList(const std::string& getter, const std::string& clientName,
              std::vector<DIP_t>* out) const;
  int StoredProcedure(const std::string& getter, int tag, const std::string& request,
                      std::string* reply);
  int ModifiedFileList(const std::string& getter, const std::string& request,
                       std::string* response);
  int TaskOption(const std::string& getter, int64_t jobId, uint32_t optionId,
                 RecordValue* out) const;
  int TaskXMLOptions(const std::string& getter, int64_t jobId, std::string* out) const;
  int TaskFilterPaths(int64_t jobId, std::vector<std::string>* out) const;

 private:
  struct Data;

  mutable std::mutex m_mutex;
  std::unique_ptr<Data> m_data;
};
