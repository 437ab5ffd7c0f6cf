// KxCriticalSection: owner of one platform critical section (re-entrant for
// the thread that holds it). Construction throws the C string "Not enough
// memory to initialize KxCriticalSection" when no section can be made.
// KxCriticalSectionLock holds a section for a scope (nothing for null).
#pragma once

#include "KxCriticalSectionH.h"

class KxCriticalSection {
 public:
  KxCriticalSection() : m_pSection(KxCriticalSectionH::create()) {
    if (!m_pSection) throw "Not enough memory to initialize KxCriticalSection";
  }
  ~KxCriticalSection() {
    delete m_pSection;
    m_pSection = nullptr;
  }
  KxCriticalSection(const KxCriticalSection&) = delete;
  KxCriticalSection& operator=(const KxCriticalSection&) = delete;

  bool enter(bool wait) { return m_pSection->enter(wait); }
  void leave() { m_pSection->leave(); }

 private:
  KxCriticalSectionH* m_pSection;
};

class KxCriticalSectionLock {
 public:
  explicit KxCriticalSectionLock(KxCriticalSection* section) : m_pSection(section) {
    if (m_pSection) m_pSection->enter(true);
  }
  ~KxCriticalSectionLock() {
    if (m_pSection) m_pSection->leave();
  }
  KxCriticalSectionLock(const KxCriticalSectionLock&) = delete;
  KxCriticalSectionLock& operator=(const KxCriticalSectionLock&) = delete;

 private:
  KxCriticalSection* m_pSection;
};
