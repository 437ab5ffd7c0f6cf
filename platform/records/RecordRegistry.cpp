#include "RecordRegistry.h"

struct RecordRegistry::Data {
  struct Client {
    RecordFields values;
    bool hasProperties = true;
    RecordFields properties;
  };
  struct Subclient {
    int32_t clientId = 0;
    RecordFields values;
  };
  struct Reply {
    int result = 0;
    std::string text;
  };
  struct DIPs {
    int result = ARMGR_NO_DIPS;
    std::vector<DIP_t> pairs;
  };
  struct Task {
    std::map<uint32_t, RecordValue> options;
    bool hasXML = false;
    std::string xml;
    bool hasFilterPaths = false;
    std::vector<std::string> filterPaths;
  };

  std::map<int32_t, Client> clients;
  std::map<std::pair<int32_t, int32_t>, Subclient> subclients;
  std::map<std::string, DIPs> dips;
  std::map<int, Reply> storedProcedures;
  std::vector<std::pair<int, std::string>> storedProcedureRequests;
  Reply modifiedFileList;
  std::vector<std::string> modifiedFileListRequests;
  std::map<int64_t, Task> tasks;
  std::map<std::string, int> failures;
};

std::string KXRecordResultText(int result) {
  switch (result) {
    case KXR_SUCCESS:
      return "Success";
    case KXR_NO_RECORD:
      return "No such record";
    case KXR_NO_VALUE:
      return "The record holds no such value";
    case KXR_NOT_CONFIGURED:
      return "The request is not known to the central server";
    default:
      return "Record error " + std::to_string(result);
  }
}

RecordRegistry::RecordRegistry() : m_data(new Data) {}
RecordRegistry::~RecordRegistry() {}

RecordRegistry& RecordRegistry::Instance() {
  static RecordRegistry registry;
  return registry;
}

void RecordRegistry::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data.reset(new Data);
}

void RecordRegistry::ReplaceWith(const RecordRegistry& other) {
  if (&other == this) return;
  std::unique_ptr<Data> copy;
  {
    std::lock_guard<std::mutex> lock(other.m_mutex);
    copy.reset(new Data(*other.m_data));
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data.swap(copy);
}

void RecordRegistry::AddClient(int32_t clientId, const std::string& name, int32_t osId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::Client client;
  client.values.Set("ClientId", clientId);
  client.values.Set("Name", name);
  client.values.Set("OperatingSystemId", osId);
  m_data->clients[clientId] = client;
}

bool RecordRegistry::SetClientValue(int32_t clientId, const std::string& name,
                                    const RecordValue& value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_data->clients.find(clientId);
  if (it == m_data->clients.end()) return false;
  it->second.values.Set(name, value);
  return true;
}

bool RecordRegistry::SetClientProperty(int32_t clientId, const std::string& name,
                                       const RecordValue& value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_data->clients.find(clientId);
  if (it == m_data->clients.end()) return false;
  it->second.properties.Set(name, value);
  return true;
}

bool RecordRegistry::HasClient(int32_t clientId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_data->clients.count(clientId) != 0;
}

int32_t RecordRegistry::ClientIdForName(const std::string& name) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& client : m_data->clients) {
    std::string clientName;
    if (client.second.values.GetString("Name", &clientName) && clientName == name) return client.first;
  }
  return -1;
}

bool RecordRegistry::SetClientHasProperties(int32_t clientId, bool hasProperties) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_data->clients.find(clientId);
  if (it == m_data->clients.end()) return false;
  it->second.hasProperties = hasProperties;
  return true;
}

void RecordRegistry::AddSubclient(int32_t velliconId, int32_t appId, int32_t clientId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::Subclient subclient;
  subclient.clientId = clientId;
  subclient.values.Set("SubclientId", appId);
  m_data->subclients[std::make_pair(velliconId, appId)] = subclient;
}

bool RecordRegistry::SetSubclientValue(int32_t velliconId, int32_t appId, const std::string& name,
                                       const RecordValue& value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_data->subclients.find(std::make_pair(velliconId, appId));
  if (it == m_data->subclients.end()) return false;
  it->second.values.Set(name, value);
  return true;
}

void RecordRegistry::SetDIPList(const std::string& clientName, const std::vector<DIP_t>& pairs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::DIPs& dips = m_data->dips[clientName];
  dips.result = ARMGR_SUCCESS;
  dips.pairs = pairs;
}

void RecordRegistry::SetDIPResult(const std::string& clientName, int result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::DIPs& dips = m_data->dips[clientName];
  dips.result = result;
  dips.pairs.clear();
}

void RecordRegistry::SetStoredProcedureReply(int tag, int result, const std::string& replyXml) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::Reply& reply = m_data->storedProcedures[tag];
  reply.result = result;
  reply.text = replyXml;
}

std::vector<std::pair<int, std::string>> RecordRegistry::StoredProcedureRequests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_data->storedProcedureRequests;
}

void RecordRegistry::SetModifiedFileListReply(int result, const std::string& response) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data->modifiedFileList.result = result;
  m_data->modifiedFileList.text = response;
}

std::vector<std::string> RecordRegistry::ModifiedFileListRequests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_data->modifiedFileListRequests;
}

void RecordRegistry::SetTaskOption(int64_t jobId, uint32_t optionId, const RecordValue& value) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data->tasks[jobId].options[optionId] = value;
}

void RecordRegistry::SetTaskXMLOptions(int64_t jobId, const std::string& xml) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::Task& task = m_data->tasks[jobId];
  task.hasXML = true;
  task.xml = xml;
}

void RecordRegistry::SetTaskFilterPaths(int64_t jobId, const std::vector<std::string>& paths) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Data::Task& task = m_data->tasks[jobId];
  task.hasFilterPaths = true;
  task.filterPaths = paths;
}

void RecordRegistry::FailGetter(const std::string& getter, int result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data->failures[getter] = result;
}

void RecordRegistry::ClearGetterFailure(const std::string& getter) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data->failures.erase(getter);
}

int RecordRegistry::GetterFailure(const std::string& getter) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_data->failures.find(getter);
  return it == m_data->failures.end() ? KXR_SUCCESS : it->second;
}

// The lookups below hold the lock for the failure test and the read, so a
// getter sees one consistent state.
#define RETURN_IF_FAILING(getter)                           \
  do {                                                      \
    auto failure_ = m_data->failures.find(getter);          \
    if (failure_ != m_data->failures.end()) return failure_->second; \
  } while (0)

int RecordRegistry::ClientValue(const std::string& getter, int32_t clientId,
                                const std::string& name, RecordValue* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->clients.find(clientId);
  if (it == m_data->clients.end()) return KXR_NO_RECORD;
  auto value = it->second.values.Values().find(name);
  if (value == it->second.values.Values().end()) return KXR_NO_VALUE;
  *out = value->second;
  return KXR_SUCCESS;
}

int RecordRegistry::ClientHasProperties(const std::string& getter, int32_t clientId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->clients.find(clientId);
  if (it == m_data->clients.end()) return KXR_NO_RECORD;
  return it->second.hasProperties ? KXR_SUCCESS : KXR_NO_VALUE;
}

int RecordRegistry::ClientProperty(const std::string& getter, int32_t clientId,
                                   const std::string& name, RecordValue* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->clients.find(clientId);
  if (it == m_data->clients.end() || !it->second.hasProperties) return KXR_NO_RECORD;
  auto value = it->second.properties.Values().find(name);
  if (value == it->second.properties.Values().end()) return KXR_NO_VALUE;
  *out = value->second;
  return KXR_SUCCESS;
}

int RecordRegistry::SubclientClient(const std::string& getter, int32_t velliconId, int32_t appId,
                                    int32_t* clientId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->subclients.find(std::make_pair(velliconId, appId));
  if (it == m_data->subclients.end()) return KXR_NO_RECORD;
  *clientId = it->second.clientId;
  return KXR_SUCCESS;
}

int RecordRegistry::SubclientValue(const std::string& getter, int32_t velliconId, int32_t appId,
                                   const std::string& name, RecordValue* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->subclients.find(std::make_pair(velliconId, appId));
  if (it == m_data->subclients.end()) return KXR_NO_RECORD;
  auto value = it->second.values.Values().find(name);
  if (value == it->second.values.Values().end()) return KXR_NO_VALUE;
  *out = value->second;
  return KXR_SUCCESS;
}

int RecordRegistry::DIPList(const std::string& getter, const std::string& clientName,
                            std::vector<DIP_t>* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->dips.find(clientName);
  if (it == m_data->dips.end()) return ARMGR_NO_DIPS;
  if (it->second.result == ARMGR_SUCCESS) *out = it->second.pairs;
  return it->second.result;
}

int RecordRegistry::StoredProcedure(const std::string& getter, int tag, const std::string& request,
                                    std::string* reply) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data->storedProcedureRequests.emplace_back(tag, request);
  RETURN_IF_FAILING(getter);
  auto it = m_data->storedProcedures.find(tag);
  if (it == m_data->storedProcedures.end()) return KXR_NOT_CONFIGURED;
  *reply = it->second.text;
  return it->second.result;
}

int RecordRegistry::ModifiedFileList(const std::string& getter, const std::string& request,
                                     std::string* response) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_data->modifiedFileListRequests.push_back(request);
  RETURN_IF_FAILING(getter);
  *response = m_data->modifiedFileList.text;
  return m_data->modifiedFileList.result;
}

int RecordRegistry::TaskOption(const std::string& getter, int64_t jobId, uint32_t optionId,
                               RecordValue* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->tasks.find(jobId);
  if (it == m_data->tasks.end()) return KXR_NO_RECORD;
  auto value = it->second.options.find(optionId);
  if (value == it->second.options.end()) return KXR_NO_VALUE;
  *out = value->second;
  return KXR_SUCCESS;
}

int RecordRegistry::TaskXMLOptions(const std::string& getter, int64_t jobId,
                                   std::string* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  RETURN_IF_FAILING(getter);
  auto it = m_data->tasks.find(jobId);
  if (it == m_data->tasks.end()) return KXR_NO_RECORD;
  if (!it->second.hasXML) return KXR_NO_VALUE;
  *out = it->second.xml;
  return KXR_SUCCESS;
}

int RecordRegistry::TaskFilterPaths(int64_t jobId, std::vector<std::string>* out) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_data->tasks.find(jobId);
  if (it == m_data->tasks.end()) return KXR_NO_RECORD;
  if (!it->second.hasFilterPaths) return KXR_NO_VALUE;
  *out = it->second.filterPaths;
  return KXR_SUCCESS;
}
