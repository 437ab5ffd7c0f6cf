#include "SimRestoreFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "ClBasicMsgs.h"
#include "ClFileStreamMsgs.h"
#include "SimRestoreProgram.h"

namespace {

const uint32_t kStatusRestored = 5;
// The longest link target taken; a longer one fails the item.
const size_t kMaxLinkTarget = PATH_MAX;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

timespec TimeOf(uint64_t seconds) {
  timespec t;
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = 0;
  return t;
}

}  // namespace

SimRestoreFiles::SimRestoreFiles(const std::string& root) : m_rootFd(-1), m_rootErrno(0) {
  m_rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (m_rootFd < 0) m_rootErrno = errno;
}

SimRestoreFiles::~SimRestoreFiles() {
  Drop();
  CloseFd(m_rootFd);
}

void SimRestoreFiles::Handle(const ClProxyMsg& message, std::vector<std::shared_ptr<ClProxyMsg>>& replies,
                             bool& done) {
  const ClBlobMsg* blob = dynamic_cast<const ClBlobMsg*>(&message);
  switch (message.getMsgType()) {
    case FILE_HEADER_MSG: {
      Drop();
      ClProxyFileHeaderSerializer serializer;
      uint32_t used = 0;
      if (!blob || serializer.deserialize(blob->getBlob(), blob->getBlobSize(), used) != 0) {
        m_header = ClProxyFileHeader();
        m_failed = true;
        Fail(EPROTO, "the file header does not decode", replies);
        return;
      }
      ClProxyFileHeader header;
      serializer.getHeader(header);
      Open(header, replies);
      return;
    }
    case FILE_DATA_MSG:
      if (blob) Write(blob->getBlob(), blob->getBlobSize(), replies);
      return;
    case GOOD_EOF_MSG:
      Finish(replies);
      return;
    case BAD_EOF_MSG:
      Drop();
      return;
    case SOURCE_FILTERS_MSG: {
      if (!blob) return;
      const std::string chunk(reinterpret_cast<const char*>(blob->getBlob()), blob->getBlobSize());
      size_t from = 0;
      for (size_t at = chunk.find(';');; at = chunk.find(';', from)) {
        m_filters.push_back(chunk.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) break;
        from = at + 1;
      }
      return;
    }
    case JOB_COMPLETE_MSG:
      Drop();
      replies.push_back(SimRestoreProgram::Empty(GOOD_EOF_MSG));
      done = true;
      return;
    default:
      return;
  }
}

int SimRestoreFiles::ParentOf(const std::string& name, std::string& leaf) {
  if (m_rootFd < 0) {
    errno = m_rootErrno ? m_rootErrno : EBADF;
    return -1;
  }
  if (name.find('\0') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "." || part == "..") {
      errno = EACCES;
      return -1;
    }
    if (!part.empty()) parts.push_back(part);
    start = end + 1;
  }
  if (parts.empty()) {  // the root itself
    errno = EISDIR;
    return -1;
  }
  leaf = parts.back();
  parts.pop_back();
  int fd = ::dup(m_rootFd);
  if (fd < 0) return -1;
  for (const std::string& part : parts) {
    if (::mkdirat(fd, part.c_str(), 0755) != 0 && errno != EEXIST) {
      const int errNo = errno;
      ::close(fd);
      errno = errNo;
      return -1;
    }
    // Never through a link: a folder on the way must be a real folder, so
    // nothing is written outside the root.
    const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int errNo = errno;
    ::close(fd);
    if (next < 0) {
      errno = errNo;
      return -1;
    }
    fd = next;
  }
  return fd;
}

void SimRestoreFiles::Open(const ClProxyFileHeader& header, std::vector<std::shared_ptr<ClProxyMsg>>& replies) {
  m_header = header;
  m_failed = false;
  m_created = false;
  m_written = 0;
  m_linkTarget.clear();
  const mode_t type = static_cast<mode_t>(header.mode) & S_IFMT;
  m_kind = type == S_IFDIR ? kFolder : type == S_IFLNK ? kLink : kFile;
  if (m_kind == kFolder && header.name.find_first_not_of('/') == std::string::npos && !header.name.empty()) {
    m_itemFd = ::dup(m_rootFd);  // the root itself: only its mode and mtime
    if (m_itemFd < 0) Fail(m_rootFd < 0 ? (m_rootErrno ? m_rootErrno : EBADF) : errno, "open the root", replies);
    return;
  }
  m_parentFd = ParentOf(header.name, m_leaf);
  if (m_parentFd < 0) {
    Fail(errno, "resolve the name inside the root", replies);
    return;
  }
  if (m_kind == kFolder) {
    if (::mkdirat(m_parentFd, m_leaf.c_str(), 0700) != 0 && errno != EEXIST) {
      Fail(errno, "make the folder", replies);
      return;
    }
    m_itemFd = ::openat(m_parentFd, m_leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_itemFd < 0) Fail(errno, "open the folder", replies);
  } else if (m_kind == kFile) {
    m_itemFd = ::openat(m_parentFd, m_leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_itemFd < 0)
      Fail(errno, "create the file", replies);
    else
      m_created = true;
  }
}

void SimRestoreFiles::Write(const uint8_t* data, uint32_t size, std::vector<std::shared_ptr<ClProxyMsg>>& replies) {
  if (m_kind == kNone || m_failed) return;
  if (m_kind == kLink) {
    if (m_linkTarget.size() + size > kMaxLinkTarget) {
      Fail(ENAMETOOLONG, "take the link's target", replies);
      return;
    }
    m_linkTarget.append(reinterpret_cast<const char*>(data), size);
    m_written += size;
    return;
  }
  if (m_kind != kFile) return;  // a folder has no data
  uint32_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(m_itemFd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail(n < 0 ? errno : EIO, "write the file", replies);
      return;
    }
    done += static_cast<uint32_t>(n);
    m_written += static_cast<uint64_t>(n);
    m_totals.bytes += static_cast<uint64_t>(n);
  }
}

void SimRestoreFiles::Finish(std::vector<std::shared_ptr<ClProxyMsg>>& replies) {
  if (m_kind == kNone) return;  // the end of the source filters
  if (m_failed) {
    Drop();
    return;
  }
  const timespec times[2] = {TimeOf(m_header.mtime), TimeOf(m_header.mtime)};
  const mode_t permissions = static_cast<mode_t>(m_header.mode) & 07777;
  if (m_kind == kLink) {
    if (m_linkTarget.empty() || m_linkTarget.find('\0') != std::string::npos) {
      Fail(EINVAL, "make the link", replies);
      return;
    }
    struct stat st;
    if (::fstatat(m_parentFd, m_leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
      ::unlinkat(m_parentFd, m_leaf.c_str(), 0);
    if (::symlinkat(m_linkTarget.c_str(), m_parentFd, m_leaf.c_str()) != 0) {
      Fail(errno, "make the link", replies);
      return;
    }
    ::utimensat(m_parentFd, m_leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
    ++m_totals.links;
  } else {
    // A folder keeps its owner's way in: the items below it come later.
    const mode_t mode = m_kind == kFolder ? (permissions | S_IRWXU) : permissions;
    if (::fchmod(m_itemFd, mode) != 0 || ::futimens(m_itemFd, times) != 0) {
      Fail(errno, "set the mode and modification time", replies);
      return;
    }
    if (::close(m_itemFd) != 0) {  // a late write error shows here
      m_itemFd = -1;
      Fail(errno, "close the file", replies);
      return;
    }
    m_itemFd = -1;
    ++(m_kind == kFolder ? m_totals.folders : m_totals.files);
  }
  SimRestoreProgram::StatusEntry entry;
  entry.name = m_header.name;
  entry.status = kStatusRestored;
  entry.value = m_written;
  replies.push_back(SimRestoreProgram::ItemStatus({entry}));
  m_created = false;  // complete: nothing to remove
  Drop();
}

void SimRestoreFiles::Drop() {
  CloseFd(m_itemFd);
  if (m_created && m_parentFd >= 0) ::unlinkat(m_parentFd, m_leaf.c_str(), 0);
  CloseFd(m_parentFd);
  m_kind = kNone;
  m_failed = false;
  m_created = false;
  m_linkTarget.clear();
}

void SimRestoreFiles::Fail(int errNo, const std::string& what, std::vector<std::shared_ptr<ClProxyMsg>>& replies) {
  ++m_totals.failed;
  if (errNo == ENOSPC) {
    replies.push_back(SimRestoreProgram::Empty(DISK_FULL_MSG));
  } else {
    replies.push_back(SimRestoreProgram::FailedFile(m_header.name, errNo,
                                                    "Cannot " + what + ": " + std::strerror(errNo)));
  }
  // The partial file goes now; the item stays open (failed) so that its
  // later data and its end are ignored.
  CloseFd(m_itemFd);
  if (m_created && m_parentFd >= 0) ::unlinkat(m_parentFd, m_leaf.c_str(), 0);
  m_created = false;
  CloseFd(m_parentFd);
  if (m_kind == kNone) m_kind = kFile;
  m_failed = true;
}
