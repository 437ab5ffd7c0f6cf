// KxCriticalSectionH: the platform's critical section. Re-entrant: the
// thread that holds it may enter again, and leaves once per entry.
#pragma once

#include <mutex>

class KxCriticalSectionH {
 public:
  // A new section; null when none can be made.
  static KxCriticalSectionH* create() { return new (std::nothrow) KxCriticalSectionH(); }

  // wait true blocks until entered (always true); false tries once.
  bool enter(bool wait) {
    if (wait) {
      m_mutex.lock();
      return true;
    }
    return m_mutex.try_lock();
  }
  void leave() { m_mutex.unlock(); }

 private:
  KxCriticalSectionH() {}
  std::recursive_mutex m_mutex;
};
