// Makers and testers of CWqError by kind. Every error made here is a failure
// (negative code) whatever number it carries: ErrorInt(location, 0) and
// ErrorInt(location, 5) are both errors, and the number is read back with
// GetInt.
#pragma once

#include <cstdint>

#include "CWqError.h"

class FXErrorUtil {
 public:
  static CWqError ErrorErrNo(const FXCodeLocation& location, int errNo);
  static CWqError ErrorErrNo(const FXCodeLocation& location, int errNo, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static CWqError ErrorWin32(const FXCodeLocation& location, uint32_t win32);
  static CWqError ErrorWin32(const FXCodeLocation& location, uint32_t win32, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static CWqError ErrorInt(const FXCodeLocation& location, int32_t value);
  static CWqError ErrorInt(const FXCodeLocation& location, int32_t value, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static CWqError ErrorEventMessage(const FXCodeLocation& location, uint32_t eventId);
  static CWqError ErrorEventMessage(const FXCodeLocation& location, uint32_t eventId,
                                    const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  static CWqError ErrorKXResult(const FXCodeLocation& location, int32_t result);
  static CWqError ErrorKXResult(const FXCodeLocation& location, int32_t result, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  static bool IsErrNo(const CWqError& error);
  static bool IsErrNo(const CWqError& error, int errNo);
  static bool IsNotErrNo(const CWqError& error, int errNo);
  static bool IsWin32(const CWqError& error);
  static bool IsWin32(const CWqError& error, uint32_t win32);
  static bool IsInt(const CWqError& error);
  static bool IsInt(const CWqError& error, int32_t value);
  static bool IsEventMessage(const CWqError& error);
  static bool IsEventMessage(const CWqError& error, uint32_t eventId);
  static bool IsNotEventMessage(const CWqError& error, uint32_t eventId);
  static bool IsKXResult(const CWqError& error);

  // The number of an error of that kind; 0 when the error is of another kind.
  static int GetErrNo(const CWqError& error);
  static uint32_t GetWin32(const CWqError& error);
  static int32_t GetInt(const CWqError& error);
  static uint32_t GetEventMessage(const CWqError& error);
  static int32_t GetKXResult(const CWqError& error);
};
