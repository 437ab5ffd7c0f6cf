// The conversion of a client's file header into the host's CXFileHeader,
// shared by the backup phase and the DR file stream: the fixed fields, the
// reference rule and the attribute rules. The two streams differ only in the
// flag bit a reference gains besides the reference-attribute bit.
#pragma once

#include <cstdint>

#include "CWqError.h"
#include "CXFileHeader.h"
#include "ClProxyFileHeader.h"

// ENAMETOOLONG, nothing written, when the name does not fit the host
// header's name field. Otherwise fills the fields a stream sets (others
// keep their values; `attributes` is only OR-ed into). A reference to an
// archive gains `referenceMark` in platformFlags, and 0x200 in attributes
// with 0x8000000000 in platformFlags when its attribute bit is set.
CWqError ConvertClientHeader(const ClProxyFileHeader& header, int32_t clientOsType, uint64_t referenceMark,
                             CXFileHeader& cx);
