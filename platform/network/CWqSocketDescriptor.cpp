#include "CWqSocketDescriptor.h"

std::string CWqSocketDescriptor::AsString() const {
  return m_iDescriptor == -1 ? std::string("none") : std::to_string(m_iDescriptor);
}
