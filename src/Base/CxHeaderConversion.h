// The conversion of a client's file header into the host's CXFileHeader,
// shared by the backup phase and the DR file stream: the fixed fields, the
// reference rule and the attribute rules. The two streams differ only in the
// flag bit a reference gains besides the reference-attribute bit.
#pragma once

#include <cstdint>
#include <string>

#include "CWqError.h"
#include "CXFileHeader.h"
#include "ClProxyFileHeader.h"

// A client's file name as a log line or a failure report may show it: a
// backslash doubled, a NUL as backslash-0, another control byte as
// backslash-x and two hex digits.
std::string PrintableClientName(const std::string& name);

// ENAMETOOLONG, nothing written, when the name does not fit the host
// header's name field; EINVAL, nothing written, when a NUL stands inside
// the name. Otherwise fills the fields a stream sets (others keep their
// values; `attributes` is only OR-ed into). A reference to an archive gains
// `referenceMark` in platformFlags, and 0x200 in attributes with
// 0x8000000000 in platformFlags when its attribute bit is set.
CWqError ConvertClientHeader(const ClProxyFileHeader& header, int32_t clientOsType, uint64_t referenceMark,
                             CXFileHeader& cx);
