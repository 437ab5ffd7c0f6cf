#include "FXFormat.h"

#include <cstdio>

std::string FXFormatV(const char* format, va_list args) {
  if (!format) return std::string();
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_copy(copy, args);
  std::vsnprintf(&out[0], out.size(), format, copy);
  va_end(copy);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string FXFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FXFormatV(format, args);
  va_end(args);
  return out;
}
