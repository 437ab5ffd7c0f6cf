// ExampleFiles: the few file-system chores of the example host: temporary
// folders, whole files written and read, a look at a file's first lines.
// Every failure is an errno error naming the path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CWqError.h"

// A new folder "<$TMPDIR or /tmp>/<prefix>XXXXXX".
CWqError MakeTempFolder(const std::string& prefix, std::string& path);

// The run's output folder: `requested` (made when missing) as an absolute
// path, or a new folder under $TMPDIR when it is empty; printed, and kept.
CWqError PrepareOutputFolder(const std::string& requested, std::string& folder);

// Makes `path` and its missing parents.
CWqError MakeFolders(const std::string& path);

// Removes `path` and everything below it; symbolic links are not followed.
void RemoveTree(const std::string& path);

// The folder as an absolute path without a trailing "/".
CWqError AbsoluteFolder(const std::string& path, std::string& absolute);

CWqError WriteWholeFile(const std::string& path, const std::string& text);
// A regular file's bytes; anything else (a FIFO, a device) is EINVAL and
// never waited on.
CWqError ReadWholeFile(const std::string& path, std::string& text);

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);

// Size and the first `count` lines of a file, plus its number of lines.
struct FileGlance {
  uint64_t bytes = 0;
  uint64_t lineCount = 0;
  std::vector<std::string> firstLines;
};
CWqError GlanceAtFile(const std::string& path, size_t count, FileGlance& glance);

// A removal at the end of a scope, unless disarmed.
class ScopedTreeRemoval {
 public:
  explicit ScopedTreeRemoval(std::string path = std::string()) : m_sPath(std::move(path)) {}
  ~ScopedTreeRemoval() {
    if (!m_sPath.empty()) RemoveTree(m_sPath);
  }
  ScopedTreeRemoval(const ScopedTreeRemoval&) = delete;
  ScopedTreeRemoval& operator=(const ScopedTreeRemoval&) = delete;
  void Reset(const std::string& path) { m_sPath = path; }

 private:
  std::string m_sPath;
};
