// auto_handle: scoped owner of one POSIX file descriptor. Empty holds -1; a
// descriptor of 0 or more counts as valid and is closed by the holder.
#pragma once

#include <unistd.h>

class auto_handle {
 public:
  auto_handle() : m_fd(-1) {}
  explicit auto_handle(int fd) : m_fd(fd) {}
  ~auto_handle() { reset(); }
  auto_handle(const auto_handle&) = delete;
  // Takes the other holder's descriptor (emptying it) after closing its own.
  auto_handle& operator=(auto_handle& other) {
    if (this != &other) reset(other.release());
    return *this;
  }

  int get() const { return m_fd; }
  bool is_valid() const { return m_fd >= 0; }
  // Closes a valid descriptor and holds `fd` (default: nothing).
  void reset(int fd = -1) {
    if (m_fd >= 0 && m_fd != fd) ::close(m_fd);
    m_fd = fd;
  }
  // Hands the descriptor out without closing it; the holder is left empty.
  int release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};
