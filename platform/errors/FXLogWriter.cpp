#include "FXLogWriter.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "FXFormat.h"

FXLogWriter::FXLogWriter()
    : m_iLevel(0), m_uCategoryMask(0), m_pFile(nullptr), m_bQuiet(false), m_bCapture(false) {}

FXLogWriter::~FXLogWriter() {
  if (m_pFile) std::fclose(m_pFile);
}

boost::shared_ptr<FXLogWriter> FXLogWriter::FromEnvironment() {
  boost::shared_ptr<FXLogWriter> writer(new FXLogWriter);
  writer->ApplyEnvironment();
  return writer;
}

void FXLogWriter::ApplyEnvironment() {
  if (const char* v = std::getenv("PROXY_LOG_LEVEL")) SetLevel(std::atoi(v));
  if (const char* v = std::getenv("PROXY_LOG_MASK")) SetCategoryMask(static_cast<uint32_t>(std::strtoul(v, nullptr, 0)));
  if (const char* v = std::getenv("PROXY_LOG_FILE")) SetDestination(v);
}

bool FXLogWriter::IsEnabled(int level, uint32_t category) const {
  if (level < 0) return true;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (level > m_iLevel) return false;
  return category == FX_LOG_CATEGORY_NONE || (m_uCategoryMask & category) != 0;
}

void FXLogWriter::Write(int level, const FXCodeLocation& location, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteV(level, location, format, args);
  va_end(args);
}

void FXLogWriter::WriteV(int level, const FXCodeLocation& location, const char* format,
                         va_list args) {
  std::string text = FXFormatV(format, args);
  std::string line = FXFormat("%d %ld %d %s:%d %s", static_cast<int>(getpid()),
                              static_cast<long>(syscall(SYS_gettid)), level,
                              location.m_pFunction ? location.m_pFunction : "?", location.m_iLine,
                              text.c_str());
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bCapture) m_captured.push_back(text);
  if (m_bQuiet) return;
  FILE* out = m_pFile ? m_pFile : stderr;
  std::fputs(line.c_str(), out);
  if (line.empty() || line.back() != '\n') std::fputc('\n', out);
  std::fflush(out);
}

void FXLogWriter::SetLevel(int level) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_iLevel = level;
}

int FXLogWriter::GetLevel() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iLevel;
}

void FXLogWriter::SetCategoryMask(uint32_t mask) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_uCategoryMask = mask;
}

uint32_t FXLogWriter::GetCategoryMask() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_uCategoryMask;
}

bool FXLogWriter::SetDestination(const std::string& path) {
  FILE* file = nullptr;
  if (!path.empty()) {
    // "e": close-on-exec, so programs the host launches do not inherit it.
    file = std::fopen(path.c_str(), "ae");
    if (!file) return false;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_pFile) std::fclose(m_pFile);
  m_pFile = file;
  return true;
}

void FXLogWriter::SetQuiet(bool quiet) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bQuiet = quiet;
}

void FXLogWriter::SetCapture(bool capture) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bCapture = capture;
}

std::vector<std::string> FXLogWriter::CapturedLines() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_captured;
}

bool FXLogWriter::HasCapturedLine(const std::string& fragment) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const std::string& line : m_captured)
    if (line.find(fragment) != std::string::npos) return true;
  return false;
}

void FXLogWriter::ClearCapture() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_captured.clear();
}

// First of the library's objects, so the start-up that replaces it finds it built.
boost::shared_ptr<FXLogWriter> g_ptrLogWriter __attribute__((init_priority(101))) = FXLogWriter::FromEnvironment();
