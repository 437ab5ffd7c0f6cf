#include "SimServiceDaemon.h"

#include <sys/socket.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "ClLaunchMsgs.h"
#include "ClProxyConnection.h"
#include "ClProxyPayload.h"
#include "ClProxySerializer.h"
#include "ClProxyWire.h"
#include "ClServiceMsgs.h"
#include "FXErrorUtil.h"
#include "SimPeer.h"

namespace {

// The drive and the tape, two serialized texts that fill the request.
std::string DecodeTapePreparation(const ClProxyMsg& request) {
  const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(&request);
  if (!blob) return "undecodable";
  std::string drive, tape;
  uint32_t offset = 0;
  if (ClProxySerializer::deserialize(blob->getBlob(), blob->getBlobSize(), offset, drive) !=
          ClProxySerializer::kSuccess ||
      ClProxySerializer::deserialize(blob->getBlob(), blob->getBlobSize(), offset, tape) !=
          ClProxySerializer::kSuccess ||
      offset != blob->getBlobSize())
    return "undecodable";
  return drive + "|" + tape;
}

std::string DecodeCommit(const ClProxyMsg& request) {
  const ClCommitBackupJobMsg* commit = dynamic_cast<const ClCommitBackupJobMsg*>(&request);
  if (!commit) return "undecodable";
  return std::to_string(commit->getFirst()) + "," + std::to_string(commit->getSecond()) + "," +
         std::to_string(commit->getThird()) + "," + std::to_string(commit->getFourth());
}

}  // namespace

SimServiceDaemon::SimServiceDaemon() {
  m_daemon.SetDefaultScript(SimScript().Call([this](SimPeer& peer) { return Serve(peer); }));
}

SimServiceDaemon::~SimServiceDaemon() { Stop(); }

void SimServiceDaemon::SetClientFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sClientFolder = folder;
}

void SimServiceDaemon::SetLogFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sLogFolder = folder;
}

size_t SimServiceDaemon::SetGeneratedListing(size_t entries) {
  std::shared_ptr<const std::vector<uint8_t>> frame;
  size_t payload = 0;
  if (entries) {
    std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t> listing(entries);
    for (size_t i = 0; i < entries; ++i) {
      listing[i].name = "entry-" + std::to_string(i);
      listing[i].name.resize(16 + i % 9, 'x');  // 16 to 24 bytes
      listing[i].type = i % 10 == 0 ? 1 : 0;
      listing[i].size = static_cast<int64_t>(i * 512);
      listing[i].value = 0644;
    }
    const ClClientBrowseRepMsg reply(std::move(listing));
    std::vector<uint8_t> scratch;
    ClProxyPayloadView view;
    if (!reply.encodePayload(scratch, view).IsError()) {
      std::vector<uint8_t> bytes(ClProxyWire::kHeaderSize + view.size);
      ClProxyWire::EncodeHeader(BROWSE_REPLY_MSG, static_cast<uint32_t>(view.size), bytes.data());
      std::copy(view.data, view.data + view.size, bytes.begin() + ClProxyWire::kHeaderSize);
      frame = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
      payload = view.size;
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_generatedFrame = std::move(frame);
  return payload;
}

void SimServiceDaemon::SetDirChangeFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sDirChangeFile = path;
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

void SimServiceDaemon::SetVersionReply(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sVersionReply = text;
  m_bHaveVersion = true;
}

void SimServiceDaemon::SetUpdateAck(UpdateAck ack) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_updateAck = ack;
}

void SimServiceDaemon::SetProbesBeforeClose(int probes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iProbesBeforeClose = probes;
}

void SimServiceDaemon::SetExecuteAnswer(ExecuteAnswer answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_executeAnswer = answer;
}

std::vector<std::string> SimServiceDaemon::GetExecutedCommands() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_executed;
}

std::vector<uint8_t> SimServiceDaemon::GetPackage() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_package;
}

ClProxyMsgType SimServiceDaemon::GetPackageEnd() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_packageEnd;
}

size_t SimServiceDaemon::GetPackageBlocks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_uPackageBlocks;
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
  std::string folder, logFolder, dirChangeFile;
  std::shared_ptr<const std::vector<uint8_t>> generated;
  int heartbeats;
  ExecuteAnswer executeAnswer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(type);
    if (type == EXECUTE_COMMAND_MSG) {
      const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(&request);
      m_executed.push_back(blob && blob->getBlob() ? std::string(reinterpret_cast<const char*>(blob->getBlob()),
                                                                 blob->getBlobSize())
                                                   : std::string());
    }
    if (type == PREPARE_VTL_TAPE_MSG) m_tapePreparations.push_back(DecodeTapePreparation(request));
    if (type == COMMIT_BACKUP_JOB_MSG) m_commits.push_back(DecodeCommit(request));
    if (type == DOWNLOAD_LOG_FILE_MSG) {
      const ClDownloadLogFile* log = dynamic_cast<const ClDownloadLogFile*>(&request);
      m_logRequests.push_back(log ? std::to_string(log->getRequest()) + "," + std::to_string(log->getSecond())
                                  : std::string("undecodable"));
    }
    executeAnswer = m_executeAnswer;
    auto found = m_scripts.find(type);
    if (found != m_scripts.end() && !found->second.empty()) {
      script = std::move(found->second.front());
      found->second.pop_front();
      scripted = true;
    }
    folder = m_sClientFolder;
    heartbeats = m_iTapeHeartbeats;
    logFolder = m_sLogFolder;
    generated = m_generatedFrame;
    dirChangeFile = m_sDirChangeFile;
  }

  switch (type) {
    case LAUNCH_CMD_MSG: {
      const ClLaunchCmdMsg* launch = dynamic_cast<const ClLaunchCmdMsg*>(&request);
      if (launch && launch->getCommand() == "SERVICE") ++m_launches;
      return CWqError::Success();
    }
    case SERVICE_CHECK_MSG: {
      ++m_probes;
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_probesToClose.find(LinkIndex(peer));
      if (it != m_probesToClose.end() && --it->second < 0) {
        m_probesToClose.erase(it);
        peer.CloseOrderly();  // the services went down
      }
      return CWqError::Success();
    }
    case VERSION_REQUEST_MSG:
      if (!scripted) {
        std::string text;
        {
          std::lock_guard<std::mutex> lock(m_mutex);
          if (!m_bHaveVersion) return CWqError::Success();  // recorded, unanswered
          text = m_sVersionReply;
        }
        if (!BeforeAnswer(peer)) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
        return Send(peer, ClBlobMsg(CLIENT_VERSION_MSG, ClBlobMsg::Copy, text.data(), static_cast<uint32_t>(text.size())));
      }
      break;
    case CLIENT_UPDATE_MSG:
      if (!scripted) return ReceiveUpdate(peer);
      break;
    case EXECUTE_COMMAND_MSG:
      if (!scripted) {
        if (executeAnswer == kExecuteSilent) return CWqError::Success();
        if (!BeforeAnswer(peer)) return FXErrorUtil::ErrorErrNo(FX_HERE, ECANCELED, "Simulated daemon is stopping");
        if (executeAnswer == kExecuteClose) {
          peer.CloseOrderly();
          return CWqError::Success();
        }
        const ClProxyMsgType answer = executeAnswer == kExecuteSuccess   ? EXECUTE_SUCCESS_MSG
                                      : executeAnswer == kExecuteFailure ? EXECUTE_FAILURE_MSG
                                                                         : CLIENT_ERROR_MSG;
        return Send(peer, ClEmptyMsg(answer));
      }
      break;
    case CREATE_FOLDER_MSG:
    case PREPARE_VTL_TAPE_MSG:
    case CREATE_INDEX_FLAG_MSG:
    case CLIENT_BROWSE_REQ_MSG:
    case DOWNLOAD_LOG_FILE_MSG:
    case DOWNLOAD_DIR_CHANGE_FILE_MSG:
      break;
    default:
      // Other requests (the DR exchanges) are answered only by a script.
      if (!scripted) return CWqError::Success();  // recorded, unanswered
      break;
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
  if (type == CLIENT_BROWSE_REQ_MSG) return AnswerBrowse(peer, folder, generated.get(), request);
  if (type == DOWNLOAD_LOG_FILE_MSG) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(logFolder.c_str())) {
      while (dirent* entry = ::readdir(dir)) {
        struct stat st;
        const std::string name = entry->d_name;
        if (::stat((logFolder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      CWqError result = SendFile(peer, name, logFolder + "/" + name);
      if (result.IsError()) return result;
    }
    return Send(peer, ClEmptyMsg(JOB_COMPLETE_MSG));
  }
  if (type == DOWNLOAD_DIR_CHANGE_FILE_MSG) {
    struct stat st;
    if (dirChangeFile.empty() || ::stat(dirChangeFile.c_str(), &st) != 0)
      return Send(peer, ClBadEofMsg("no directory-change file"));
    CWqError result = SendFile(peer, "DCTmp", dirChangeFile);
    return result.IsError() ? result : Send(peer, ClEmptyMsg(JOB_COMPLETE_MSG));
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

std::vector<std::string> SimServiceDaemon::GetTapePreparations() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_tapePreparations;
}

std::vector<std::string> SimServiceDaemon::GetLogRequests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_logRequests;
}

std::vector<std::string> SimServiceDaemon::GetCommits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_commits;
}

size_t SimServiceDaemon::LinkIndex(SimPeer& peer) const {
  for (size_t i = 0; i < m_links.size(); ++i)
    if (m_links[i] == &peer.Connection()) return i;
  return static_cast<size_t>(-1);
}

CWqError SimServiceDaemon::ReceiveUpdate(SimPeer& peer) {
  ClProxyMsgType end = static_cast<ClProxyMsgType>(0);
  for (;;) {
    std::shared_ptr<ClProxyMsg> message;
    CWqError result = peer.Receive({FILE_DATA_MSG, GOOD_EOF_MSG, BAD_EOF_MSG}, 0, &message);
    if (result.IsError()) return result;
    if (message->getMsgType() != FILE_DATA_MSG) {
      end = message->getMsgType();
      break;
    }
    const ClBlobMsg& blob = static_cast<const ClBlobMsg&>(*message);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_package.insert(m_package.end(), blob.getBlob(), blob.getBlob() + blob.getBlobSize());
    ++m_uPackageBlocks;
  }
  UpdateAck ack;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packageEnd = end;
    ack = m_updateAck;
    if (ack == kAckAsSent) ack = end == GOOD_EOF_MSG ? kAckGoodEof : kAckBadEof;
    if (ack == kAckGoodEof && m_iProbesBeforeClose >= 0) m_probesToClose[LinkIndex(peer)] = m_iProbesBeforeClose;
  }
  switch (ack) {
    case kAckGoodEof: {
      CWqError result = Send(peer, ClEmptyMsg(GOOD_EOF_MSG));
      if (result.IsError()) return result;
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_probesToClose.find(LinkIndex(peer));
      if (it != m_probesToClose.end() && it->second == 0) {
        m_probesToClose.erase(it);
        peer.CloseOrderly();  // the services go down at once
      }
      return CWqError::Success();
    }
    case kAckBadEof:
      return Send(peer, ClBadEofMsg("cannot install the package"));
    case kAckVersion: {
      const std::string text = "5:19:";
      return Send(peer, ClBlobMsg(CLIENT_VERSION_MSG, ClBlobMsg::Copy, text.data(), static_cast<uint32_t>(text.size())));
    }
    default:
      return CWqError::Success();
  }
}

CWqError SimServiceDaemon::AnswerBrowse(SimPeer& peer, const std::string& folder,
                                        const std::vector<uint8_t>* generated, const ClProxyMsg& request) {
  const ClClientBrowseReqMsg& browse = static_cast<const ClClientBrowseReqMsg&>(request);
  if (generated) return peer.SendRaw(*generated);
  const std::string target = folder + "/" + browse.getPath();
  DIR* dir = ::opendir(target.c_str());
  if (!dir) {
    const int errNo = errno;
    return Send(peer, ClFailedFileMsg(browse.getPath(), errNo, std::strerror(errNo)));
  }
  std::vector<ClClientBrowseRepMsg::ClientBrowseEntry_t> entries;
  while (dirent* entry = ::readdir(dir)) {
    ClClientBrowseRepMsg::ClientBrowseEntry_t one;
    one.name = entry->d_name;
    struct stat st;
    if (::lstat((target + "/" + one.name).c_str(), &st) == 0) {
      one.type = S_ISDIR(st.st_mode) ? 1 : 0;
      one.size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    }
    one.value = 0644;
    entries.push_back(one);
  }
  ::closedir(dir);
  // Names in byte order, as a listing usually comes ("." and ".." among them).
  std::sort(entries.begin(), entries.end(), [](const ClClientBrowseRepMsg::ClientBrowseEntry_t& a,
                                               const ClClientBrowseRepMsg::ClientBrowseEntry_t& b) {
    return a.name < b.name;
  });
  return Send(peer, ClClientBrowseRepMsg(entries));
}

CWqError SimServiceDaemon::SendFile(SimPeer& peer, const std::string& name, const std::string& path) {
  CWqError result = Send(peer, ClBlobMsg(FILE_HEADER_MSG, ClBlobMsg::Copy, name.data(),
                                         static_cast<uint32_t>(name.size())));
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(64 * 1024);
  while (!result.IsError() && in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = in.gcount();
    if (got > 0) result = Send(peer, ClBlobMsg(FILE_DATA_MSG, ClBlobMsg::Copy, block.data(), static_cast<uint32_t>(got)));
  }
  return result;
}
