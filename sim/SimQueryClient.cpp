#include "SimQueryClient.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "CWqIPAddr.h"
#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyWire.h"
#include "SimPeer.h"

SimQueryClient::SimQueryClient()
    : m_recorder(std::make_shared<SimRecorder>([this] { Changed(); })), m_iWakeDescriptor(-1) {}

SimQueryClient::~SimQueryClient() { Stop(); }

void SimQueryClient::Changed() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_changed.notify_all();
}

CWqError SimQueryClient::Start(uint16_t port, SimScript script) {
  std::unique_ptr<ClProxyConnection> connection(new ClProxyConnection());
  CWqIPAddr address;
  CWqError result = CWqIPAddr::GetByName("127.0.0.1", address, AF_INET);
  if (!result.IsError()) result = address.SetPortNumber(port);
  if (!result.IsError()) result = connection->getConnectionSocket().Create(AF_INET);
  if (!result.IsError()) result = connection->getConnectionSocket().Connect(address);
  if (result.IsError()) {
    result.Push(FX_HERE, "The query client cannot connect to port %u", static_cast<unsigned>(port));
    return result;
  }
  connection->setRemoteHost("127.0.0.1");
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_iWakeDescriptor = fcntl(connection->getConnectionSocket().GetSocketDescriptor(), F_DUPFD_CLOEXEC, 0);
  }
  std::shared_ptr<SimRecorder> recorder = m_recorder;
  m_thread = std::thread([this, recorder, script](std::unique_ptr<ClProxyConnection> link) {
    SimPeer peer(std::move(link), *recorder, m_stop, [this] {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_iWakeDescriptor >= 0) close(m_iWakeDescriptor);
      m_iWakeDescriptor = -1;
    });
    peer.Run(script);
  }, std::move(connection));
  return CWqError::Success();
}

bool SimQueryClient::WaitFinished(int seconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_recorder->IsFinished(); });
}

bool SimQueryClient::WaitReceived(size_t count, int seconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(seconds),
                            [this, count] { return m_recorder->Snapshot().received.size() >= count; });
}

SimConnectionRecord SimQueryClient::Record() const { return m_recorder->Snapshot(); }

void SimQueryClient::Stop() {
  m_stop.Fire();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_iWakeDescriptor >= 0) shutdown(m_iWakeDescriptor, SHUT_RDWR);
  }
  if (m_thread.joinable()) m_thread.join();
}

std::shared_ptr<ClProxyMsg> SimQueryClient::Query(const std::vector<uint32_t>& ids,
                                                  const std::vector<uint32_t>& signatureSeed) {
  std::vector<_PrePipelineDedupe_Query> queries(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    queries[i].uUniqueId = ids[i];
    const uint32_t seed = i < signatureSeed.size() ? signatureSeed[i] : ids[i];
    for (int word = 0; word < 16; ++word) ClProxyWire::PutU32(queries[i].signature + 4 * word, seed * 2654435761u + word);
    queries[i].uValue68 = static_cast<uint32_t>(i);
    queries[i].ullValue72 = 4096ull * i;
    queries[i].ullValue80 = 0x100000000ull + 4096;
  }
  return Query(queries);
}

std::shared_ptr<ClProxyMsg> SimQueryClient::Query(const std::vector<_PrePipelineDedupe_Query>& queries) {
  return std::make_shared<COBPrePipelineDedupeQueryMsg>(queries);
}

std::shared_ptr<ClProxyMsg> SimQueryClient::ResultRequest() { return Empty(PREPIPELINE_DEDUPE_RESULT_REQ_MSG); }

std::shared_ptr<ClProxyMsg> SimQueryClient::Empty(ClProxyMsgType type) { return std::make_shared<ClEmptyMsg>(type); }
