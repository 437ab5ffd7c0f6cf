#include "KxProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

#include "FXClock.h"
#include "FXErrorUtil.h"

extern char** environ;

CWqError KxProcess::SplitWords(const std::string& line, std::vector<std::string>& words) {
  words.clear();
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
    inWord = true;
    if (c == '\\') {
      if (i + 1 >= line.size()) return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Trailing backslash in command line");
      if (line[i + 1] != '\n') word += line[i + 1];  // backslash-newline joins lines
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

// Drains what is readable; false at end of stream.
bool Drain(int fd, std::string& into) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got > 0) {
      into.append(buffer, static_cast<size_t>(got));
      continue;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

}  // namespace

int KxProcess::run(const std::vector<std::string>& words, const Options& options, std::string* output,
                   std::string* error) {
  std::string out, err;
  if (words.empty()) {
    if (error) *error = "Empty command line";
    if (output) output->clear();
    return kCouldNotRun;
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
    if (output) output->clear();
    return kCouldNotRun;
  }

  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe failed: ") + std::strerror(errno);
    return kCouldNotRun;
  }
  Fd outRead, outWrite, errRead, errWrite;
  outRead.fd = outPipe[0];
  outWrite.fd = outPipe[1];
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe failed: ") + std::strerror(errno);
    return kCouldNotRun;
  }
  errRead.fd = errPipe[0];
  errWrite.fd = errPipe[1];

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.fd, 2);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  if (!options.workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workingFolder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  outWrite.Close();
  errWrite.Close();
  if (spawned != 0) {
    if (error) *error = "Cannot run '" + words[0] + "': " + std::strerror(spawned);
    if (output) output->clear();
    return kCouldNotRun;
  }

  ::fcntl(outRead.fd, F_SETFL, O_NONBLOCK);
  ::fcntl(errRead.fd, F_SETFL, O_NONBLOCK);
  const int64_t deadline = options.limitMs > 0 ? FXGetClock().MonotonicMs() + options.limitMs : 0;
  bool timedOut = false;
  while (outRead.fd >= 0 || errRead.fd >= 0) {
    int timeoutMs = -1;
    if (deadline && !timedOut) {
      const int64_t left = deadline - FXGetClock().MonotonicMs();
      if (left <= 0) {
        // The whole group: the child's own children hold the pipes too.
        ::kill(-pid, SIGKILL);
        timedOut = true;
      } else {
        timeoutMs = static_cast<int>(left < 200 ? left : 200);
      }
    }
    pollfd fds[2];
    nfds_t count = 0;
    if (outRead.fd >= 0) fds[count++] = pollfd{outRead.fd, POLLIN, 0};
    if (errRead.fd >= 0) fds[count++] = pollfd{errRead.fd, POLLIN, 0};
    const int ready = ::poll(fds, count, timeoutMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (nfds_t i = 0; i < count; ++i) {
      if (!fds[i].revents) continue;
      Fd& which = fds[i].fd == outRead.fd ? outRead : errRead;
      if (!Drain(which.fd, which.fd == outRead.fd ? out : err)) which.Close();
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // Whatever the group left behind goes with it.
  if (timedOut) ::kill(-pid, SIGKILL);
  if (output) *output = out;
  if (error) *error = err;
  if (timedOut) return kTimedOut;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kCouldNotRun;
}
