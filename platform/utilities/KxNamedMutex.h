// KxNamedMutex: a lock of the proxy host named by a string, shared by every
// process and every thread. Each holder opens its own descriptor of
// "<settings root>/locks/<sanitised name>.lock" and takes flock on it, so two
// threads of one process exclude each other as two processes do, and a
// holder that dies frees the lock with its descriptor. A long name keeps
// its head and gains a digest of the whole name, so the file name stays
// within the file system's limit and two names share a lock only when equal.
//
// lock() waits; it returns 0, or an errno value when the lock file cannot be
// opened or locked (the object then holds nothing). The destructor unlocks.
#pragma once

#include <string>

class KxNamedMutex {
 public:
  explicit KxNamedMutex(const std::string& name);
  ~KxNamedMutex();
  KxNamedMutex(const KxNamedMutex&) = delete;
  KxNamedMutex& operator=(const KxNamedMutex&) = delete;

  int lock();
  int unlock();
  bool isLocked() const { return m_iFd >= 0; }
  // The file behind the name.
  const std::string& path() const { return m_sPath; }

 private:
  std::string m_sPath;
  int m_iFd;
};
