#include "CxHeaderConversion.h"

#include <cerrno>
#include <cstring>

#include "FXErrorUtil.h"
#include "FXLogWriter.h"

namespace {

// Header flag bits.
const uint64_t kKindMask = 0xF0;
const uint64_t kArchiveData = 0x2;
const uint64_t kReferenceBits = 0x5;
const uint64_t kReferenceAttrBit = 0x8;
const uint64_t kAttributes600Flag = 0x10000000000ull;
const uint64_t kReferenceAttrFlag = 0x8000000000ull;

bool TakesReferences(uint64_t kind) { return kind == 0x10 || kind == 0x20 || kind == 0x40; }

}  // namespace

std::string PrintableClientName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == 0) {
      out += "\\0";
    } else if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

CWqError ConvertClientHeader(const ClProxyFileHeader& header, int32_t clientOsType, uint64_t referenceMark,
                             CXFileHeader& cx) {
  // The name field has a fixed capacity: refuse rather than cut a name
  // (the archive would record a file that does not exist).
  if (header.name.size() >= CXFileHeader::kNameCapacity)
    return FXErrorUtil::ErrorErrNo(FX_HERE, ENAMETOOLONG,
                                   "File name of %zu characters does not fit the header's %u: %.200s...",
                                   header.name.size(), CXFileHeader::kNameCapacity - 1,
                                   PrintableClientName(header.name).c_str());
  // The archive keeps the name as a C string: a NUL inside would cut it, and
  // two different client files would land on one archive name.
  const size_t nul = header.name.find('\0');
  if (nul != std::string::npos)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "File name holds a NUL at byte %zu: %.300s", nul,
                                   PrintableClientName(header.name).c_str());
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
  cx.clientOsType = clientOsType;
  cx.platformFlags = flags;
  std::memcpy(cx.name, header.name.c_str(), header.name.size() + 1);

  if (TakesReferences(kind) && (flags & kReferenceBits) != 0 && (flags & kArchiveData) == 0) {
    cx.platformFlags |= referenceMark;
    FX_LOG(3, "Backup file %s as reference to archive", header.name.c_str());
    if (flags & kReferenceAttrBit) {
      cx.attributes |= 0x200;
      cx.platformFlags |= kReferenceAttrFlag;
    }
  }
  if (flags & kAttributes600Flag) cx.attributes |= 0x600;
  if (kind == 0x40 && (flags & kArchiveData) != 0) cx.attributes |= 0x400;
  return CWqError::Success();
}
