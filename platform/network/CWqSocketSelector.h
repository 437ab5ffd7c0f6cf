// CWqSocketSelector: waits until one of a set of sockets is readable or has
// an exception condition, or a time limit passes.
//
// Waits use poll(), so descriptors of any value work (select() stops at
// 1023). A socket is readable when a receive would not block: data, a
// pending connection on a listener, end of stream or an error. It has an
// exception when urgent data is pending or the socket reports an error.
//
// Select's results:
//   success, *timedOut false  at least one socket is selected
//   success, *timedOut true   the time limit passed (no pointer given: the
//                             time-out is returned as errno ETIME, 62)
//   errno EINTR (4)           a signal interrupted the wait; callers that
//                             want to go on wait again
//   errno EBADF (9)           a socket is not open
#pragma once

#include <vector>

#include "CWqError.h"
#include "CWqSocket.h"

class CWqSocketSelector {
 public:
  // Forgets every socket and every result.
  void ClearAll();
  void SetReadSocket(const CWqSocket& socket);
  void SetExceptionSocket(const CWqSocket& socket);

  // Waits up to `seconds`; 0 only looks, a negative value waits without
  // limit.
  CWqError Select(int seconds, bool* timedOut = nullptr);

  // The results of the last Select.
  std::vector<CWqSocket> GetReadSelected() const;
  std::vector<CWqSocket> GetExceptionSelected() const;
  bool IsReadSelected(const CWqSocket& socket) const;
  bool IsExceptionSelected(const CWqSocket& socket) const;

 private:
  struct Entry {
    CWqSocket socket;
    bool wantRead = false;
    bool wantException = false;
    bool readable = false;
    bool exception = false;
  };
  Entry& EntryFor(const CWqSocket& socket);
  void ClearResults();

  std::vector<Entry> m_entries;
};
