#include "KXJobControl.h"

bool KXJobCtrlClient::checkQuitFlag() {
  return KXJobControlScript::Instance().RecordQuitCheck(m_llJobId);
}

KXJobCtrlGUIAPI::KXJobCtrlGUIAPI() : m_bInitialized(false) {}

bool KXJobCtrlGUIAPI::init(const std::string& host) {
  m_bInitialized = KXJobControlScript::Instance().RecordInit(host);
  return m_bInitialized;
}

bool KXJobCtrlGUIAPI::stop(KXJobID jobId) {
  if (!m_bInitialized) return false;
  return KXJobControlScript::Instance().RecordStop(jobId);
}

KXJobControlScript& KXJobControlScript::Instance() {
  static KXJobControlScript script;
  return script;
}

void KXJobControlScript::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bFailInit = m_bFailStop = false;
  m_quit.clear();
  m_inits.clear();
  m_stops.clear();
  m_iQuitChecks = 0;
}

void KXJobControlScript::FailInit(bool fail) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bFailInit = fail;
}

void KXJobControlScript::FailStop(bool fail) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bFailStop = fail;
}

void KXJobControlScript::RaiseQuitFlag(KXJobID jobId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_quit.insert(jobId);
}

bool KXJobControlScript::QuitFlag(KXJobID jobId) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_quit.count(jobId) != 0;
}

std::vector<std::string> KXJobControlScript::Inits() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_inits;
}

std::vector<KXJobID> KXJobControlScript::Stops() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stops;
}

int KXJobControlScript::QuitChecks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iQuitChecks;
}

bool KXJobControlScript::RecordInit(const std::string& host) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_inits.push_back(host);
  return !m_bFailInit;
}

bool KXJobControlScript::RecordStop(KXJobID jobId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_stops.push_back(jobId);
  if (m_bFailStop) return false;
  m_quit.insert(jobId);
  return true;
}

bool KXJobControlScript::RecordQuitCheck(KXJobID jobId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_iQuitChecks;
  return m_quit.count(jobId) != 0;
}
