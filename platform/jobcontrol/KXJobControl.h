// Job-control clients of a running job:
//
// KXBkpJobClient: the job client of a backup job (a KXJobClient; pending
//   causes and events land in the EventJournal).
// KXJobCtrlClient: the job's link to the job manager's control requests;
//   checkQuitFlag is true once the job manager asked the job to stop.
// KXJobCtrlGUIAPI: the console's job controller; stop(J) asks job J to stop,
//   which raises J's quit flag as the job manager would.
//
// The stand-in keeps the quit flags and the stop requests in a process-wide
// script (KXJobControlScript) with failure switches for init and stop.
// Thread-safe; KXJobControlScript::Reset() clears everything.
#pragma once

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "KXJobClient.h"
#include "KXJobTypes.h"

class KXBkpJobClient : public KXJobClient {
 public:
  KXBkpJobClient() {}
  ~KXBkpJobClient() override {}
};

class KXJobCtrlClient {
 public:
  explicit KXJobCtrlClient(KXJobID jobId) : m_llJobId(jobId) {}
  // True once the job was asked to stop.
  bool checkQuitFlag();
  KXJobID getJobId() const { return m_llJobId; }

 private:
  KXJobID m_llJobId;
};

class KXJobCtrlGUIAPI {
 public:
  KXJobCtrlGUIAPI();
  // Attaches to the job manager of the central server `host`.
  bool init(const std::string& host);
  // Asks job `jobId` to stop; false when not initialised or refused.
  bool stop(KXJobID jobId);

 private:
  bool m_bInitialized;
};

class KXJobControlScript {
 public:
  static KXJobControlScript& Instance();

  void Reset();
  void FailInit(bool fail);
  void FailStop(bool fail);
  void RaiseQuitFlag(KXJobID jobId);
  bool QuitFlag(KXJobID jobId) const;
  // The hosts the controllers were initialised with, and the stopped jobs.
  std::vector<std::string> Inits() const;
  std::vector<KXJobID> Stops() const;
  int QuitChecks() const;

  // The stand-ins' way in.
  bool RecordInit(const std::string& host);
  bool RecordStop(KXJobID jobId);
  bool RecordQuitCheck(KXJobID jobId);

 private:
  mutable std::mutex m_mutex;
  bool m_bFailInit = false;
  bool m_bFailStop = false;
  std::set<KXJobID> m_quit;
  std::vector<std::string> m_inits;
  std::vector<KXJobID> m_stops;
  int m_iQuitChecks = 0;
};
