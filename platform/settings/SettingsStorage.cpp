#include "SettingsStorage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

const size_t kMaxEscapedName = 200;  // leaves room for the suffixes in 255 bytes

// A descriptor closed at scope end.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return m_fd; }
  // Closes now and reports the result.
  int Close() {
    int rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

// Any section name becomes one safe file name.
std::string EscapeFileName(const std::string& section) {
  return SettingsSection::EscapeExcept(section, [](unsigned char b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' || b == '-';
  });
}

int MakeDirectories(const std::string& path) {
  if (path.empty()) return ENOENT;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int ReadWhole(const std::string& path, std::string* out) {
  out->clear();
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    out->append(buffer, static_cast<size_t>(n));
  }
}

int WriteWhole(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

int SyncDirectory(const std::string& root) {
  FileDescriptor dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return errno;
  return ::fsync(dir.get()) == 0 ? 0 : errno;
}

// Writes `content` to `path` through a synced temporary file and a rename.
int ReplaceFile(const std::string& root, const std::string& path, const std::string& content) {
  std::string temporary = path + ".tmp";
  FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.get() < 0) return errno;
  int rc = WriteWhole(fd.get(), content);
  if (rc == 0 && ::fsync(fd.get()) != 0) rc = errno;
  if (fd.Close() != 0 && rc == 0) rc = errno;
  if (rc == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) rc = errno;
  if (rc != 0) {
    ::unlink(temporary.c_str());
    return rc;
  }
  return SyncDirectory(root);
}

int RemoveFile(const std::string& root, const std::string& path) {
  if (::unlink(path.c_str()) != 0) return errno == ENOENT ? 0 : errno;
  return SyncDirectory(root);
}

}  // namespace

namespace SettingsStorage {

std::string SectionPath(const std::string& root, const std::string& section) {
  std::string name = EscapeFileName(section);
  if (name.size() > kMaxEscapedName) return std::string();
  return root + "/" + name + ".values";
}

int Read(const std::string& root, const std::string& section, SettingsSection* out) {
  std::string path = SectionPath(root, section);
  if (path.empty()) return ENAMETOOLONG;
  std::string text;
  int rc = ReadWhole(path, &text);
  if (rc == ENOENT) {
    out->Parse(std::string());
    return 0;
  }
  if (rc != 0) return rc;
  out->Parse(text);
  return 0;
}

int Update(const std::string& root, const std::string& section,
           const std::function<bool(SettingsSection&)>& change) {
  std::string path = SectionPath(root, section);
  if (path.empty()) return ENAMETOOLONG;
  int rc = MakeDirectories(root);
  if (rc != 0) return rc;

  // The lock file is never removed, so every writer locks the same inode.
  std::string lockPath = root + "/.lock";
  FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return errno;
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  // Closing the descriptor (at scope end) releases the lock.

  SettingsSection current;
  rc = Read(root, section, &current);
  if (rc != 0) return rc;
  if (!change(current)) return 0;
  rc = current.IsEmpty() ? RemoveFile(root, path) : ReplaceFile(root, path, current.Serialize());
  NoteChange();  // after the file has changed, so a reader never keeps the old values
  return rc;
}

namespace {
std::atomic<uint64_t> g_changeCount(0);
}  // namespace

uint64_t ChangeCount() { return g_changeCount.load(std::memory_order_acquire); }

void NoteChange() { g_changeCount.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace SettingsStorage
