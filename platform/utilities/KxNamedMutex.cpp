#include "KxNamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Fnv1a.h"
#include "KXPlatformInfo.h"

namespace {

// A sanitised name longer than this keeps its head and gains a digest of
// the whole name: a file name stays within NAME_MAX.
const size_t kKeptHead = 200;

// Letters, digits, "_" and "-" stay; every other byte becomes "%XX", so any
// name is one file name and two names never share a file. A long name is
// cut to its head, then "+" (which the escaping never yields, so no short
// name can look the same) and a 128-bit digest of the whole name.
std::string Sanitise(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() <= kKeptHead) return out;
  char digest[40];
  std::snprintf(digest, sizeof(digest), "+%016llx%016llx",
                static_cast<unsigned long long>(Fnv1a64(name, kFnv1aBasis)),
                static_cast<unsigned long long>(Fnv1a64(name, kFnv1aSecondBasis)));
  out.resize(kKeptHead);
  return out + digest;
}

}  // namespace

KxNamedMutex::KxNamedMutex(const std::string& name) : m_iFd(-1) {
  m_sPath = KXPlatformInfo::RootDirectory() + "/locks/" + Sanitise(name) + ".lock";
}

KxNamedMutex::~KxNamedMutex() { unlock(); }

int KxNamedMutex::lock() {
  if (m_iFd >= 0) return 0;
  int fd = ::open(m_sPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 && errno == ENOENT) {
    // The folders are made once, by the first holder that needs them.
    const std::string locks = m_sPath.substr(0, m_sPath.rfind('/'));
    ::mkdir(locks.substr(0, locks.rfind('/')).c_str(), 0700);
    ::mkdir(locks.c_str(), 0700);
    fd = ::open(m_sPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }
  if (fd < 0) return errno;
  for (;;) {
    if (::flock(fd, LOCK_EX) == 0) break;
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    return error;
  }
  m_iFd = fd;
  return 0;
}

int KxNamedMutex::unlock() {
  if (m_iFd < 0) return 0;
  ::flock(m_iFd, LOCK_UN);
  ::close(m_iFd);
  m_iFd = -1;
  return 0;
}
