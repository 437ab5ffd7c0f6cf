#include "ServiceClient.h"

#include <cerrno>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "ExampleFiles.h"
#include "ExampleJob.h"
#include "FXErrorUtil.h"
#include "RecordRegistry.h"
#include "RecordsJsonLoader.h"
#include "service/ProxyServices.h"

namespace {

CWqError LoadClientRecord(const std::string& path, uint16_t daemonPort) {
  nlohmann::json client = nlohmann::json::object();
  client["clientId"] = ExampleJob::kClientId;
  client["name"] = std::string(ExampleJob::kClientName);
  client["osId"] = 118;
  client["values"] = {{"KXDPort", daemonPort},
                      {"NetworkHostname", std::string(ExampleJob::kHost)},
                      {"DisplayName", std::string("IBM i ") + ExampleJob::kClientName}};
  client["properties"] = nlohmann::json::parse(ExampleJob::ClientPropertiesText());
  nlohmann::json records = nlohmann::json::object();
  records["clients"] = nlohmann::json::array({client});
  CWqError result = WriteWholeFile(path, records.dump(2) + "\n");
  if (!result.IsError()) result = RecordsJsonLoader::LoadFile(path, RecordRegistry::Instance());
  if (!result.IsError()) std::printf("records: %s written and loaded\n", path.c_str());
  return result;
}

}  // namespace

ServiceClient::~ServiceClient() {
  ProxyServicesCache::Reset();
  m_daemon.Stop();
  RecordRegistry::Instance().Reset();
}

CWqError ServiceClient::Prepare(const ExampleOptions& options) {
  if (m_settingsRoot.path().empty())
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "No temporary settings store could be made");
  CWqError result = ExampleJob::SeedSettings();
  m_sOutputDir = options.outputDir;
  m_sClientFolder = m_sOutputDir + "/client";
  if (!result.IsError()) result = MakeFolders(m_sClientFolder);
  if (!result.IsError()) m_daemon.SetClientFolder(m_sClientFolder);
  return result;
}

CWqError ServiceClient::Start() {
  CWqError result = m_daemon.Start();
  if (result.IsError()) return result;
  std::printf("client daemon: simulated service side of %s on %s:%u over %s\n", ExampleJob::kClientName,
              ExampleJob::kHost, static_cast<unsigned>(m_daemon.GetPort()), m_sClientFolder.c_str());
  return LoadClientRecord(m_sOutputDir + "/service-records.json", m_daemon.GetPort());
}
