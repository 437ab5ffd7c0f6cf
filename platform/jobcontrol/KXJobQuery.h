// KXJobQuery: asks the job manager of the central server for a job's state.
//
// The stand-in answers from a process-wide script (KXJobQueryScript): a
// state per job id, a default state for the jobs not scripted, and a switch
// that makes init fail. Every init and every query is recorded so tests see
// which server and which jobs were asked. GetJobStatus on a query that was
// not initialised answers KXJQ_NOT_INITIALIZED.
//
// Thread-safe; KXJobQueryScript::Reset() brings back the initial script
// (no job scripted, default state 0, init succeeds) and clears the records.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "KXJobTypes.h"

// The state answered by a query that was not initialised.
const int KXJQ_NOT_INITIALIZED = -1;

class KXJobQuery {
 public:
  KXJobQuery();
  ~KXJobQuery();

  void setPlatformType(KXS_PLATFORMTYPE platformType) { m_iPlatformType = platformType; }
  // Attaches to the job manager of the central server `host`; true on success.
  bool init(const std::string& host);
  // The job manager's state of `jobId`.
  int GetJobStatus(long long& jobId);

 private:
  KXS_PLATFORMTYPE m_iPlatformType;
  bool m_bInitialized;
};

class KXJobQueryScript {
 public:
  struct Init {
    std::string host;
    int platformType = 0;
    bool succeeded = false;
  };

  static KXJobQueryScript& Instance();

  void Reset();
  void SetJobState(long long jobId, int state);
  void SetDefaultState(int state);
  void FailInit(bool fail);

  std::vector<Init> Inits() const;
  // The job ids asked for, in order.
  std::vector<long long> Queries() const;

  // The stand-in's way in.
  bool RecordInit(const std::string& host, int platformType);
  int RecordQuery(long long jobId);

 private:
  mutable std::mutex m_mutex;
  std::map<long long, int> m_states;
  int m_iDefaultState = 0;
  bool m_bFailInit = false;
  std::vector<Init> m_inits;
  std::vector<long long> m_queries;
};
