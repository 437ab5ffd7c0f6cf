// SimDBFileBackupServer: the database file-backup server, simulated. It
// listens on loopback, registers its service ("KX_COMMANDID_" +
// "ORAARCHIVE_BACKUP") under a host in the settings store as the platform
// network layer expects, takes one job connection at a time on a thread of
// its own and answers each next-file request with the next scripted answer
// ("no_more_files" once the script has run out). Every message it receives
// is recorded, decoded by the platform's record codec.
//
// Launch runs a host's launch acknowledgement in-process (a test under qemu
// cannot start another program): it listens for the caller, passes
// "-kxcaller 127.0.0.1:<port>" to `acknowledge` and records what came back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CWqError.h"
#include "SimStopSignal.h"

class SimDBFileBackupServer {
 public:
  static constexpr const char* kService = "KX_COMMANDID_ORAARCHIVE_BACKUP";

  struct Answer {
    enum Kind { kFile, kOtherType, kSilence, kDrop, kRaw };
    Kind kind = kFile;
    std::string path;   // kFile: also "try_again", "no_more_files"
    std::string header;
    uint64_t seq = 0;
    uint32_t type = 0;  // kOtherType; DBFB_JOB_STOP_MSG stops the job
    std::vector<uint8_t> raw;
    int lateMs = 0;  // held back this long, or until the link has more to read

    static Answer File(const std::string& path, const std::string& header, uint64_t seq);
    static Answer TryAgain();
    static Answer NoMoreFiles();
    static Answer JobStop();
    // A message of `type` with the record its type carries (zeroed), or an
    // empty body for a type of no record.
    static Answer OtherType(uint32_t type);
    // No answer; the connection stays open.
    static Answer Silence();
    // The connection is closed.
    static Answer Drop();
    // Bytes written as they are.
    static Answer Raw(std::vector<uint8_t> bytes);
    // `answer`, sent `ms` late (or as soon as the proxy writes or closes).
    static Answer Late(Answer answer, int ms);
  };

  struct Message {
    uint32_t type = 0;
    bool decoded = false;
    uint64_t jobId = 0;
    uint64_t threadId = 0;
    std::string fileName;
    std::string header;
    uint64_t bytes = 0;
    uint64_t files = 0;
    int32_t phase = 0;
    int32_t status = 0;
    int32_t channel = 0;
    uint64_t seq = 0;
  };

  struct LaunchRecord {
    int result = -2;          // what `acknowledge` returned
    bool acknowledged = false;
    uint64_t processId = 0;
    bool disconnected = false;  // the host said it closes
  };

  // `host` is the name the service is registered under (the client's
  // network host name).
  explicit SimDBFileBackupServer(const std::string& host = "localhost");
  ~SimDBFileBackupServer();
  SimDBFileBackupServer(const SimDBFileBackupServer&) = delete;
  SimDBFileBackupServer& operator=(const SimDBFileBackupServer&) = delete;

  CWqError Start();
  // Stops the thread, closes every socket and removes the registration.
  void Stop();
  uint16_t GetPort() const { return m_uPort; }

  // Set before the proxy connects.
  void SetScript(std::vector<Answer> answers);
  // The status of the attach reply (not 0: attached with a warning).
  void SetAttachStatus(int32_t status);

  std::vector<Message> Received() const;
  int Attaches() const;
  // Waits until the current job connection has ended; false after `seconds`.
  bool WaitForEnd(int seconds) const;

  LaunchRecord Launch(const std::function<int(int, char**)>& acknowledge);

 private:
  void Serve();
  void ServeConnection(int fd);
  bool AnswerRequest(int fd);
  void Record(const Message& message);

  std::string m_sHost;
  int m_iListen;
  uint16_t m_uPort;
  SimStopSignal m_stop;
  std::thread m_thread;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<SimDBFileBackupServer::Answer> m_script;
  size_t m_uNext;
  int32_t m_iAttachStatus;
  std::vector<Message> m_received;
  int m_iAttaches;
  bool m_bConnectionOpen;
  int m_iEnded;
};
