// The platform's string and memory-block holders, in the small form the
// system uses: a string that may hold no buffer at all, and a block of bytes
// that may be empty.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CWqString {
 public:
  CWqString() {}
  CWqString(const char* text) : m_pText(text ? new std::string(text) : nullptr) {}
  CWqString(const std::string& text) : m_pText(new std::string(text)) {}
  CWqString(const CWqString& other)
      : m_pText(other.m_pText ? new std::string(*other.m_pText) : nullptr) {}
  CWqString& operator=(const CWqString& other) {
    if (this != &other) m_pText.reset(other.m_pText ? new std::string(*other.m_pText) : nullptr);
    return *this;
  }

  // The text, or "" when the string holds no buffer.
  const char* c_str() const { return m_pText ? m_pText->c_str() : ""; }

 private:
  std::unique_ptr<std::string> m_pText;
};

template <typename T>
class CAutoMemory {
 public:
  CAutoMemory() {}
  CAutoMemory(const T* data, size_t count) : m_data(data, data + count) {}

  // The block's data, or null when the block is empty.
  const T* Ptr_const() const { return m_data.empty() ? nullptr : m_data.data(); }
  size_t Size() const { return m_data.size(); }

 private:
  std::vector<T> m_data;
};
