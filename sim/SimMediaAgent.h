// SimMediaAgent: a media agent's IBM i tape handlers, simulated. It listens
// on loopback, registers the handler pair's service for its host in the
// settings store as the platform network layer expects, and serves one
// connection at a time on a thread of its own: the remote-DLL attach
// (checked: the handler pair and the caller's name, recorded; refused on
// script), then one XML request, recorded as text, answered with the next
// scripted answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CWqError.h"

class SimMediaAgent {
 public:
  struct Answer {
    enum Kind { kError, kChunkSize, kTapeSize, kOtherTag, kNoMessage, kNoReply, kSilent, kRawXml };
    Kind kind = kError;
    int64_t value = 0;  // kError: the code; kChunkSize, kTapeSize: the size
    std::string text;   // kError: the text; kRawXml: the reply's text as sent

    static Answer Error(int64_t code, const std::string& text);
    static Answer ChunkSize(int64_t size);
    static Answer TapeSize(int64_t size);
    // A message of another tag (namespace 10, id 0x99).
    static Answer OtherTag();
    // An XML frame with no message in it.
    static Answer NoMessage();
    // The connection is closed without an answer.
    static Answer NoReply();
    // Nothing is answered; the connection stays open until the caller
    // closes it or the agent stops.
    static Answer Silent();
    // `xml` as the reply's text, whatever it holds.
    static Answer RawXml(const std::string& xml);
  };

  struct Request {
    std::string firstHandler, secondHandler, caller;
    std::string xml;  // the request's text form; empty when none came
  };

  explicit SimMediaAgent(const std::string& host);
  ~SimMediaAgent();
  SimMediaAgent(const SimMediaAgent&) = delete;
  SimMediaAgent& operator=(const SimMediaAgent&) = delete;

  CWqError Start();
  void Stop();
  void Script(const Answer& answer);
  // The next attach is answered with a non-zero status.
  void RefuseNextAttach();
  // The next attach is accepted and never answered (as Answer::Silent).
  void IgnoreNextAttach();
  std::vector<Request> Requests() const;

 private:
  void Run();
  void Serve(int descriptor);
  // Holds the connection until the peer closes it or the agent stops.
  void Hold(int descriptor);

  std::string m_sHost;
  int m_iListener = -1;
  std::thread m_thread;
  std::atomic<bool> m_bStop{false};
  mutable std::mutex m_mutex;
  std::deque<Answer> m_answers;
  bool m_bRefuse = false;
  bool m_bIgnoreAttach = false;
  std::vector<Request> m_requests;
};
