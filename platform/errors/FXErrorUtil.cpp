#include "FXErrorUtil.h"

namespace {

CWqError MakeWith(FXErrorKind kind, int64_t number, const FXCodeLocation& location) {
  return CWqError::Make(kind, number, location, nullptr, nullptr);
}

bool IsKind(const CWqError& error, FXErrorKind kind) {
  return error.IsError() && error.GetKind() == kind;
}

bool IsKindNumber(const CWqError& error, FXErrorKind kind, int64_t number) {
  return IsKind(error, kind) && error.GetNumber() == number;
}

}  // namespace

#define FX_DEFINE_MAKER(Name, Kind, Type, ToNumber)                                         \
  CWqError FXErrorUtil::Name(const FXCodeLocation& location, Type value) {                 \
    return MakeWith(Kind, ToNumber(value), location);                                      \
  }                                                                                        \
  CWqError FXErrorUtil::Name(const FXCodeLocation& location, Type value, const char* format, \
                             ...) {                                                        \
    va_list args;                                                                          \
    va_start(args, format);                                                                \
    CWqError error = CWqError::Make(Kind, ToNumber(value), location, format, &args);        \
    va_end(args);                                                                          \
    return error;                                                                          \
  }

#define FX_SIGNED(v) static_cast<int64_t>(v)
#define FX_UNSIGNED(v) static_cast<int64_t>(static_cast<uint32_t>(v))

FX_DEFINE_MAKER(ErrorErrNo, FX_ERROR_ERRNO, int, FX_SIGNED)
FX_DEFINE_MAKER(ErrorWin32, FX_ERROR_WIN32, uint32_t, FX_UNSIGNED)
FX_DEFINE_MAKER(ErrorInt, FX_ERROR_INT, int32_t, FX_SIGNED)
FX_DEFINE_MAKER(ErrorEventMessage, FX_ERROR_EVENT_MESSAGE, uint32_t, FX_UNSIGNED)
FX_DEFINE_MAKER(ErrorKXResult, FX_ERROR_KX_RESULT, int32_t, FX_SIGNED)

bool FXErrorUtil::IsErrNo(const CWqError& e) { return IsKind(e, FX_ERROR_ERRNO); }
bool FXErrorUtil::IsErrNo(const CWqError& e, int n) { return IsKindNumber(e, FX_ERROR_ERRNO, n); }
bool FXErrorUtil::IsNotErrNo(const CWqError& e, int n) { return !IsErrNo(e, n); }
bool FXErrorUtil::IsWin32(const CWqError& e) { return IsKind(e, FX_ERROR_WIN32); }
bool FXErrorUtil::IsWin32(const CWqError& e, uint32_t n) {
  return IsKindNumber(e, FX_ERROR_WIN32, FX_UNSIGNED(n));
}
bool FXErrorUtil::IsInt(const CWqError& e) { return IsKind(e, FX_ERROR_INT); }
bool FXErrorUtil::IsInt(const CWqError& e, int32_t n) { return IsKindNumber(e, FX_ERROR_INT, n); }
bool FXErrorUtil::IsEventMessage(const CWqError& e) { return IsKind(e, FX_ERROR_EVENT_MESSAGE); }
bool FXErrorUtil::IsEventMessage(const CWqError& e, uint32_t id) {
  return IsKindNumber(e, FX_ERROR_EVENT_MESSAGE, FX_UNSIGNED(id));
}
bool FXErrorUtil::IsNotEventMessage(const CWqError& e, uint32_t id) { return !IsEventMessage(e, id); }
bool FXErrorUtil::IsKXResult(const CWqError& e) { return IsKind(e, FX_ERROR_KX_RESULT); }

int FXErrorUtil::GetErrNo(const CWqError& e) {
  return IsErrNo(e) ? static_cast<int>(e.GetNumber()) : 0;
}
uint32_t FXErrorUtil::GetWin32(const CWqError& e) {
  return IsWin32(e) ? static_cast<uint32_t>(e.GetNumber()) : 0;
}
int32_t FXErrorUtil::GetInt(const CWqError& e) {
  return IsInt(e) ? static_cast<int32_t>(e.GetNumber()) : 0;
}
uint32_t FXErrorUtil::GetEventMessage(const CWqError& e) {
  return IsEventMessage(e) ? static_cast<uint32_t>(e.GetNumber()) : 0;
}
int32_t FXErrorUtil::GetKXResult(const CWqError& e) {
  return IsKXResult(e) ? static_cast<int32_t>(e.GetNumber()) : 0;
}
