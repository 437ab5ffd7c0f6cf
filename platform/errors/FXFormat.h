// printf-style formatting into a std::string, and the text of a typed
// parameter.
#pragma once

#include <cstdarg>
#include <string>

#include <boost/any.hpp>

std::string FXFormatV(const char* format, va_list args);
std::string FXFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text of an error's or an event's parameter: a string (std::string,
// const char*, char*; null gives "") as it is, an integer in decimal, "?"
// for any other type.
std::string FXAnyText(const boost::any& value);
