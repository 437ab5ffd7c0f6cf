// ExampleInterrupt: what a run of the example host made is undone when the
// user stops it (SIGINT, SIGTERM). Whatever makes something that must not
// outlive the run (a temporary folder, sshd and its throwaway user) adds an
// undo action while it exists and removes it once it has cleaned up itself.
//
// Install() sets the handlers, which only write the signal to a pipe; a
// thread of its own reads it, says so on stderr, runs the undo actions that
// are registered, newest first, and ends the process with status 130. The
// running phase stops with the process. Handlers are reset by exec, so the
// programs the run starts (sshd, ssh) keep the default dispositions. A
// SIGINT that was ignored when the process started stays ignored.
#pragma once

#include <functional>
#include <string>

namespace ExampleInterrupt {

// Once, before the run makes anything. False when the pipe or the thread
// cannot be made (the run then goes on without it).
bool Install();

// Registers `undo`; the token removes it again. Thread-safe.
int Add(std::function<void()> undo);
void Remove(int token);

// The exit status of an interrupted run.
const int kExitStatus = 130;

}  // namespace ExampleInterrupt

// An undo action registered for the life of the object.
class ScopedUndo {
 public:
  ScopedUndo() = default;
  explicit ScopedUndo(std::function<void()> undo) { Set(std::move(undo)); }
  ~ScopedUndo() { Clear(); }
  ScopedUndo(const ScopedUndo&) = delete;
  ScopedUndo& operator=(const ScopedUndo&) = delete;

  void Set(std::function<void()> undo) {
    Clear();
    m_iToken = ExampleInterrupt::Add(std::move(undo));
  }
  void Clear() {
    if (m_iToken >= 0) ExampleInterrupt::Remove(m_iToken);
    m_iToken = -1;
  }

 private:
  int m_iToken = -1;
};
