// The local file reader of the database file-backup phase.
#include "DBClientFileBackup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FXLogWriter.h"

namespace {

const char* TypeName(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "not a regular file";
}

}  // namespace

DBClientFileBackup::DBClientFileBackup()
    : m_bInitialized(false),
      m_ullFileSize(0),
      m_ullStartOffset(0),
      m_iFileErrno(0),
      m_bDirectory(false),
      m_iFd(-1) {
  FX_LOG(65, "#~~+ DBClientFileBackup %p", static_cast<void*>(this));
}

DBClientFileBackup::~DBClientFileBackup() {
  m_headerSerializer.clearHeader();
  if (m_iFd >= 0) ::close(m_iFd);
  FX_LOG(65, "#~~- DBClientFileBackup %p", static_cast<void*>(this));
}

int DBClientFileBackup::failed() {
  FX_LOG(-1, "Failed, file=%s", m_sFileName.c_str());
  return 1;
}

int DBClientFileBackup::notReadable(mode_t mode) {
  m_iFileErrno = EINVAL;
  m_sFileErrorText = "Not a regular file: " + m_sFileName + " is " + TypeName(mode);
  FX_LOG(-1, "%s", m_sFileErrorText.c_str());
  return failed();
}

int DBClientFileBackup::init(const std::string& fileName, uint64_t startOffset) {
  FX_ASSUME(m_bInitialized == false);
  if (m_iFd >= 0) ::close(m_iFd);
  m_iFd = -1;
  m_sFileName = fileName;
  m_ullStartOffset = startOffset;
  m_sFileErrorText.clear();

  struct stat64 st;
  if (::lstat64(fileName.c_str(), &st) != 0) {
    m_iFileErrno = errno;
    FX_LOG(-1, "Failed to stat file, status=%d, errno=%d", 1, m_iFileErrno);
    return failed();
  }
  ClProxyFileHeader header;
  header.name = fileName;
  header.mode = st.st_mode;
  header.uid = st.st_uid;
  header.gid = st.st_gid;
  header.size = static_cast<uint64_t>(st.st_size);
  header.ctime = static_cast<uint64_t>(st.st_ctime);
  header.mtime = static_cast<uint64_t>(st.st_mtime);
  header.atime = static_cast<uint64_t>(st.st_atime);
  header.offset = startOffset;
  if (S_ISDIR(st.st_mode)) {
    FX_LOG(4, "Backing up directory=%s\n", fileName.c_str());
    m_bDirectory = true;
    m_sFileName += ".DIR";
  }
  m_ullFileSize = static_cast<uint64_t>(st.st_size);

  // Refused before any open: opening a tape device can rewind it, a
  // terminal can become the controlling terminal. What is judged is the
  // path opened (a directory's .DIR twin), a link by what it leads to now;
  // the check after the open still catches a swap.
  const auto readable = [this](mode_t mode) { return S_ISREG(mode) || (m_bDirectory && S_ISDIR(mode)); };
  struct stat64 target = st;
  if ((m_bDirectory || S_ISLNK(st.st_mode)) && ::stat64(m_sFileName.c_str(), &target) != 0) {
    m_iFileErrno = errno;
    FX_LOG(-1, "Failed to stat the file to open, errno=%d", m_iFileErrno);
    return failed();
  }
  if (!readable(target.st_mode)) return notReadable(target.st_mode);

  // Without blocking and without a controlling terminal, should the entry
  // have changed since the check.
  const int fd = ::open(m_sFileName.c_str(), O_RDONLY | O_LARGEFILE | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    m_iFileErrno = errno;
    FX_LOG(-1, "Failed to open file, status=%d, errno=%d\n", 1, m_iFileErrno);
    return failed();
  }
  struct stat64 opened;
  if (::fstat64(fd, &opened) != 0) {
    m_iFileErrno = errno;
    ::close(fd);
    FX_LOG(-1, "Failed to stat the opened file, errno=%d", m_iFileErrno);
    return failed();
  }
  if (!readable(opened.st_mode)) {
    ::close(fd);
    return notReadable(opened.st_mode);
  }
  // Reads of a regular file block as usual from here on.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  m_iFd = fd;
  m_headerSerializer.setHeader(header);
  m_bInitialized = true;
  return 0;
}

int DBClientFileBackup::getHeader(char*& buf, uint32_t& bufSize) {
  FX_ASSUME(m_bInitialized == true);
  buf = nullptr;
  bufSize = 0;
  const uint32_t size = m_headerSerializer.getBufSize();
  char* bytes = static_cast<char*>(std::malloc(size ? size : 1));
  if (!bytes) {
    m_iFileErrno = ENOMEM;
    FX_LOG(-1, "No memory for a header of %u bytes for file %s", size, m_sFileName.c_str());
    return failed();
  }
  FX_LOG(4, "Serializing header for file=%s, common header size=%d, optional header size=%d", m_sFileName.c_str(),
         static_cast<int>(size), static_cast<int>(m_optHeaderSerializer.getBufSize()));
  uint32_t used = 0;
  int status = m_headerSerializer.serialize(bytes, size, used);
  if (status == 0 && used != size) {
    // Bytes left unwritten would go to the archive as part of the header.
    FX_LOG(-1, "The buf size %d is not equal the usedBufSize %d for file %s\n", static_cast<int>(size),
           static_cast<int>(used), m_sFileName.c_str());
    FX_ASSUME(size == used);
    status = 1;
  }
  if (status != 0) {
    FX_LOG(-1, "Failed to serialize common header, status=%d\n", status);
    FX_LOG(-1, "Failed, file=%s", m_sFileName.c_str());
    std::free(bytes);
    return status;
  }
  buf = bytes;
  bufSize = size;
  return 0;
}

int DBClientFileBackup::getData(char*& buf, uint32_t& bufSize) {
  FX_ASSUME(buf != nullptr);
  FX_ASSUME(bufSize != 0);
  FX_ASSUME(m_bInitialized == true);
  if (m_bDirectory) {
    bufSize = 0;
    FX_LOG(4, "Not returning any data for directory, %s", m_sFileName.c_str());
    return 10;
  }
  if (!buf || bufSize == 0 || m_iFd < 0) {
    bufSize = 0;
    m_iFileErrno = EBADF;
    return 11;
  }
  ssize_t n;
  do {
    n = ::read(m_iFd, buf, bufSize);
  } while (n < 0 && errno == EINTR);
  FX_LOG(4, "fileName [%s], readBytes [%d]", m_sFileName.c_str(), static_cast<int>(n));
  if (n < 0) {
    m_iFileErrno = errno;
    FX_LOG(-1, "Failed to read, readBytes=%d, errno=%d, error=%s", -1, m_iFileErrno, std::strerror(m_iFileErrno));
    FX_LOG(-1, "Failed to get next data, status=%d, errno=%d", 11, m_iFileErrno);
    bufSize = 0;
    return 11;
  }
  if (n == 0) {
    bufSize = 0;
    return 10;
  }
  bufSize = static_cast<uint32_t>(n);
  return 0;
}
