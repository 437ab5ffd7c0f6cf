#include "RecordValue.h"

bool RecordValue::AsInteger(int64_t* out) const {
  if (m_type == kInteger) {
    *out = m_iValue;
    return true;
  }
  if (m_type == kBoolean) {
    *out = m_bValue ? 1 : 0;
    return true;
  }
  return false;
}

bool RecordValue::AsBoolean(bool* out) const {
  if (m_type == kBoolean) {
    *out = m_bValue;
    return true;
  }
  if (m_type == kInteger) {
    *out = m_iValue != 0;
    return true;
  }
  return false;
}

bool RecordValue::AsString(std::string* out) const {
  if (m_type != kString) return false;
  *out = m_sValue;
  return true;
}

std::string RecordValue::ToString() const {
  switch (m_type) {
    case kInteger:
      return std::to_string(m_iValue);
    case kBoolean:
      return m_bValue ? "true" : "false";
    case kString:
      break;
  }
  return m_sValue;
}

bool RecordFields::GetInteger(const std::string& name, int64_t* out) const {
  auto it = m_values.find(name);
  return it != m_values.end() && it->second.AsInteger(out);
}

bool RecordFields::GetBoolean(const std::string& name, bool* out) const {
  auto it = m_values.find(name);
  return it != m_values.end() && it->second.AsBoolean(out);
}

bool RecordFields::GetString(const std::string& name, std::string* out) const {
  auto it = m_values.find(name);
  return it != m_values.end() && it->second.AsString(out);
}
