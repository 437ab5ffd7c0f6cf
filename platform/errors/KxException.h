// KxException: the platform's exception, raised inside the code that uses
// it and caught at that code's entry points. It carries the operation's
// label ("DBProxyBackup::init"), a message, the source place and an error
// number; formatError() gives them as one line.
#pragma once

#include <exception>
#include <string>

class KxException : public std::exception {
 public:
  KxException(const std::string& label, const std::string& message, const char* file, int line, int errNo)
      : m_sLabel(label), m_sMessage(message), m_sFile(file ? file : ""), m_iLine(line), m_iErrno(errNo) {}

  int getErrno() const { return m_iErrno; }
  const std::string& getMessage() const { return m_sMessage; }
  // "<label>: <message> (<file>:<line>)".
  std::string formatError() const;
  const char* what() const noexcept override { return m_sMessage.c_str(); }

 private:
  std::string m_sLabel;
  std::string m_sMessage;
  std::string m_sFile;
  int m_iLine;
  int m_iErrno;
};
