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

std::string FXAnyText(const boost::any& value) {
  if (const std::string* s = boost::any_cast<std::string>(&value)) return *s;
  if (const char* const* p = boost::any_cast<const char*>(&value)) return *p ? *p : "";
  if (char* const* p = boost::any_cast<char*>(&value)) return *p ? *p : "";
  if (const int* i = boost::any_cast<int>(&value)) return std::to_string(*i);
  if (const unsigned* u = boost::any_cast<unsigned>(&value)) return std::to_string(*u);
  if (const long* l = boost::any_cast<long>(&value)) return std::to_string(*l);
  if (const unsigned long* ul = boost::any_cast<unsigned long>(&value)) return std::to_string(*ul);
  if (const long long* ll = boost::any_cast<long long>(&value)) return std::to_string(*ll);
  if (const unsigned long long* ull = boost::any_cast<unsigned long long>(&value))
    return std::to_string(*ull);
  return "?";
}
