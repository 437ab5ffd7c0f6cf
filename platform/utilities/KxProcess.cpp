#include "KxProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "FXClock.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "KXPlatformInfo.h"
#include "SettingsStorage.h"

extern char** environ;

namespace {

const unsigned long kDefaultLimitSeconds = 1800;
const unsigned long kLongestLimitSeconds = 24UL * 3600 * 365;
const unsigned long kDefaultOutputCap = 16UL << 20;
const unsigned long kLargestOutputCap = 1UL << 30;
// A killed group gets this long to be reaped (real time, in short steps).
const int kReapSteps = 200;
const int kReapStepMs = 10;

}  // namespace

namespace {

// The bounds of a run, from one reading of the settings section: a command
// reads the store once, and a changed setting holds from the next command.
struct Bounds {
  int64_t limitMs;
  size_t outputCap;
};

// A number as KXPlatformInfo::getNumber reads it (a boolean is 1 or 0); 0
// when absent or of another type.
unsigned long NumberIn(const SettingsSection& values, const char* name) {
  const SettingsValue* value = values.Find(name);
  if (!value) return 0;
  if (value->type == SettingsValue::kNumber) return value->number;
  return value->type == SettingsValue::kBoolean && value->boolean ? 1 : 0;
}

Bounds ConfiguredBounds() {
  SettingsSection values;
  const CWqError read = SettingsStorage::Read(KXPlatformInfo::RootDirectory(), KxProcess::kSettingsSection, &values);
  // An unreadable section gives the defaults, as an absent one does.
  if (read.IsError())
    FX_LOG(-1, "Cannot read settings section [%s]: %s", KxProcess::kSettingsSection,
           read.AsString(ERROR_OUTPUT_TEXT).c_str());
  unsigned long seconds = NumberIn(values, KxProcess::kLimitSetting);
  if (seconds == 0) seconds = kDefaultLimitSeconds;
  unsigned long bytes = NumberIn(values, KxProcess::kOutputCapSetting);
  if (bytes == 0) bytes = kDefaultOutputCap;
  return Bounds{static_cast<int64_t>(std::min(seconds, kLongestLimitSeconds)) * 1000,
                static_cast<size_t>(std::min(bytes, kLargestOutputCap))};
}

}  // namespace

int64_t KxProcess::ConfiguredLimitMs() { return ConfiguredBounds().limitMs; }

size_t KxProcess::ConfiguredOutputCap() { return ConfiguredBounds().outputCap; }

CWqError KxProcess::SplitWords(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  // A NUL would end the word at the exec: refused rather than cut.
  if (line.find('\0') != std::string::npos)
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "NUL byte in command line");
  std::string word;
  bool inWord = false;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      ++i;
      continue;
    }
    // Backslash-newline joins lines: it is removed and starts no word.
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '\n') {
      i += 2;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (i + 1 >= line.size()) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Trailing backslash in command line");
      word += line[i + 1];
      i += 2;
    } else if (c == '\'') {
      const size_t end = line.find('\'', i + 1);
      if (end == std::string::npos) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unterminated quote in command line");
      word.append(line, i + 1, end - i - 1);
      i = end + 1;
    } else if (c == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Unterminated quote in command line");
        const char d = line[i];
        if (d == '"') {
          ++i;
          break;
        }
        // Inside double quotes a backslash quotes only these, as in sh.
        if (d == '\\' && i + 1 < line.size() && std::strchr("$`\"\\\n", line[i + 1])) {
          if (line[i + 1] != '\n') word += line[i + 1];
          i += 2;
          continue;
        }
        word += d;
        ++i;
      }
    } else {
      word += c;
      ++i;
    }
  }
  if (inWord) words.push_back(word);
  return CWqError::Success();
}

std::string KxProcess::QuoteWord(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  out += "'";
  return out;
}

int KxProcess::system(const std::string& line, std::string* output, std::string* error, int, bool) {
  // Options() carries no limit of its own: the configured one applies.
  return system(line, Options(), output, error);
}

int KxProcess::system(const std::string& line, const Options& options, std::string* output, std::string* error) {
  std::vector<std::string> words;
  CWqError split = SplitWords(line, words);
  if (split.IsError() || words.empty()) {
    if (error) *error = split.IsError() ? split.AsString() : std::string("Empty command line");
    if (output) output->clear();
    return kCouldNotRun;
  }
  return run(words, options, output, error);
}

namespace {

// Whether `program` names an executable regular file, found the way
// posix_spawnp finds it (a name without "/" along PATH).
bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool CanRun(const std::string& program, const std::string& folder) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos)
    return IsExecutableFile(program[0] == '/' || folder.empty() ? program : folder + "/" + program);
  const char* path = std::getenv("PATH");
  const std::string list = path ? path : "/bin:/usr/bin";
  size_t start = 0;
  for (;;) {
    const size_t end = list.find(':', start);
    const std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (IsExecutableFile((dir.empty() ? std::string(".") : dir) + "/" + program)) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// Descriptors closed on every path.
struct Fd {
  int fd = -1;
  ~Fd() { Close(); }
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// One of the child's output streams: read to its end, kept up to a cap and
// counted beyond it.
struct Stream {
  Fd pipe;
  std::string text;
  size_t cap = 0;
  uint64_t discarded = 0;

  // Takes what is readable; closes the pipe at end of stream or on an error.
  void Drain() {
    char buffer[16384];
    for (;;) {
      const ssize_t got = ::read(pipe.fd, buffer, sizeof(buffer));
      if (got > 0) {
        const size_t room = cap > text.size() ? cap - text.size() : 0;
        const size_t keep = std::min(room, static_cast<size_t>(got));
        text.append(buffer, keep);
        discarded += static_cast<size_t>(got) - keep;
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      pipe.Close();
      return;
    }
  }

  // The text the caller gets: a cut stream says so at its end.
  std::string Result() {
    if (discarded)
      text += "\n[output cut: " + std::to_string(discarded) + " more bytes were discarded]\n";
    return std::move(text);
  }
};

// Sleeps on the real clock: the wait is for another process, and a virtual
// clock's sleep would neither wait nor leave the test's record unchanged.
void PauseMs(int64_t milliseconds) { ::poll(nullptr, 0, static_cast<int>(milliseconds)); }

// The limit is kept on the real clock too, whatever clock is installed: the
// child runs in real time, and a virtual clock that nothing moves would
// never reach its deadline.
int64_t RealNowMs() { return FXRealClock().MonotonicMs(); }

// Ends the child's whole group (its own children hold the pipes too) and
// reaps the child within a short bound.
void KillAndReap(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);  // should it have left its group
  for (int step = 0; step < kReapSteps; ++step) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid || (reaped < 0 && errno != EINTR)) return;
    if (reaped == 0) PauseMs(kReapStepMs);
  }
}

}  // namespace

int KxProcess::run(const std::vector<std::string>& words, const Options& options, std::string* output,
                   std::string* error) {
  if (output) output->clear();
  if (words.empty()) {
    if (error) *error = "Empty command line";
    return kCouldNotRun;
  }
  for (const std::string& word : words) {
    if (word.find('\0') != std::string::npos) {
      if (error) *error = "Cannot run '" + words[0].substr(0, words[0].find('\0')) + "': NUL byte in an argument";
      return kCouldNotRun;
    }
  }

  // The child's environment: the caller's, with the options' values set.
  std::map<std::string, std::string> overrides(options.environment.begin(), options.environment.end());
  std::vector<std::string> envText;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    const std::string name = eq ? std::string(*e, eq - *e) : std::string(*e);
    if (!overrides.count(name)) envText.push_back(*e);
  }
  for (const auto& value : overrides) envText.push_back(value.first + "=" + value.second);
  std::vector<char*> envp;
  for (std::string& text : envText) envp.push_back(&text[0]);
  envp.push_back(nullptr);
  std::vector<std::string> argText(words);
  std::vector<char*> argv;
  for (std::string& text : argText) argv.push_back(&text[0]);
  argv.push_back(nullptr);

  // A program that cannot be found is refused before the spawn: under an
  // emulator a failed exec shows only as the child's exit status 127.
  if (!CanRun(words[0], options.workingFolder)) {
    if (error) *error = "Cannot run '" + words[0] + "': " + std::strerror(ENOENT);
    return kCouldNotRun;
  }

  const Bounds configured = ConfiguredBounds();
  const int64_t limitMs = options.limitMs > 0 ? options.limitMs : configured.limitMs;
  Stream out, err;
  out.cap = err.cap = configured.outputCap;
  Fd outWrite, errWrite;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe failed: ") + std::strerror(errno);
    return kCouldNotRun;
  }
  out.pipe.fd = ends[0];
  outWrite.fd = ends[1];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe failed: ") + std::strerror(errno);
    return kCouldNotRun;
  }
  err.pipe.fd = ends[0];
  errWrite.fd = ends[1];

  // The child starts clean: stdin on /dev/null, only the three standard
  // descriptors, a group of its own, no signal blocked and every signal at
  // its default, whatever the host has blocked, ignored or caught.
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  int prepared = posix_spawn_file_actions_init(&actions);
  if (prepared != 0) {
    if (error) *error = std::string("Cannot prepare the spawn: ") + std::strerror(prepared);
    return kCouldNotRun;
  }
  prepared = posix_spawnattr_init(&attributes);
  if (prepared != 0) {
    posix_spawn_file_actions_destroy(&actions);
    if (error) *error = std::string("Cannot prepare the spawn: ") + std::strerror(prepared);
    return kCouldNotRun;
  }
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  const int steps[] = {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0),
      posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1),
      posix_spawn_file_actions_adddup2(&actions, errWrite.fd, 2),
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
      posix_spawn_file_actions_addclosefrom_np(&actions, 3),
#endif
      options.workingFolder.empty() ? 0
                                    : posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str()),
      posix_spawnattr_setpgroup(&attributes, 0),
      posix_spawnattr_setsigmask(&attributes, &none),
      posix_spawnattr_setsigdefault(&attributes, &all),
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
  };
  for (int step : steps) prepared = prepared ? prepared : step;

  pid_t pid = -1;
  const int spawned =
      prepared ? prepared : ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  outWrite.Close();
  errWrite.Close();
  if (spawned != 0) {
    if (error) *error = "Cannot run '" + words[0] + "': " + std::strerror(spawned);
    return kCouldNotRun;
  }

  // One deadline for reading and for the exit; at it the group is killed,
  // the pipes closed (a descendant outside the group may hold them for
  // ever) and the child reaped within a short bound.
  ::fcntl(out.pipe.fd, F_SETFL, O_NONBLOCK);
  ::fcntl(err.pipe.fd, F_SETFL, O_NONBLOCK);
  const int64_t deadline = RealNowMs() + limitMs;
  bool timedOut = false;
  std::string failure;
  while (out.pipe.fd >= 0 || err.pipe.fd >= 0) {
    const int64_t left = deadline - RealNowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd fds[2];
    Stream* streams[2];
    nfds_t count = 0;
    for (Stream* stream : {&out, &err}) {
      if (stream->pipe.fd < 0) continue;
      streams[count] = stream;
      fds[count++] = pollfd{stream->pipe.fd, POLLIN, 0};
    }
    const int ready = ::poll(fds, count, static_cast<int>(std::min<int64_t>(left, 200)));
    if (ready < 0 && errno != EINTR) {
      failure = std::string("Cannot wait for the output of '") + words[0] + "': " + std::strerror(errno);
      break;
    }
    for (nfds_t i = 0; ready > 0 && i < count; ++i)
      if (fds[i].revents) streams[i]->Drain();
  }

  int status = 0;
  bool reaped = false, lost = false;
  int64_t stepMs = 1;
  while (!timedOut && failure.empty()) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) {
      reaped = true;
      break;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      // ECHILD when the host ignores SIGCHLD: the system reaped the child
      // and its status is lost. Nothing says it succeeded.
      lost = true;
      failure = "'" + words[0] + "' ran, but cannot tell how it ended: " + std::strerror(errno);
      break;
    }
    const int64_t left = deadline - RealNowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    PauseMs(std::min(stepMs, left));
    stepMs = std::min<int64_t>(stepMs * 2, 20);
  }
  if (!reaped && !lost) {
    out.pipe.Close();
    err.pipe.Close();
    KillAndReap(pid);
  }

  if (output) *output = out.Result();
  std::string errorText = err.Result();
  if (!failure.empty() && !timedOut) {
    if (!errorText.empty() && errorText.back() != '\n') errorText += '\n';
    errorText += failure;
  }
  if (error) *error = std::move(errorText);
  if (timedOut) return kTimedOut;
  if (!failure.empty()) return kCouldNotRun;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kCouldNotRun;
}
