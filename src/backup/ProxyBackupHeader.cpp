// Conversion of the current client file header into the host's forms.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "ProxyBackup.h"

namespace {

const char kHardLinkStore[] = "/__KXHardLink@-@-Files__/";

// Header flag bits.
const uint64_t kKindMask = 0xF0;
const uint64_t kArchiveData = 0x2;
const uint64_t kReferenceBits = 0x5;
const uint64_t kReferenceAttrBit = 0x8;
const uint64_t kAttributes600Flag = 0x10000000000ull;
// Bits added to the converted flags.
const uint64_t kReferenceFlag = 0x2000000000000000ull;
const uint64_t kReferenceAttrFlag = 0x8000000000ull;

bool TakesReferences(uint64_t kind) { return kind == 0x10 || kind == 0x20 || kind == 0x40; }

}  // namespace

std::string ProxyBackup::getFileName() const { return m_headerSerializer.name; }

CWqError ProxyBackup::getCxHeader(CXFileHeader& cx) {
  const ClProxyFileHeader& header = m_headerSerializer;
  // The name field has a fixed capacity: refuse rather than cut a name
  // (the archive would record a file that does not exist).
  if (header.name.size() >= CXFileHeader::kNameCapacity)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENAMETOOLONG,
                                   "File name of %zu characters does not fit the header's %u: %.200s...",
                                   header.name.size(), CXFileHeader::kNameCapacity - 1, header.name.c_str());
  const uint64_t flags = header.flags;
  const uint64_t kind = flags & kKindMask;

  cx.headerType = 3;
  cx.nameLength = static_cast<uint32_t>(header.name.size() + 1);
  cx.mode = header.mode;
  cx.uid = header.uid;
  cx.gid = header.gid;
  cx.size = header.size;
  cx.mtime = header.mtime;
  cx.ctime = header.ctime;
  cx.offset = header.offset;
  cx.pathSeparator = '/';
  cx.clientOsType = m_iClientOSId;
  cx.platformFlags = flags;
  std::memcpy(cx.name, header.name.c_str(), header.name.size() + 1);
  m_sCurrentFile = header.name;

  if (TakesReferences(kind) && (flags & kReferenceBits) != 0 && (flags & kArchiveData) == 0) {
    cx.platformFlags |= kReferenceFlag;
    FX_LOG(3, "Backup file %s as reference to archive", header.name.c_str());
    if (flags & kReferenceAttrBit) {
      cx.attributes |= 0x200;
      cx.platformFlags |= kReferenceAttrFlag;
    }
  }
  if (flags & kAttributes600Flag) cx.attributes |= 0x600;
  if (kind == 0x40 && (flags & kArchiveData) != 0) cx.attributes |= 0x400;

  FX_LOG(4, "Backup %s %s with platform flags %llX size:%llu time:%llu offset:%llu",
         (header.mode & 0xF000) == 0x4000 ? "folder" : "file", header.name.c_str(),
         static_cast<unsigned long long>(cx.platformFlags), static_cast<unsigned long long>(header.size),
         static_cast<unsigned long long>(header.mtime), static_cast<unsigned long long>(header.offset));
  return CWqError::Success();
}

void ProxyBackup::fillStatBuffer(struct stat* st) {
  if (!st) return;
  const ClProxyFileHeader& header = m_headerSerializer;
  st->st_mode = static_cast<mode_t>(static_cast<uint32_t>(header.mode));
  st->st_uid = static_cast<uid_t>(static_cast<uint32_t>(header.uid));
  st->st_gid = static_cast<gid_t>(static_cast<uint32_t>(header.gid));
  st->st_size = static_cast<off_t>(header.size);
  st->st_atim.tv_sec = static_cast<time_t>(header.atime);
  st->st_mtim.tv_sec = static_cast<time_t>(header.mtime);
  st->st_ctim.tv_sec = static_cast<time_t>(header.ctime);
}

bool ProxyBackup::isProxyFile(const std::string& path) const {
  if (FXString::CompareLeftNoCase(path, m_sClientBaseDir) == 0) return true;
  return path.compare(0, sizeof kHardLinkStore - 1, kHardLinkStore) == 0;
}
