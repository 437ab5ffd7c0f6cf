#include "SimRecord.h"

void SimRecorder::Changed() {
  if (m_onChange) m_onChange();
}

void SimRecorder::AddReceived(std::shared_ptr<ClProxyMsg> message) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record.received.push_back(std::move(message));
  }
  Changed();
}

void SimRecorder::SetFailure(const CWqError& failure) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_record.failure.IsError()) m_record.failure = failure;
  }
  Changed();
}

void SimRecorder::StepDone() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_record.stepsDone;
  }
  Changed();
}

void SimRecorder::Finish() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_record.finished = true;
  }
  Changed();
}

SimConnectionRecord SimRecorder::Snapshot() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_record;
}

bool SimRecorder::IsFinished() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_record.finished;
}
