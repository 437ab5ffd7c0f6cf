#include "SimDBFileBackupServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "CKxNetwork.h"
#include "FXErrorUtil.h"
#include "KxNetFrame.h"
#include "KxXdr.h"
#include "KxsDBFBRecords.h"

namespace {

const int kSliceMs = 50;

int ListenLoopback(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

SimDBFileBackupServer::Message Decode(uint32_t type, const std::vector<uint8_t>& body) {
  SimDBFileBackupServer::Message message;
  message.type = type;
  union {
    DBFB_ShortRecord s;
    DBFB_RequestRecord r;
    DBFB_FileRecord f;
    unsigned char bytes[kDBFBFileLength];
  } record;
  std::memset(&record, 0, sizeof record);
  KxsDecodedTexts texts;
  std::string why;
  if (!KxsDecodeRecord(type, body.data(), body.size(), &record, kDBFBFileLength, texts, why)) return message;
  message.decoded = true;
  switch (KxsRecordKindOf(type)) {
    case KXS_RECORD_SHORT:
      message.jobId = record.s.jobId;
      message.status = record.s.status;
      break;
    case KXS_RECORD_REQUEST:
      message.jobId = record.r.jobId;
      message.threadId = record.r.threadId;
      message.phase = record.r.phase;
      message.status = record.r.status;
      message.channel = record.r.channel;
      break;
    case KXS_RECORD_FILE:
      message.jobId = record.f.jobId;
      message.threadId = record.f.threadId;
      message.fileName = texts.fileName;
      message.header = texts.header;
      message.bytes = record.f.bytes;
      message.files = record.f.files;
      message.phase = record.f.phase;
      message.seq = record.f.seqNum;
      break;
    default:
      break;
  }
  return message;
}

}  // namespace

SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::File(const std::string& path, const std::string& header,
                                                                  uint64_t seq) {
  SimDBFileBackupServer::Answer answer;
  answer.kind = kFile;
  answer.path = path;
  answer.header = header;
  answer.seq = seq;
  return answer;
}
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::TryAgain() { return File("try_again", "", 0); }
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::NoMoreFiles() { return File("no_more_files", "", 0); }
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::JobStop() { return OtherType(DBFB_JOB_STOP_MSG); }
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::OtherType(uint32_t type) {
  SimDBFileBackupServer::Answer answer;
  answer.kind = kOtherType;
  answer.type = type;
  return answer;
}
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::Silence() {
  SimDBFileBackupServer::Answer answer;
  answer.kind = kSilence;
  return answer;
}
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::Drop() {
  SimDBFileBackupServer::Answer answer;
  answer.kind = kDrop;
  return answer;
}
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::Late(Answer answer, int ms) {
  answer.lateMs = ms;
  return answer;
}
SimDBFileBackupServer::Answer SimDBFileBackupServer::Answer::Raw(std::vector<uint8_t> bytes) {
  SimDBFileBackupServer::Answer answer;
  answer.kind = kRaw;
  answer.raw = std::move(bytes);
  return answer;
}

SimDBFileBackupServer::SimDBFileBackupServer(const std::string& host)
    : m_sHost(host),
      m_iListen(-1),
      m_uPort(0),
      m_uNext(0),
      m_iAttachStatus(0),
      m_iAttaches(0),
      m_bConnectionOpen(false),
      m_iEnded(0) {}

SimDBFileBackupServer::~SimDBFileBackupServer() { Stop(); }

CWqError SimDBFileBackupServer::Start() {
  if (m_stop.Status().IsError()) return m_stop.Status();
  m_iListen = ListenLoopback(m_uPort);
  if (m_iListen < 0) return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "The simulated server cannot listen");
  if (CKxNetwork::RegisterService(m_sHost, kService, m_uPort) != 0)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "The simulated server cannot register its service");
  m_thread = std::thread(&SimDBFileBackupServer::Serve, this);
  return CWqError::Success();
}

void SimDBFileBackupServer::Stop() {
  m_stop.Fire();
  if (m_thread.joinable()) m_thread.join();
  if (m_iListen >= 0) {
    ::close(m_iListen);
    m_iListen = -1;
    CKxNetwork::UnregisterService(m_sHost, kService);
  }
}

void SimDBFileBackupServer::SetScript(std::vector<SimDBFileBackupServer::Answer> answers) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_script = std::move(answers);
  m_uNext = 0;
}

void SimDBFileBackupServer::SetAttachStatus(int32_t status) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iAttachStatus = status;
}

std::vector<SimDBFileBackupServer::Message> SimDBFileBackupServer::Received() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_received;
}

int SimDBFileBackupServer::Attaches() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iAttaches;
}

bool SimDBFileBackupServer::WaitForEnd(int seconds) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::seconds(seconds),
                            [this] { return m_iAttaches > 0 && !m_bConnectionOpen && m_iEnded >= m_iAttaches; });
}

void SimDBFileBackupServer::Record(const Message& message) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received.push_back(message);
  }
  m_changed.notify_all();
}

void SimDBFileBackupServer::Serve() {
  while (!m_stop.IsFired()) {
    pollfd entries[2] = {{m_iListen, POLLIN, 0}, {m_stop.WaitDescriptor(), POLLIN, 0}};
    if (::poll(entries, 2, -1) <= 0) continue;
    if (!(entries[0].revents & POLLIN)) continue;
    const int fd = ::accept4(m_iListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ServeConnection(fd);
    ::close(fd);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bConnectionOpen = false;
      ++m_iEnded;
    }
    m_changed.notify_all();
  }
}

void SimDBFileBackupServer::ServeConnection(int fd) {
  KxNetFrameReader reader;
  bool attached = false;
  while (!m_stop.IsFired()) {
    uint32_t type = 0;
    std::vector<uint8_t> body;
    bool timedOut = false;
    CWqError result = reader.Read(fd, kSliceMs, type, body, timedOut);
    if (timedOut) continue;
    if (result.IsError()) return;
    if (!attached) {
      if (type != KXNET_ATTACH_MSG) return;
      attached = true;
      int32_t status = 0;
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_iAttaches;
        m_bConnectionOpen = true;
        status = m_iAttachStatus;
      }
      m_changed.notify_all();
      std::vector<uint8_t> reply;
      KxXdrWriter(reply).PutInt32(status);
      if (KxNetWriteFrame(fd, KXNET_ATTACH_REPLY_MSG, reply.data(), reply.size()).IsError()) return;
      continue;
    }
    if (type == KXNET_DISCONNECT_MSG) return;
    Record(Decode(type, body));
    if (type == DBFB_NEXT_FILE_REQ_MSG && !AnswerRequest(fd)) return;
  }
}

bool SimDBFileBackupServer::AnswerRequest(int fd) {
  SimDBFileBackupServer::Answer answer = Answer::NoMoreFiles();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_uNext < m_script.size()) answer = m_script[m_uNext++];
  }
  if (answer.lateMs > 0) {
    pollfd wait{fd, POLLIN, 0};
    ::poll(&wait, 1, answer.lateMs);
  }
  std::vector<uint8_t> body;
  std::string why;
  switch (answer.kind) {
    case Answer::kFile: {
      DBFB_FileRecord record{};
      record.jobId = 0;
      record.fileName = answer.path.c_str();
      record.header = answer.header.c_str();
      record.seqNum = answer.seq;
      record.files = 1;
      if (!KxsEncodeRecord(DBFB_FILE_MSG, &record, kDBFBFileLength, body, why)) return false;
      return !KxNetWriteFrame(fd, DBFB_FILE_MSG, body.data(), body.size()).IsError();
    }
    case Answer::kOtherType: {
      union {
        DBFB_ShortRecord s;
        DBFB_RequestRecord r;
        DBFB_FileRecord f;
        unsigned char bytes[kDBFBFileLength];
      } record;
      std::memset(&record, 0, sizeof record);
      if (KxsRecordKindOf(answer.type) != KXS_RECORD_UNKNOWN)
        KxsEncodeRecord(answer.type, &record, kDBFBFileLength, body, why);
      return !KxNetWriteFrame(fd, answer.type, body.data(), body.size()).IsError();
    }
    case Answer::kSilence:
      return true;
    case Answer::kDrop:
      return false;
    case Answer::kRaw: {
      size_t done = 0;
      while (done < answer.raw.size()) {
        const ssize_t n = ::send(fd, answer.raw.data() + done, answer.raw.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
      }
      return true;
    }
  }
  return false;
}

SimDBFileBackupServer::LaunchRecord SimDBFileBackupServer::Launch(
    const std::function<int(int, char**)>& acknowledge) {
  LaunchRecord record;
  uint16_t port = 0;
  const int listener = ListenLoopback(port);
  if (listener < 0) return record;
  std::string program = "dbhost";
  std::string flag = CKxNetwork::kCallerArgument;
  std::string address = "127.0.0.1:" + std::to_string(port);
  char* argv[] = {&program[0], &flag[0], &address[0], nullptr};
  // The acknowledgement connects into the backlog, writes and closes, so it
  // can run before the accept on this thread.
  record.result = acknowledge(3, argv);
  pollfd entry{listener, POLLIN, 0};
  if (::poll(&entry, 1, 2000) == 1) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      KxNetFrameReader reader;
      for (;;) {
        uint32_t type = 0;
        std::vector<uint8_t> body;
        bool timedOut = false;
        if (reader.Read(fd, 2000, type, body, timedOut).IsError()) break;
        if (type == KXNET_LAUNCH_REPLY_MSG) {
          KxXdrReader xdr(body.data(), body.size());
          record.acknowledged = xdr.GetUint64(record.processId);
        } else if (type == KXNET_DISCONNECT_MSG) {
          record.disconnected = true;
        }
      }
      ::close(fd);
    }
  }
  ::close(listener);
  return record;
}
