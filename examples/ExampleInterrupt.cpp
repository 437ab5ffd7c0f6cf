#include "ExampleInterrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace ExampleInterrupt {

namespace {

int g_pipe[2] = {-1, -1};
const int kUndoSeconds = 15;

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

std::map<int, std::function<void()>>& Actions() {
  static std::map<int, std::function<void()>> actions;
  return actions;
}

int g_iNextToken = 0;

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  if (::write(g_pipe[1], &byte, 1) < 0) {
    // Nothing to do in a handler: the pipe is full of earlier signals.
  }
  errno = saved;
}

void WaitAndUndo() {
  unsigned char byte = 0;
  ssize_t got;
  do {
    got = ::read(g_pipe[0], &byte, 1);
  } while (got < 0 && errno == EINTR);
  if (got != 1) return;
  std::fflush(stdout);
  std::fprintf(stderr, "\nexample_host: %s: stopping the run and removing what it made\n",
               byte == SIGTERM ? "terminated (SIGTERM)" : "interrupted (SIGINT)");
  // An undo that hangs must not keep the process: it ends after a while
  // whatever is left.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::seconds(kUndoSeconds));
    std::fprintf(stderr, "example_host: the cleanup did not end within %d s; leaving it\n", kUndoSeconds);
    ::_exit(kExitStatus);
  }).detach();
  // The lock stays taken: nothing may register or unregister any more,
  // and the process ends here.
  Lock().lock();
  for (auto it = Actions().rbegin(); it != Actions().rend(); ++it) it->second();
  std::fflush(stdout);
  std::fflush(stderr);
  ::_exit(kExitStatus);
}

}  // namespace

bool Install() {
  if (g_pipe[0] >= 0) return true;
  if (::pipe2(g_pipe, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "example_host: no Ctrl-C cleanup: pipe: %s\n", std::strerror(errno));
    return false;
  }
  try {
    std::thread(WaitAndUndo).detach();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "example_host: no Ctrl-C cleanup: %s\n", e.what());
    return false;
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A SIGINT ignored from the start (a background job of a shell) stays
  // ignored, as a user of that shell expects.
  struct sigaction before;
  if (::sigaction(SIGINT, nullptr, &before) != 0 || before.sa_handler != SIG_IGN)
    ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  return true;
}

int Add(std::function<void()> undo) {
  std::lock_guard<std::mutex> guard(Lock());
  const int token = g_iNextToken++;
  Actions()[token] = std::move(undo);
  return token;
}

void Remove(int token) {
  std::lock_guard<std::mutex> guard(Lock());
  Actions().erase(token);
}

}  // namespace ExampleInterrupt
