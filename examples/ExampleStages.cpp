#include "ExampleStages.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "ExampleConsole.h"

namespace {

struct Row {
  std::string name;
  std::string result;
  uint64_t items = 0;
  uint64_t bytes = 0;
  bool bytesKnown = false;
  double seconds = -1;  // negative: not timed here
  bool failed = false;
};

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The rows, and the progress line's state.
struct Stages {
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<Row> rows;
  std::string running;
  double runningSince = 0;
  bool lineShown = false;
  std::string shownText;
  bool stop = false;
  std::thread progress;

  void ProgressLoop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop) {
      wake.wait_for(lock, std::chrono::milliseconds(250));
      if (stop || running.empty()) continue;
      const double elapsed = NowSeconds() - runningSince;
      if (elapsed < 1.0) continue;
      char text[256];
      std::snprintf(text, sizeof text, "%s: running, %.0f s", running.c_str(), elapsed);
      if (lineShown && shownText == text) continue;
      // Written then returned to the line's start: the next line of the
      // run overwrites it.
      std::fprintf(stdout, "\r\033[K%s\r", text);
      std::fflush(stdout);
      lineShown = true;
      shownText = text;
    }
  }

  void ClearLineLocked() {
    if (!lineShown) return;
    std::fputs("\r\033[K", stdout);
    std::fflush(stdout);
    lineShown = false;
  }
};

Stages& State() {
  static Stages* stages = new Stages;  // outlives every stage, never destroyed
  return *stages;
}

bool ProgressWanted() {
  return ExampleConsole::Verbosity() == ExampleVerbosity::kNormal && ::isatty(STDOUT_FILENO);
}

void PauseWhenAsked(const std::string& name) {
  const char* at = std::getenv("PROXY_EXAMPLE_PAUSE_AT");
  if (!at || name != at) return;
  std::fflush(stdout);
  std::fprintf(stderr, "example_host: paused at %s\n", name.c_str());
  std::fflush(stderr);
  for (;;) ::pause();  // until the signal's thread ends the process
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

ExampleStage::ExampleStage(const std::string& name) : m_sName(name), m_dStart(NowSeconds()) {
  PauseWhenAsked(name);
  Stages& stages = State();
  std::lock_guard<std::mutex> guard(stages.mutex);
  stages.running = name;
  stages.runningSince = m_dStart;
  if (!stages.progress.joinable() && !stages.stop && ProgressWanted())
    stages.progress = std::thread([&stages] { stages.ProgressLoop(); });
}

ExampleStage::~ExampleStage() {
  if (!m_bRecorded) Ended("FAILED", 0, 0, false, true);
}

void ExampleStage::Done(uint64_t items, uint64_t bytes, bool bytesKnown) {
  Ended("done", items, bytes, bytesKnown, false);
}

void ExampleStage::Failed(const CWqError&) { Ended("FAILED", 0, 0, false, true); }

CWqError ExampleStage::Check(const CWqError& result) {
  if (result.IsError()) Failed(result);
  return result;
}

void ExampleStage::Ended(const std::string& result, uint64_t items, uint64_t bytes, bool bytesKnown, bool failed) {
  if (m_bRecorded) return;
  m_bRecorded = true;
  Row row;
  row.name = m_sName;
  row.result = result;
  row.items = items;
  row.bytes = bytes;
  row.bytesKnown = bytesKnown;
  row.seconds = NowSeconds() - m_dStart;
  row.failed = failed;
  Stages& stages = State();
  std::lock_guard<std::mutex> guard(stages.mutex);
  stages.ClearLineLocked();
  if (stages.running == m_sName) stages.running.clear();
  stages.rows.push_back(row);
}

namespace ExampleStages {

void AddRow(const std::string& name, const std::string& result, uint64_t items, bool failed) {
  Row row;
  row.name = name;
  row.result = result;
  row.items = items;
  row.failed = failed;
  Stages& stages = State();
  std::lock_guard<std::mutex> guard(stages.mutex);
  stages.rows.push_back(row);
}

bool AnyFailed() {
  Stages& stages = State();
  std::lock_guard<std::mutex> guard(stages.mutex);
  for (const Row& row : stages.rows)
    if (row.failed) return true;
  return false;
}

void PrintSummary(std::FILE* out) {
  Stages& stages = State();
  std::lock_guard<std::mutex> guard(stages.mutex);
  stages.ClearLineLocked();
  if (stages.rows.empty()) return;
  std::vector<std::vector<std::string>> cells = {{"stage", "result", "items", "bytes", "seconds", "MB/s"}};
  for (const Row& row : stages.rows) {
    const bool timed = row.seconds >= 0;
    std::string rate = "-";
    if (timed && row.bytesKnown && !row.failed && row.seconds > 0) {
      char text[32];
      std::snprintf(text, sizeof text, "%.1f", row.bytes / 1e6 / row.seconds);
      rate = text;
    }
    cells.push_back({row.name, row.result, row.failed ? "-" : std::to_string(row.items),
                     row.bytesKnown && !row.failed ? std::to_string(row.bytes) : "-",
                     timed ? Seconds(row.seconds) : "-", rate});
  }
  std::vector<size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells)
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  std::fprintf(out, "\nsummary:\n");
  for (const auto& line : cells) {
    std::string text = " ";
    for (size_t i = 0; i < line.size(); ++i) {
      // Names and results to the left, figures to the right.
      const std::string pad(widths[i] - line[i].size(), ' ');
      text += "  " + (i < 2 ? line[i] + pad : pad + line[i]);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::fprintf(out, "%s\n", text.c_str());
  }
  std::fflush(out);
}

void Stop() {
  Stages& stages = State();
  {
    std::lock_guard<std::mutex> guard(stages.mutex);
    stages.stop = true;
    stages.ClearLineLocked();
  }
  stages.wake.notify_all();
  if (stages.progress.joinable()) stages.progress.join();
}

}  // namespace ExampleStages
