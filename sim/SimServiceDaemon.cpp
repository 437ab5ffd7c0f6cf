#include "SimServiceDaemon.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyConnection.h"
#include "ClProxySerializer.h"
#include "ClServiceMsgs.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"

SimServiceDaemon::SimServiceDaemon() {
  m_daemon.SetDefaultScript(SimScript().Call([this](SimPeer& peer) { return Serve(peer); }));
}

SimServiceDaemon::~SimServiceDaemon() { Stop(); }

void SimServiceDaemon::SetClientFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sClientFolder = folder;
}

void SimServiceDaemon::SetTapeHeartbeats(int count) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iTapeHeartbeats = count;
}

void SimServiceDaemon::SetAnswerDelayMs(int64_t milliseconds) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iDelayMs = milliseconds;
}

void SimServiceDaemon::ScriptNext(ClProxyMsgType requestType, SimScript answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_scripts[requestType].push_back(std::move(answer));
}

CWqError SimServiceDaemon::SendOnLink(size_t index, const ClProxyMsg& message) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index >= m_links.size() || !m_links[index])
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "No open service link %zu", index);
  return m_links[index]->sendMessage(const_cast<ClProxyMsg*>(&message));
}

CWqError SimServiceDaemon::SendRawOnLink(size_t index, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (index >= m_links.size() || !m_links[index])
    return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "No open service link %zu", index);
  const int descriptor = m_links[index]->getConnectionSocket().GetSocketDescriptor();
  if (::send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
    return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "Raw send failed");
  return CWqError::Success();
}

namespace {

size_t CountOpen(const std::vector<ClProxyConnection*>& links) {
  size_t open = 0;
  for (ClProxyConnection* link : links)
    if (link) ++open;
  return open;
}

}  // namespace

size_t SimServiceDaemon::GetOpenLinks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return CountOpen(m_links);
}

bool SimServiceDaemon::WaitForOpenLinks(size_t count, int seconds) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_linksChanged.wait_for(lock, std::chrono::seconds(seconds), [&] { return CountOpen(m_links) == count; });
}

std::vector<ClProxyMsgType> SimServiceDaemon::GetRequests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

CWqError SimServiceDaemon::Serve(SimPeer& peer) {
  size_t index;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    index = m_links.size();
    m_links.push_back(&peer.Connection());
  }
  m_linksChanged.notify_all();
  CWqError result;
  for (;;) {
    std::shared_ptr<ClProxyMsg> request;
    result = peer.Receive(std::vector<ClProxyMsgType>(), 0, &request);
    if (result.IsError()) {
      // A request that does not decode is skipped, as a daemon would.
      if (FXErrorUtil::IsErrNo(result, EPROTO) && peer.Connection().getConnectionSocket().IsValid()) continue;
      result = CWqError::Success();  // the proxy closed the link, or the daemon stops
      break;
    }
    result = Answer(peer, *request);
    if (result.IsError() || !peer.Connection().getConnectionSocket().IsValid()) break;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_links[index] = nullptr;
  }
  m_linksChanged.notify_all();
  return result;
}

bool SimServiceDaemon::BeforeAnswer(SimPeer& peer) {
  int64_t delay;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    delay = m_iDelayMs;
  }
  if (delay > 0 && !peer.WaitSilently(delay)) return false;
  ClProxyMsgHeader header;
  if (!peer.Connection().peekMessageHeader(header, -1).IsError()) ++m_interleaved;
  return true;
}

CWqError SimServiceDaemon::Send(SimPeer& peer, const ClProxyMsg& answer) {
  return peer.Send(const_cast<ClProxyMsg&>(answer));
}

CWqError SimServiceDaemon::Answer(SimPeer& peer, const ClProxyMsg& request) {
  const ClProxyMsgType type = request.getMsgType();
  SimScript script;
  bool scripted = false;
  std::string folder;
  int heartbeats;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(type);
    auto found = m_scripts.find(type);
    if (found != m_scripts.end() && !found->second.empty()) {
      script = std::move(found->second.front());
      found->second.pop_front();
      scripted = true;
    }
    folder = m_sClientFolder;
    heartbeats = m_iTapeHeartbeats;
  }

  switch (type) {
    case LAUNCH_CMD_MSG: {
      const ClLaunchCmdMsg* launch = dynamic_cast<const ClLaunchCmdMsg*>(&request);
      if (launch && launch->getCommand() == "SERVICE") ++m_launches;
      return CWqError::Success();
    }
    case SERVICE_CHECK_MSG:
      ++m_probes;
      return CWqError::Success();
    case CREATE_FOLDER_MSG:
    case PREPARE_VTL_TAPE_MSG:
    case CREATE_INDEX_FLAG_MSG:
      break;
    default:
      return CWqError::Success();  // recorded, unanswered
  }

  if (!BeforeAnswer(peer)) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
  if (scripted) return peer.RunSteps(script);

  if (type == CREATE_FOLDER_MSG) {
    const ClBlobMsg& blob = static_cast<const ClBlobMsg&>(request);
    const std::string path(reinterpret_cast<const char*>(blob.getBlob()), blob.getBlobSize());
    const std::string target = folder + "/" + path;
    if (::mkdir(target.c_str(), 0755) != 0) {
      const int errNo = errno;
      return Send(peer, ClFailedFileMsg(path, errNo, std::strerror(errNo)));
    }
    return Send(peer, ClEmptyMsg(GOOD_EOF_MSG));
  }
  if (type == PREPARE_VTL_TAPE_MSG) {
    for (int i = 0; i < heartbeats; ++i) {
      CWqError result = Send(peer, ClEmptyMsg(SERVICE_CHECK_MSG));
      if (result.IsError()) return result;
    }
    return Send(peer, ClEmptyMsg(GOOD_EOF_MSG));
  }
  const ClCreateIndexFlagMsg& flag = static_cast<const ClCreateIndexFlagMsg&>(request);
  const std::pair<uint32_t, uint32_t> key(flag.getVelliconId(), flag.getAppId());
  bool created;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (flag.getCommand() == ClCreateIndexFlagMsg::kClearFlag) m_indexCreated[key] = false;
    if (flag.getCommand() == ClCreateIndexFlagMsg::kIndexCreated) m_indexCreated[key] = true;
    created = m_indexCreated[key];
  }
  if (flag.getCommand() == ClCreateIndexFlagMsg::kQuery)
    return Send(peer, ClCreateIndexFlagMsg(created ? ClCreateIndexFlagMsg::kNoIndexNeeded
                                                   : static_cast<ClCreateIndexFlagMsg::CreateIndexFlagCmd>(0),
                                           flag.getVelliconId(), flag.getAppId()));
  return Send(peer, ClEmptyMsg(SERVICE_CHECK_MSG));
}
