#include "SimMediaAgent.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "CKxNetwork.h"
#include "FXErrorUtil.h"
#include "KxNetFrame.h"
#include "KxXdr.h"
#include "MediaManagerMsgs.h"

namespace {

const char kFirstHandler[] = "sLNIBMIVTLHandler";
const char kSecondHandler[] = "sLPIBMIVTLHandler";

std::string AnswerText(const SimMediaAgent::Answer& answer) {
  std::unique_ptr<CNMessageBase> message;
  switch (answer.kind) {
    case SimMediaAgent::Answer::kError:
      message.reset(new MediaManager::QErrorMsg);
      message->setint64(1, 1, answer.value);
      message->setstring(2, 2, answer.text);
      break;
    case SimMediaAgent::Answer::kChunkSize:
      message.reset(new MediaManager::GetChunkSizeOnMediaResp);
      message->setint64(6, 6, answer.value);
      break;
    case SimMediaAgent::Answer::kTapeSize:
      message.reset(new MediaManager::GetTapeSizeResp);
      message->setint64(1, 1, answer.value);
      break;
    case SimMediaAgent::Answer::kOtherTag:
      message.reset(new CNMessageBase(10, 0x99));
      break;
    case SimMediaAgent::Answer::kRawXml:
      return answer.text;
    default:
      return std::string();
  }
  std::string text;
  message->serialize(text, false);
  return text;
}

}  // namespace

SimMediaAgent::Answer SimMediaAgent::Answer::Error(int64_t code, const std::string& text) {
  Answer a;
  a.kind = kError;
  a.value = code;
  a.text = text;
  return a;
}
SimMediaAgent::Answer SimMediaAgent::Answer::ChunkSize(int64_t size) {
  Answer a;
  a.kind = kChunkSize;
  a.value = size;
  return a;
}
SimMediaAgent::Answer SimMediaAgent::Answer::TapeSize(int64_t size) {
  Answer a;
  a.kind = kTapeSize;
  a.value = size;
  return a;
}
SimMediaAgent::Answer SimMediaAgent::Answer::OtherTag() {
  Answer a;
  a.kind = kOtherTag;
  return a;
}
SimMediaAgent::Answer SimMediaAgent::Answer::NoMessage() {
  Answer a;
  a.kind = kNoMessage;
  return a;
}
SimMediaAgent::Answer SimMediaAgent::Answer::NoReply() {
  Answer a;
  a.kind = kNoReply;
  return a;
}

SimMediaAgent::Answer SimMediaAgent::Answer::Silent() {
  Answer a;
  a.kind = kSilent;
  return a;
}
SimMediaAgent::Answer SimMediaAgent::Answer::RawXml(const std::string& xml) {
  Answer a;
  a.kind = kRawXml;
  a.text = xml;
  return a;
}

SimMediaAgent::SimMediaAgent(const std::string& host) : m_sHost(host) {}

SimMediaAgent::~SimMediaAgent() { Stop(); }

CWqError SimMediaAgent::Start() {
  m_iListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_iListener < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "socket");
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(m_iListener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_iListener, 4) != 0 ||
      ::getsockname(m_iListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "listen");
  if (CKxNetwork::RegisterService(m_sHost, kFirstHandler, ntohs(address.sin_port)) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot register the tape handlers");
  m_thread = std::thread([this] { Run(); });
  return CWqError::Success();
}

void SimMediaAgent::Stop() {
  m_bStop = true;
  if (m_thread.joinable()) m_thread.join();
  if (m_iListener >= 0) ::close(m_iListener);
  m_iListener = -1;
}

void SimMediaAgent::Script(const Answer& answer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_answers.push_back(answer);
}

void SimMediaAgent::RefuseNextAttach() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bRefuse = true;
}

void SimMediaAgent::IgnoreNextAttach() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bIgnoreAttach = true;
}

void SimMediaAgent::Hold(int descriptor) {
  while (!m_bStop) {
    pollfd waiting = {descriptor, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    char sink[256];
    if (::recv(descriptor, sink, sizeof sink, 0) <= 0) return;
  }
}

std::vector<SimMediaAgent::Request> SimMediaAgent::Requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

void SimMediaAgent::Run() {
  while (!m_bStop) {
    pollfd waiting = {m_iListener, POLLIN, 0};
    if (::poll(&waiting, 1, 20) <= 0) continue;
    const int descriptor = ::accept4(m_iListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (descriptor < 0) continue;
    Serve(descriptor);
    ::close(descriptor);
  }
}

void SimMediaAgent::Serve(int descriptor) {
  KxNetFrameReader reader;
  uint32_t type = 0;
  std::vector<uint8_t> body;
  bool timedOut = false;
  if (reader.Read(descriptor, 5000, type, body, timedOut).IsError() || type != KXNET_ATTACH_DLL_MSG) return;
  Request request;
  KxXdrReader attach(body.data(), body.size());
  if (!attach.GetString(request.firstHandler, kKxNetNameBound) ||
      !attach.GetString(request.secondHandler, kKxNetNameBound) || !attach.GetString(request.caller, kKxNetNameBound))
    return;
  bool refuse = false, ignore = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ignore = m_bIgnoreAttach;
    m_bIgnoreAttach = false;
    refuse = m_bRefuse || request.firstHandler != kFirstHandler || request.secondHandler != kSecondHandler ||
             request.caller.empty();
    m_bRefuse = false;
  }
  if (ignore) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(request);
    }
    Hold(descriptor);
    return;
  }
  std::vector<uint8_t> status;
  KxXdrWriter(status).PutInt32(refuse ? 1 : 0);
  if (KxNetWriteFrame(descriptor, KXNET_ATTACH_REPLY_MSG, status.data(), status.size()).IsError() || refuse) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    return;
  }
  if (!reader.Read(descriptor, 5000, type, body, timedOut).IsError() && type == KXNET_XML_MSG)
    request.xml.assign(body.begin(), body.end());
  Answer answer = Answer::Error(0, "");
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    if (!m_answers.empty()) {
      answer = m_answers.front();
      m_answers.pop_front();
    }
  }
  if (answer.kind == Answer::kNoReply) return;
  if (answer.kind == Answer::kSilent) {
    Hold(descriptor);
    return;
  }
  const std::string text = AnswerText(answer);
  KxNetWriteFrame(descriptor, KXNET_XML_MSG, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}
