// XML messages of the central server's application service (namespace 30)
// that the proxy sends and reads.
//
// GetModifiedFileListReq: field 1 the subclient id, field 2 the backup
// level, field 3 the last backup start time (each int64).
// GetModifiedFileListResp: field 1, the list of content paths (strings).
// MachineBrowseResp: field 1 the listed path (text), field 2 the list of
// MachineBrowseItem; its error text travels beside the fields.
// MachineBrowseItem: field 1 directory flag, 2 value, 3 size (int64 each),
// 5 the name (text).
// GenericResp: the generic answer of a request; only its presence matters here.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include "CNMessageBase.h"

namespace App {

class GetModifiedFileListReq : public CNMessageBase {
 public:
  GetModifiedFileListReq() : CNMessageBase(30, 372) {}
};

class GetModifiedFileListResp : public CNMessageBase {
 public:
  GetModifiedFileListResp() : CNMessageBase(30, 373) {}
};

class MachineBrowseItem : public CNMessageBase {
 public:
  MachineBrowseItem() : CNMessageBase(30, 270) {}
};

class MachineBrowseResp : public CNMessageBase {
 public:
  MachineBrowseResp() : CNMessageBase(30, 269) {}
  void setLastErrorEnglishA(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    m_sLastError = text;
  }
  const std::string& lastErrorEnglish() const { return m_sLastError; }

 private:
  std::string m_sLastError;
};

class GenericResp : public CNMessageBase {
 public:
  GenericResp() : CNMessageBase(30, 1) {}
};

}  // namespace App
