#include "KxException.h"

std::string KxException::formatError() const {
  std::string file = m_sFile;
  const size_t slash = file.rfind('/');
  if (slash != std::string::npos) file = file.substr(slash + 1);
  return m_sLabel + ": " + m_sMessage + " (" + file + ":" + std::to_string(m_iLine) + ")";
}
