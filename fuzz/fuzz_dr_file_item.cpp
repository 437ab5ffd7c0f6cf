// The DR file stream's item decoder on arbitrary bytes: a FILE_HEADER_MSG
// blob (file header, then tape barcode) into the host's CXFileHeader.
//
// Checked: no crash or sanitizer report; a decoded name is written only
// when it fits and holds no NUL, NUL-terminated, with its length (what a C
// string of it gives back); the converted flags are
// the received ones plus at most the reference-attribute bit; attributes
// gain only 0x200, 0x400 and 0x600 bits.
#include <cstring>
#include <string>

#include "CxHeaderConversion.h"
#include "FuzzSupport.h"
#include "service/IBMiDRClientConnection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = (FuzzQuietLogging(), true);
  (void)quiet;
  ClProxyFileHeaderSerializer header;
  std::string barcode;
  if (IBMiDRClientConnectionInterface::DecodeFileItem(data, static_cast<uint32_t>(size), header, barcode) != 0)
    return 0;
  CXFileHeader cx;
  const CWqError converted = ConvertClientHeader(header, 118, 0, cx);
  if (converted.IsError()) {
    FUZZ_CHECK(header.name.size() >= CXFileHeader::kNameCapacity || header.name.find('\0') != std::string::npos,
               "a fitting name was refused");
    FUZZ_CHECK(cx.name[0] == '\0' && cx.headerType == 0, "a refused header was written");
    return 0;
  }
  FUZZ_CHECK(cx.nameLength == header.name.size() + 1, "name length %u for %zu", cx.nameLength, header.name.size());
  // The index reads the name as a C string: it must end where nameLength says.
  FUZZ_CHECK(std::strlen(cx.name) + 1 == cx.nameLength, "name of %zu characters with length %u", std::strlen(cx.name),
             cx.nameLength);
  FUZZ_CHECK(std::memcmp(cx.name, header.name.data(), header.name.size()) == 0 && cx.name[header.name.size()] == '\0',
             "name not copied whole");
  FUZZ_CHECK((cx.platformFlags & ~0x8000000000ull) == (header.flags & ~0x8000000000ull), "flags changed");
  FUZZ_CHECK((cx.attributes & ~0x600u) == 0, "attribute bits 0x%x", cx.attributes);
  FUZZ_CHECK(cx.headerType == 3 && cx.pathSeparator == '/' && cx.clientOsType == 118, "fixed fields");
  return 0;
}
