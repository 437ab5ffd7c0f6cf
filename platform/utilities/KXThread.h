// KXThread: one platform thread running a function with one argument.
//
// createThread starts it (true when it runs); a failed start leaves a text
// for getLastError. threadInProgress is true from the start until the
// function has returned. joinThread waits for the end (at once when the
// thread never ran or was joined before). The destructor joins a thread
// still running, so an object never outlives its thread's use of it.
//
// Test switch: FailNextStarts(n) makes the next n starts of any KXThread
// fail with the text "thread start refused by the test switch";
// FailNextStarts(0) clears it.
#pragma once

#include <pthread.h>

#include <atomic>
#include <string>

class KXThread {
 public:
  typedef void* (*ThreadFunction)(void*);

  KXThread();
  ~KXThread();
  KXThread(const KXThread&) = delete;
  KXThread& operator=(const KXThread&) = delete;

  // False when a thread was started before or the start failed.
  bool createThread(ThreadFunction function, void* argument);
  std::string getLastError() const { return m_sLastError; }
  bool threadInProgress() const { return m_bRunning.load(std::memory_order_acquire); }
  // `milliseconds` and `result` are accepted for the callers' sake: the
  // wait has no limit. Returns 0.
  int joinThread(int milliseconds, void** result);

  static void FailNextStarts(int count);

 private:
  static void* Run(void* self);

  ThreadFunction m_function;
  void* m_argument;
  pthread_t m_thread;
  bool m_bStarted;
  bool m_bJoined;
  std::atomic<bool> m_bRunning;
  std::string m_sLastError;
};

// The name the deduplication managers use for the same thread class.
typedef KXThread KxThread;
