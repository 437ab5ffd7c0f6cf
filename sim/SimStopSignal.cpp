#include "SimStopSignal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FXErrorUtil.h"

SimStopSignal::SimStopSignal() : m_iRead(-1), m_iWrite(-1), m_bFired(false) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    int errNo = errno;
    m_status = FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "pipe failed: %s", std::strerror(errNo));
    return;
  }
  m_iRead = ends[0];
  m_iWrite = ends[1];
}

SimStopSignal::~SimStopSignal() {
  if (m_iRead >= 0) close(m_iRead);
  if (m_iWrite >= 0) close(m_iWrite);
}

void SimStopSignal::Fire() {
  if (m_bFired.exchange(true)) return;
  if (m_iWrite < 0) return;
  const char byte = 1;
  // One byte is never read back, so the read end stays readable.
  while (write(m_iWrite, &byte, 1) < 0 && errno == EINTR) {
  }
}
