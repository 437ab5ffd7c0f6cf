// ApplProperty: one named, typed property value to write into the
// configuration records (ClientProperties::setProperty). Type 1 is a text;
// any other type is kept as it is given and written as the text too.
#pragma once

#include <string>

class ApplProperty {
 public:
  ApplProperty(const std::string& name, int type, const std::string& value, int flags)
      : m_sName(name), m_iType(type), m_sValue(value), m_iFlags(flags) {}

  const std::string& getName() const { return m_sName; }
  int getType() const { return m_iType; }
  const std::string& getValue() const { return m_sValue; }
  int getFlags() const { return m_iFlags; }

 private:
  std::string m_sName;
  int m_iType;
  std::string m_sValue;
  int m_iFlags;
};
