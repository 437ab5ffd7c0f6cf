// SimConnectionRecord: what the simulated client side saw on one connection,
// and SimRecorder, which fills it from the connection's thread while tests
// read it from theirs.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "CWqError.h"
#include "ClProxyMsg.h"

struct SimConnectionRecord {
  // Every message received, in order: those the script expected and those
  // that arrived after its end.
  std::vector<std::shared_ptr<ClProxyMsg>> received;
  // The first step that failed; success when none did.
  CWqError failure;
  size_t stepsDone = 0;
  // The connection's work is over and it is closed.
  bool finished = false;
};

class SimRecorder {
 public:
  // `onChange` runs after each change, outside the recorder's lock.
  explicit SimRecorder(std::function<void()> onChange) : m_onChange(std::move(onChange)) {}

  void AddReceived(std::shared_ptr<ClProxyMsg> message);
  void SetFailure(const CWqError& failure);
  void StepDone();
  void Finish();

  SimConnectionRecord Snapshot() const;
  bool IsFinished() const;

 private:
  void Changed();

  mutable std::mutex m_mutex;
  SimConnectionRecord m_record;
  std::function<void()> m_onChange;
};
