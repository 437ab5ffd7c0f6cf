#include "CWqSocketSelector.h"

#include <poll.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "FXErrorUtil.h"

void CWqSocketSelector::ClearAll() { m_entries.clear(); }

CWqSocketSelector::Entry& CWqSocketSelector::EntryFor(const CWqSocket& socket) {
  for (Entry& entry : m_entries)
    if (entry.socket == socket) return entry;
  m_entries.push_back(Entry());
  m_entries.back().socket = socket;
  return m_entries.back();
}

void CWqSocketSelector::SetReadSocket(const CWqSocket& socket) { EntryFor(socket).wantRead = true; }

void CWqSocketSelector::SetExceptionSocket(const CWqSocket& socket) {
  EntryFor(socket).wantException = true;
}

void CWqSocketSelector::ClearResults() {
  for (Entry& entry : m_entries) entry.readable = entry.exception = false;
}

CWqError CWqSocketSelector::Select(int seconds, bool* timedOut) {
  if (timedOut) *timedOut = false;
  ClearResults();
  std::vector<pollfd> fds(m_entries.size());
  for (size_t i = 0; i < m_entries.size(); ++i) {
    const Entry& entry = m_entries[i];
    if (!entry.socket.IsValid())
      return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Cannot wait on a socket that is not open");
    fds[i].fd = entry.socket.GetSocketDescriptor();
    fds[i].events = static_cast<short>((entry.wantRead ? POLLIN : 0) | (entry.wantException ? POLLPRI : 0));
    fds[i].revents = 0;
  }

  // poll takes an int of milliseconds; longer limits are waited in parts.
  int64_t leftMs = seconds < 0 ? -1 : static_cast<int64_t>(seconds) * 1000;
  int ready;
  for (;;) {
    int waitMs = leftMs < 0 ? -1 : (leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs));
    ready = poll(fds.data(), fds.size(), waitMs);
    if (ready != 0 || leftMs <= INT_MAX) break;
    leftMs -= INT_MAX;
  }
  if (ready < 0) {
    int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "poll failed: %s", std::strerror(errNo));
  }
  if (ready == 0) {
    if (timedOut) {
      *timedOut = true;
      return CWqError::Success();
    }
    return FXErrorUtil::ErrorErrNo(FX_HERE, ETIME, "No socket became ready within %d seconds", seconds);
  }
  for (size_t i = 0; i < m_entries.size(); ++i) {
    Entry& entry = m_entries[i];
    short revents = fds[i].revents;
    if (revents & POLLNVAL)
      return FXErrorUtil::ErrorErrNo(FX_HERE, EBADF, "Socket %s is not open",
                                     entry.socket.GetSocketDescriptor().AsString().c_str());
    entry.readable = entry.wantRead && (revents & (POLLIN | POLLHUP | POLLERR));
    entry.exception = entry.wantException && (revents & (POLLPRI | POLLERR));
  }
  return CWqError::Success();
}

std::vector<CWqSocket> CWqSocketSelector::GetReadSelected() const {
  std::vector<CWqSocket> selected;
  for (const Entry& entry : m_entries)
    if (entry.readable) selected.push_back(entry.socket);
  return selected;
}

std::vector<CWqSocket> CWqSocketSelector::GetExceptionSelected() const {
  std::vector<CWqSocket> selected;
  for (const Entry& entry : m_entries)
    if (entry.exception) selected.push_back(entry.socket);
  return selected;
}

bool CWqSocketSelector::IsReadSelected(const CWqSocket& socket) const {
  for (const Entry& entry : m_entries)
    if (entry.socket == socket) return entry.readable;
  return false;
}

bool CWqSocketSelector::IsExceptionSelected(const CWqSocket& socket) const {
  for (const Entry& entry : m_entries)
    if (entry.socket == socket) return entry.exception;
  return false;
}
