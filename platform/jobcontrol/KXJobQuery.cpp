#include "KXJobQuery.h"

#include "FXLogWriter.h"

KXJobQuery::KXJobQuery() : m_iPlatformType(0), m_bInitialized(false) {}
KXJobQuery::~KXJobQuery() {}

bool KXJobQuery::init(const std::string& host) {
  m_bInitialized = KXJobQueryScript::Instance().RecordInit(host, m_iPlatformType);
  if (!m_bInitialized) FX_LOG(1, "Job query not attached to [%s]", host.c_str());
  return m_bInitialized;
}

int KXJobQuery::GetJobStatus(long long& jobId) {
  if (!m_bInitialized) return KXJQ_NOT_INITIALIZED;
  return KXJobQueryScript::Instance().RecordQuery(jobId);
}

KXJobQueryScript& KXJobQueryScript::Instance() {
  static KXJobQueryScript script;
  return script;
}

void KXJobQueryScript::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_states.clear();
  m_iDefaultState = 0;
  m_bFailInit = false;
  m_inits.clear();
  m_queries.clear();
}

void KXJobQueryScript::SetJobState(long long jobId, int state) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_states[jobId] = state;
}

void KXJobQueryScript::SetDefaultState(int state) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iDefaultState = state;
}

void KXJobQueryScript::FailInit(bool fail) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bFailInit = fail;
}

std::vector<KXJobQueryScript::Init> KXJobQueryScript::Inits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_inits;
}

std::vector<long long> KXJobQueryScript::Queries() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_queries;
}

bool KXJobQueryScript::RecordInit(const std::string& host, int platformType) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Init init;
  init.host = host;
  init.platformType = platformType;
  init.succeeded = !m_bFailInit;
  m_inits.push_back(init);
  return init.succeeded;
}

int KXJobQueryScript::RecordQuery(long long jobId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_queries.push_back(jobId);
  auto it = m_states.find(jobId);
  return it == m_states.end() ? m_iDefaultState : it->second;
}
