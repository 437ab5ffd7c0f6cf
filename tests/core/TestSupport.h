// Small pieces every test area may use: a bounded real-time poll and a
// temporary folder removed with what it holds.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

namespace coretest {

// Polls `done` every millisecond in real time for at most `seconds`; true
// when it came true.
inline bool WaitUntil(const std::function<bool()>& done, double seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A fresh folder under /tmp, removed with what it holds (links are removed,
// never followed).
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& prefix = "proxy-test") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(&pattern[0])) m_sPath = pattern;
  }
  ~ScopedTempFolder() {
    if (m_sPath.empty()) return;
    nftw(
        m_sPath.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;
  const std::string& path() const { return m_sPath; }
  std::string Path(const std::string& name) const { return m_sPath + "/" + name; }

 private:
  std::string m_sPath;
};

}  // namespace coretest
