// CWqError: the result of nearly every operation, returned by value.
//
// A signed 32-bit code (0 success, negative failure) and a chain of detail
// frames shared by every copy. Errors are made by kind with FXErrorUtil; the
// kind and the number it carries can be read back from any copy. A caller
// that passes an error up pushes its own code location with Push.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/any.hpp>
#include <boost/shared_ptr.hpp>

#include "FXCodeLocation.h"

// What an error's number means.
enum FXErrorKind {
  FX_ERROR_NONE = 0,
  FX_ERROR_ERRNO = 1,          // operating-system error number
  FX_ERROR_WIN32 = 2,          // Windows-style error number
  FX_ERROR_INT = 3,            // plain integer
  FX_ERROR_EVENT_MESSAGE = 4,  // event id of the message catalogue
  FX_ERROR_KX_RESULT = 5,      // platform result code
};

// One pushed frame: where, and an optional formatted text.
struct FXErrorFrame {
  std::string file;
  std::string function;
  int32_t line = 0;
  std::string text;
};

// The shared part of an error: its kind, number, frames and parameters.
struct FXErrorPrivate {
  FXErrorKind kind = FX_ERROR_NONE;
  int64_t number = 0;
  std::vector<FXErrorFrame> frames;        // oldest first
  std::vector<boost::any> parameters;      // message parameters (operator<<)
};

// Output forms of AsString.
enum EErrorOutputFormat {
  ERROR_OUTPUT_CHAIN = 0,     // AsString(): kind, number, then a line per frame
  ERROR_OUTPUT_TEXT = 1,      // the frames' texts, newest first, one line
  ERROR_OUTPUT_ONE_LINE = 2,  // "<texts> (<kind> <number>)", one line, for peers and logs
};

class CWqError {
 public:
  CWqError() : m_iCode(0) {}
  CWqError(const CWqError& other) = default;
  CWqError& operator=(const CWqError& other) = default;

  static CWqError Success() { return CWqError(); }

  bool IsError() const { return m_iCode < 0; }
  int32_t GetCode() const { return m_iCode; }

  // Appends a string parameter; a null pointer appends an empty string.
  CWqError& operator<<(const char* text) {
    return *this << boost::any(std::string(text ? text : ""));
  }
  CWqError& operator<<(const boost::any& parameter);

  // Pushes a frame with the caller's code location and an optional text.
  CWqError& Push(const FXCodeLocation& location);
  CWqError& Push(const FXCodeLocation& location, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  // The whole chain as one text, newest frame first, for log lines.
  std::string AsString() const;
  std::string AsString(EErrorOutputFormat format) const;
  // A copy with a chain of its own: frames pushed on it do not reach the
  // original or its other copies.
  CWqError Copy() const;

  // Read-back of what FXErrorUtil made; FX_ERROR_NONE and 0 for success.
  FXErrorKind GetKind() const;
  int64_t GetNumber() const;
  std::vector<boost::any> GetParameters() const;
  std::vector<FXErrorFrame> GetFrames() const;

  // Used by FXErrorUtil's makers.
  // A null format or args leaves the frame without text.
  static CWqError Make(FXErrorKind kind, int64_t number, const FXCodeLocation& location,
                       const char* format, va_list* args);

 private:
  FXErrorPrivate& Private();

  int32_t m_iCode;
  boost::shared_ptr<FXErrorPrivate> m_ptrPrivate;
};
