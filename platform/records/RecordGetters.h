// Shared tail of every record getter: turn a registry answer into the
// getter's out-value and result. The out-value is written only on success;
// on failure the optional text receives the result's text.
#pragma once

#include <cstdint>
#include <string>

#include "RecordRegistry.h"

namespace RecordGetters {

inline int Finish(int result, std::string* errorText) {
  if (result != KXR_SUCCESS && errorText) *errorText = KXRecordResultText(result);
  return result;
}

template <class T>
int Integer(int result, const RecordValue& value, T& out, std::string* errorText) {
  int64_t read = 0;
  if (result == KXR_SUCCESS) {
    if (value.AsInteger(&read))
      out = static_cast<T>(read);
    else
      result = KXR_NO_VALUE;
  }
  return Finish(result, errorText);
}

inline int Boolean(int result, const RecordValue& value, bool& out, std::string* errorText) {
  bool read = false;
  if (result == KXR_SUCCESS) {
    if (value.AsBoolean(&read))
      out = read;
    else
      result = KXR_NO_VALUE;
  }
  return Finish(result, errorText);
}

inline int String(int result, const RecordValue& value, std::string& out,
                  std::string* errorText) {
  std::string read;
  if (result == KXR_SUCCESS) {
    if (value.AsString(&read))
      out.swap(read);
    else
      result = KXR_NO_VALUE;
  }
  return Finish(result, errorText);
}

}  // namespace RecordGetters
