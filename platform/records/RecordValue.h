// RecordValue and RecordFields: the typed values behind the configuration
// records' getters.
//
// A record keeps its values by name (the getter's name without "get", for
// example "KXDPort" for KXClient::getKXDPort). A value is an integer (64-bit;
// unsigned values keep their bits), a boolean or a string. An integer read as
// a boolean is true when not 0 and a boolean read as an integer is 1 or 0; a
// string is only read as a string.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>

class RecordValue {
 public:
  enum Type { kInteger, kBoolean, kString };

  RecordValue() : m_type(kInteger), m_iValue(0), m_bValue(false) {}
  RecordValue(bool value) : m_type(kBoolean), m_iValue(0), m_bValue(value) {}
  template <class T, typename std::enable_if<std::is_integral<T>::value &&
                                                 !std::is_same<T, bool>::value,
                                             int>::type = 0>
  RecordValue(T value)
      : m_type(kInteger), m_iValue(static_cast<int64_t>(value)), m_bValue(false) {}
  RecordValue(const char* value)
      : m_type(kString), m_iValue(0), m_bValue(false), m_sValue(value ? value : "") {}
  RecordValue(std::string value)
      : m_type(kString), m_iValue(0), m_bValue(false), m_sValue(std::move(value)) {}

  Type type() const { return m_type; }
  // False when the value cannot be read as that type.
  bool AsInteger(int64_t* out) const;
  bool AsBoolean(bool* out) const;
  bool AsString(std::string* out) const;
  // Printable form for journals and messages.
  std::string ToString() const;

 private:
  Type m_type;
  int64_t m_iValue;
  bool m_bValue;
  std::string m_sValue;
};

class RecordFields {
 public:
  void Set(const std::string& name, const RecordValue& value) { m_values[name] = value; }
  void Erase(const std::string& name) { m_values.erase(name); }
  bool Has(const std::string& name) const { return m_values.count(name) != 0; }

  // False when absent or of another type.
  bool GetInteger(const std::string& name, int64_t* out) const;
  bool GetBoolean(const std::string& name, bool* out) const;
  bool GetString(const std::string& name, std::string* out) const;

  const std::map<std::string, RecordValue>& Values() const { return m_values; }

 private:
  std::map<std::string, RecordValue> m_values;
};
