#include "KXThread.h"

#include <cstring>

namespace {
std::atomic<int> g_failNextStarts(0);
}

KXThread::KXThread()
    : m_function(nullptr), m_argument(nullptr), m_thread(), m_bStarted(false), m_bJoined(false), m_bRunning(false) {}

KXThread::~KXThread() { joinThread(-1, nullptr); }

void KXThread::FailNextStarts(int count) { g_failNextStarts.store(count < 0 ? 0 : count); }

bool KXThread::createThread(ThreadFunction function, void* argument) {
  if (m_bStarted) {
    m_sLastError = "thread already started";
    return false;
  }
  int left = g_failNextStarts.load();
  while (left > 0 && !g_failNextStarts.compare_exchange_weak(left, left - 1)) {
  }
  if (left > 0) {
    m_sLastError = "thread start refused by the test switch";
    return false;
  }
  m_function = function;
  m_argument = argument;
  m_bRunning.store(true, std::memory_order_release);
  int rc = pthread_create(&m_thread, nullptr, &KXThread::Run, this);
  if (rc != 0) {
    m_bRunning.store(false, std::memory_order_release);
    m_sLastError = std::strerror(rc);
    return false;
  }
  m_bStarted = true;
  m_bJoined = false;
  return true;
}

void* KXThread::Run(void* self) {
  KXThread* thread = static_cast<KXThread*>(self);
  void* result = thread->m_function(thread->m_argument);
  thread->m_bRunning.store(false, std::memory_order_release);
  return result;
}

int KXThread::joinThread(int milliseconds, void** result) {
  (void)milliseconds;
  void* value = nullptr;
  if (m_bStarted && !m_bJoined) {
    pthread_join(m_thread, &value);
    m_bJoined = true;
  }
  if (result) *result = value;
  return 0;
}
