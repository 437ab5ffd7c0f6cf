#include "SettingsSection.h"

#include <cerrno>
#include <cstdlib>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseNumber(const std::string& text, unsigned long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  *out = static_cast<unsigned long>(v);
  return static_cast<unsigned long long>(*out) == v;
}

bool ParseBoolean(const std::string& text, bool* out) {
  if (text == "1" || text == "true") {
    *out = true;
    return true;
  }
  if (text == "0" || text == "false") {
    *out = false;
    return true;
  }
  return false;
}

// One "<name>=<type>:<value>" line; false when it does not have that shape.
bool ParseLine(const std::string& line, std::string* name, SettingsValue* value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos || line.size() < eq + 3 || line[eq + 2] != ':') return false;
  std::string text;
  if (!SettingsSection::Unescape(line.substr(0, eq), name)) return false;
  if (!SettingsSection::Unescape(line.substr(eq + 3), &text)) return false;
  switch (line[eq + 1]) {
    case 'n':
      value->type = SettingsValue::kNumber;
      return ParseNumber(text, &value->number);
    case 'b':
      value->type = SettingsValue::kBoolean;
      return ParseBoolean(text, &value->boolean);
    case 's':
      value->type = SettingsValue::kString;
      value->text.swap(text);
      return true;
    default:
      return false;
  }
}

}  // namespace

SettingsValue SettingsValue::Number(unsigned long value) {
  SettingsValue v;
  v.type = kNumber;
  v.number = value;
  return v;
}

SettingsValue SettingsValue::String(std::string value) {
  SettingsValue v;
  v.type = kString;
  v.text.swap(value);
  return v;
}

SettingsValue SettingsValue::Boolean(bool value) {
  SettingsValue v;
  v.type = kBoolean;
  v.boolean = value;
  return v;
}

std::string SettingsSection::EscapeExcept(const std::string& raw, bool (*plain)(unsigned char)) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    unsigned char b = static_cast<unsigned char>(c);
    if (plain(b)) {
      out += c;
    } else {
      out += '%';
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 0x0f];
    }
  }
  return out;
}

std::string SettingsSection::Escape(const std::string& raw) {
  return EscapeExcept(raw, [](unsigned char b) { return b >= 0x20 && b < 0x7f && b != '%' && b != '='; });
}

bool SettingsSection::Unescape(const std::string& escaped, std::string* raw) {
  std::string out;
  out.reserve(escaped.size());
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      out += escaped[i];
      continue;
    }
    if (i + 2 >= escaped.size()) return false;
    int hi = HexValue(escaped[i + 1]);
    int lo = HexValue(escaped[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>((hi << 4) | lo);
    i += 2;
  }
  raw->swap(out);
  return true;
}

size_t SettingsSection::Parse(const std::string& text) {
  m_values.clear();
  m_unparsed.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::string name;
    SettingsValue value;
    if (ParseLine(line, &name, &value))
      m_values[name] = value;
    else
      m_unparsed.push_back(line);
  }
  return m_unparsed.size();
}

std::string SettingsSection::Serialize() const {
  std::string out;
  for (const auto& entry : m_values) {
    out += Escape(entry.first);
    out += '=';
    switch (entry.second.type) {
      case SettingsValue::kNumber:
        out += "n:" + std::to_string(entry.second.number);
        break;
      case SettingsValue::kBoolean:
        out += entry.second.boolean ? "b:1" : "b:0";
        break;
      case SettingsValue::kString:
        out += "s:" + Escape(entry.second.text);
        break;
    }
    out += '\n';
  }
  for (const std::string& line : m_unparsed) out += line + "\n";
  return out;
}

const SettingsValue* SettingsSection::Find(const std::string& name) const {
  auto it = m_values.find(name);
  return it == m_values.end() ? nullptr : &it->second;
}

void SettingsSection::Set(const std::string& name, const SettingsValue& value) {
  m_values[name] = value;
}

bool SettingsSection::Erase(const std::string& name) { return m_values.erase(name) != 0; }
