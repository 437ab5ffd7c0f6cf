// The process-wide log writer g_ptrLogWriter.
//
// A line of level -1 is always written; a line of level n >= 0 only when the
// writer's level is at least n and, for a line given a category, when the
// category mask has that bit (2 connection code, 8 file-record code). Lines
// that will not be written are not formatted. Thread-safe. Each line carries
// the level, the function signature, the source line and the text.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "FXCodeLocation.h"

enum FXLogCategory : uint32_t {
  FX_LOG_CATEGORY_NONE = 0,
  FX_LOG_CATEGORY_CONNECTION = 2,
  FX_LOG_CATEGORY_FILE_RECORD = 8,
};

class FXLogWriter {
 public:
  // Level 0, empty mask, writing to stderr.
  FXLogWriter();
  ~FXLogWriter();

  // A writer configured by the environment alone (ApplyEnvironment). The
  // settings store's values are applied at start-up by the settings layer
  // (FXLogStartup.h): this layer reads nothing but the environment.
  static boost::shared_ptr<FXLogWriter> FromEnvironment();
  // Level, mask and destination from "PROXY_LOG_LEVEL", "PROXY_LOG_MASK" and
  // "PROXY_LOG_FILE", each only when set.
  void ApplyEnvironment();

  bool IsEnabled(int level, uint32_t category = FX_LOG_CATEGORY_NONE) const;

  void Write(int level, const FXCodeLocation& location, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void WriteV(int level, const FXCodeLocation& location, const char* format, va_list args);

  void SetLevel(int level);
  int GetLevel() const;
  void SetCategoryMask(uint32_t mask);
  uint32_t GetCategoryMask() const;
  // An empty path writes to stderr; false when the file cannot be opened
  // (the writer then keeps its old destination).
  bool SetDestination(const std::string& path);
  // Silences the destination, for tests and tools that only capture.
  void SetQuiet(bool quiet);

  // Keeps a copy of every written line's text (without the prefix), so that
  // tests can look for a line.
  void SetCapture(bool capture);
  std::vector<std::string> CapturedLines() const;
  bool HasCapturedLine(const std::string& fragment) const;
  void ClearCapture();

 private:
  mutable std::mutex m_mutex;
  int m_iLevel;
  uint32_t m_uCategoryMask;
  FILE* m_pFile;   // null: stderr
  bool m_bQuiet;
  bool m_bCapture;
  std::vector<std::string> m_captured;
};

// Installed at load time from the environment, before any other object of
// the library is built, then replaced by the settings layer's start-up
// (FXLogStartup.h); a test may replace it.
extern boost::shared_ptr<FXLogWriter> g_ptrLogWriter;

#define FX_LOG(level, ...)                                                         \
  do {                                                                             \
    FXLogWriter* fx_log_writer_ = g_ptrLogWriter.get();                           \
    if (fx_log_writer_ && fx_log_writer_->IsEnabled(level))                       \
      fx_log_writer_->Write(level, FX_HERE, __VA_ARGS__);                         \
  } while (0)

#define FX_LOG_CAT(level, category, ...)                                           \
  do {                                                                             \
    FXLogWriter* fx_log_writer_ = g_ptrLogWriter.get();                           \
    if (fx_log_writer_ && fx_log_writer_->IsEnabled(level, category))             \
      fx_log_writer_->Write(level, FX_HERE, __VA_ARGS__);                         \
  } while (0)

// A failed internal assumption: logged at level -1 as the condition's text,
// and execution goes on.
#define FX_ASSUME(condition)                                                       \
  do {                                                                             \
    if (!(condition)) FX_LOG(-1, "%s", #condition);                                \
  } while (0)
