// Where an error frame or a log line comes from. The strings are the caller's
// literals: they are neither copied nor freed.
#pragma once

#include <cstdint>

struct FXCodeLocation {
  FXCodeLocation(const char* file, const char* function, int line)
      : m_pFile(file), m_pFunction(function), m_iLine(line) {}
  ~FXCodeLocation() {}

  const char* m_pFile;
  const char* m_pFunction;
  int32_t m_iLine;
};

// The code location of the statement that names it.
#define FX_HERE FXCodeLocation(__FILE__, __PRETTY_FUNCTION__, __LINE__)
