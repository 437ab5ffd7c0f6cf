// CWqSocketDescriptor: one operating-system socket descriptor, -1 when none.
// A plain value: copying it copies the number, never the socket.
#pragma once

#include <string>

class CWqSocketDescriptor {
 public:
  CWqSocketDescriptor() : m_iDescriptor(-1) {}
  explicit CWqSocketDescriptor(int descriptor) : m_iDescriptor(descriptor) {}

  operator int() const { return m_iDescriptor; }
  // Text form for log lines: the number, or "none" for -1.
  std::string AsString() const;

 private:
  int m_iDescriptor;
};
