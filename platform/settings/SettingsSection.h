// SettingsSection: one section of the settings store as its file holds it.
//
// A section maps value names to typed values: a number (unsigned long), a
// string of any bytes (NUL, "=", line breaks included) or a boolean. The file
// form is one value per line,
//
//   <name>=<type>:<value>        type n (number), s (string), b (boolean)
//
// with "%", "=", the bytes below 0x20 and the bytes from 0x7f up written as
// "%XX" (two upper-case hex digits) in both name and value. Lines starting
// with "#" and empty lines are comments. A line that does not parse (a hand
// edit gone wrong) is kept verbatim and written back, so a rewrite never
// loses it; it gives no value.
#pragma once

#include <map>
#include <string>
#include <vector>

struct SettingsValue {
  enum Type { kNumber, kString, kBoolean };

  Type type = kString;
  unsigned long number = 0;
  bool boolean = false;
  std::string text;

  static SettingsValue Number(unsigned long value);
  static SettingsValue String(std::string value);
  static SettingsValue Boolean(bool value);
};

class SettingsSection {
 public:
  // Replaces the content with what `text` holds. Returns the count of lines
  // that did not parse (kept verbatim).
  size_t Parse(const std::string& text);
  std::string Serialize() const;

  // Null when absent.
  const SettingsValue* Find(const std::string& name) const;
  void Set(const std::string& name, const SettingsValue& value);
  // True when the value was there.
  bool Erase(const std::string& name);
  // No value and no kept line: the section's file can go.
  bool IsEmpty() const { return m_values.empty() && m_unparsed.empty(); }

  // "%XX" escaping of the file form (control bytes, bytes above 0x7e, "%"
  // and "="); Unescape fails on a bad "%" sequence.
  static std::string Escape(const std::string& raw);
  // "%XX" (upper-case hex) for every byte that `plain` refuses; "%" itself
  // must be refused for Unescape to give the bytes back.
  static std::string EscapeExcept(const std::string& raw, bool (*plain)(unsigned char));
  static bool Unescape(const std::string& escaped, std::string* raw);

 private:
  std::map<std::string, SettingsValue> m_values;
  std::vector<std::string> m_unparsed;
};
