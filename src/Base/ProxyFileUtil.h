// Small file helpers shared by the phases that read local files (the
// post-operations list, the backup's collect files): a descriptor owner and
// open/read calls that retry an interrupted system call. Errors come back as
// the system calls give them (-1 with errno set).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ProxyFileUtil {

// The file as the host names it: `name` as the last component of `dir`.
inline std::string AppendPath(const std::string& dir, const char* name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Owns an open descriptor; closes it at the end of the scope.
class ScopedDescriptor {
 public:
  explicit ScopedDescriptor(int descriptor) : m_iDescriptor(descriptor) {}
  ~ScopedDescriptor() { Close(); }
  ScopedDescriptor(const ScopedDescriptor&) = delete;
  ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;

  int Get() const { return m_iDescriptor; }
  bool IsOpen() const { return m_iDescriptor >= 0; }
  void Close() {
    if (m_iDescriptor >= 0) ::close(m_iDescriptor);
    m_iDescriptor = -1;
  }
  // Closes the one held and takes `descriptor`.
  void Reset(int descriptor) {
    Close();
    m_iDescriptor = descriptor;
  }

 private:
  int m_iDescriptor;
};

// open(2) for reading, close-on-exec, retried while interrupted;
// `extraFlags` (O_DIRECTORY, O_NOFOLLOW, O_NONBLOCK, ...) are added.
inline int OpenForReading(const std::string& path, int extraFlags = 0) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | extraFlags);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

// read(2) retried while interrupted: bytes read, 0 at the end, -1 with errno.
inline ssize_t ReadSome(int descriptor, uint8_t* buffer, size_t size) {
  ssize_t got;
  do {
    got = ::read(descriptor, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

}  // namespace ProxyFileUtil
