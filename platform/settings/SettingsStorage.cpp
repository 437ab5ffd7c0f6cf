#include "SettingsStorage.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "FXAtomicFile.h"
#include "FXErrorUtil.h"
#include "FXOwnerCheck.h"

namespace {

const size_t kMaxEscapedName = 200;  // leaves room for the suffixes in 255 bytes

// A descriptor closed at scope end.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
  ~FileDescriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return m_fd; }
  void reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }
  // Closes now and reports the result.
  int Close() {
    int rc = ::close(m_fd);
    m_fd = -1;
    return rc;
  }

 private:
  int m_fd;
};

// Any section name becomes one safe file name; empty when too long.
std::string SectionFileName(const std::string& section) {
  const std::string name = SettingsSection::EscapeExcept(section, [](unsigned char b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' || b == '-';
  });
  return name.size() > kMaxEscapedName ? std::string() : name + ".values";
}

CWqError NameTooLong(const std::string& section) {
  return FXErrorUtil::ErrorErrNo(FX_HERE, ENAMETOOLONG, "The settings section name [%s] is too long",
                                 section.c_str());
}

CWqError MakeDirectories(const std::string& path) {
  if (path.empty()) return FXErrorUtil::ErrorErrNo(FX_HERE, ENOENT, "No settings folder is named");
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      const int error = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot make the settings folder [%s]: %s", prefix.c_str(),
                                     std::strerror(error));
    }
  }
  return CWqError::Success();
}

// What another user could have planted: a file or folder someone else owns
// or may change. `what` names it in the error.
CWqError CheckOwnership(const struct stat& st, const std::string& what, const std::string& path) {
  const FXOwnerFault fault = FXCheckOwner(st, false);
  if (fault == FXOwnerFault::kOtherOwner)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPERM, "The settings %s [%s] belongs to user %lu, not to this user (%lu)",
                                   what.c_str(), path.c_str(), static_cast<unsigned long>(st.st_uid),
                                   static_cast<unsigned long>(::geteuid()));
  if (fault == FXOwnerFault::kWritableByOthers)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPERM, "The settings %s [%s] is writable by group or others (mode %04o)",
                                   what.c_str(), path.c_str(), static_cast<unsigned>(st.st_mode & 07777));
  return CWqError::Success();
}

// Opens the root folder and checks it; every file below is then reached
// from this descriptor, so a link swapped in after the check changes
// nothing. `absent` is set (with success) when the folder does not exist.
CWqError OpenRoot(const std::string& root, FileDescriptor& folder, bool* absent) {
  if (absent) *absent = false;
  folder.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) {
    const int error = errno;
    if (error == ENOENT && absent) {
      *absent = true;
      return CWqError::Success();
    }
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot open the settings folder [%s]: %s", root.c_str(),
                                   std::strerror(error));
  }
  struct stat st;
  if (::fstat(folder.get(), &st) != 0) {
    const int error = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot examine the settings folder [%s]: %s", root.c_str(),
                                   std::strerror(error));
  }
  CWqError checked = CheckOwnership(st, "folder", root);
  return checked.IsError() ? checked.Push(FX_HERE) : checked;
}

// Opens `name` in the folder without following a link, and checks that it
// is a regular file of this user that nobody else may change. ENOENT comes
// back as the errno of the error when it is absent (and `flags` does not
// create it).
CWqError OpenFile(int folder, const std::string& root, const std::string& name, int flags, FileDescriptor& file) {
  const std::string path = root + "/" + name;
  file.reset(::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600));
  if (file.get() < 0) {
    const int error = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot open the settings file [%s]: %s", path.c_str(),
                                   error == ELOOP ? "it is a symbolic link" : std::strerror(error));
  }
  struct stat st;
  if (::fstat(file.get(), &st) != 0) {
    const int error = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot examine the settings file [%s]: %s", path.c_str(),
                                   std::strerror(error));
  }
  if (!S_ISREG(st.st_mode))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EPERM, "The settings file [%s] is not a regular file", path.c_str());
  CWqError checked = CheckOwnership(st, "file", path);
  if (checked.IsError()) return checked.Push(FX_HERE);
  // Opened without waiting (a FIFO would have blocked); reads wait again.
  const int status = ::fcntl(file.get(), F_GETFL);
  if (status < 0 || ::fcntl(file.get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int error = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot set up the settings file [%s]: %s", path.c_str(),
                                   std::strerror(error));
  }
  return CWqError::Success();
}

CWqError ReadSection(int folder, const std::string& root, const std::string& name, SettingsSection* out) {
  FileDescriptor file;
  CWqError opened = OpenFile(folder, root, name, O_RDONLY, file);
  if (FXErrorUtil::IsErrNo(opened, ENOENT)) {
    out->Parse(std::string());
    return CWqError::Success();
  }
  if (opened.IsError()) return opened.Push(FX_HERE);
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot read the settings file [%s/%s]: %s", root.c_str(),
                                     name.c_str(), std::strerror(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  out->Parse(text);
  return CWqError::Success();
}

CWqError SyncFolder(int folder, const std::string& root) {
  if (::fsync(folder) == 0) return CWqError::Success();
  const int error = errno;
  return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot sync the settings folder [%s]: %s", root.c_str(),
                                 std::strerror(error));
}

const size_t kTemporaryLetters = 12;

std::string TemporaryPrefix(const std::string& name) { return name + ".tmp-"; }

// Writes `content` as `name` through a synced temporary file of a name
// nobody else holds ("<name>.tmp-" and twelve letters or digits) and a
// rename.
CWqError ReplaceFile(int folder, const std::string& root, const std::string& name, const std::string& content) {
  CWqError result = FXAtomicFile::Replace(folder, name, root + "/" + name, TemporaryPrefix(name), kTemporaryLetters,
                                          0600, content);
  return result.IsError() ? result.Push(FX_HERE, "Cannot write the settings file [%s/%s]", root.c_str(), name.c_str())
                          : result;
}

CWqError RemoveFile(int folder, const std::string& root, const std::string& name) {
  if (::unlinkat(folder, name.c_str(), 0) != 0) {
    const int error = errno;
    if (error == ENOENT) return CWqError::Success();
    return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot remove the settings file [%s/%s]: %s", root.c_str(),
                                   name.c_str(), std::strerror(error));
  }
  CWqError result = SyncFolder(folder, root);
  return result.IsError() ? result.Push(FX_HERE) : result;
}

}  // namespace

namespace SettingsStorage {

std::string SectionPath(const std::string& root, const std::string& section) {
  const std::string name = SectionFileName(section);
  return name.empty() ? name : root + "/" + name;
}

CWqError Read(const std::string& root, const std::string& section, SettingsSection* out) {
  const std::string name = SectionFileName(section);
  if (name.empty()) return NameTooLong(section);
  FileDescriptor folder;
  bool absent = false;
  CWqError result = OpenRoot(root, folder, &absent);
  if (result.IsError()) return result.Push(FX_HERE);
  if (absent) {
    out->Parse(std::string());
    return CWqError::Success();
  }
  result = ReadSection(folder.get(), root, name, out);
  return result.IsError() ? result.Push(FX_HERE) : result;
}

CWqError Update(const std::string& root, const std::string& section,
                const std::function<bool(SettingsSection&)>& change) {
  const std::string name = SectionFileName(section);
  if (name.empty()) return NameTooLong(section);
  CWqError result = MakeDirectories(root);
  if (result.IsError()) return result.Push(FX_HERE);
  FileDescriptor folder;
  result = OpenRoot(root, folder, nullptr);
  if (result.IsError()) return result.Push(FX_HERE);

  // The lock file is never removed, so every writer locks the same inode.
  FileDescriptor lock;
  result = OpenFile(folder.get(), root, ".lock", O_RDWR | O_CREAT, lock);
  if (result.IsError()) return result.Push(FX_HERE);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      return FXErrorUtil::ErrorErrNo(FX_HERE, error, "Cannot lock the settings folder [%s]: %s", root.c_str(),
                                     std::strerror(error));
    }
  }
  // Closing the descriptor (at scope end) releases the lock.

  SettingsSection current;
  result = ReadSection(folder.get(), root, name, &current);
  if (result.IsError()) return result.Push(FX_HERE);
  if (!change(current)) return CWqError::Success();
  // The lock keeps every other write of the store out, so a temporary of
  // this file still there was left by a writer killed before its rename.
  // Best effort: a leftover never fails the write.
  std::vector<std::string> removed;
  FXAtomicFile::RemoveTemporaries(folder.get(), TemporaryPrefix(name), kTemporaryLetters, removed);
  result = current.IsEmpty() ? RemoveFile(folder.get(), root, name)
                             : ReplaceFile(folder.get(), root, name, current.Serialize());
  NoteChange();  // after the file has changed, so a reader never keeps the old values
  return result.IsError() ? result.Push(FX_HERE) : result;
}

namespace {
std::atomic<uint64_t> g_changeCount(0);
}  // namespace

uint64_t ChangeCount() { return g_changeCount.load(std::memory_order_acquire); }

void NoteChange() { g_changeCount.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace SettingsStorage
