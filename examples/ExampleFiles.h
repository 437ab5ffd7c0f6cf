// ExampleFiles: the few file-system chores of the example host: temporary
// folders, whole files written and read, a look at a file's first lines.
// Every failure is an errno error naming the path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CWqError.h"
#include "ExampleInterrupt.h"
#include "ScopedSettingsRoot.h"

// A new folder "<$TMPDIR or /tmp>/<prefix>XXXXXX".
CWqError MakeTempFolder(const std::string& prefix, std::string& path);

// True when `path` does not exist or is an empty folder.
bool IsNewOrEmptyFolder(const std::string& path);

// Makes `path` and its missing parents.
CWqError MakeFolders(const std::string& path);

// Removes `path` and everything below it; symbolic links are not followed.
// A few passes, for what a running thread wrote meanwhile.
void RemoveTree(const std::string& path);

// Files (not folders) below `path` and their bytes; links are not followed.
void CountTree(const std::string& path, uint64_t& files, uint64_t& bytes);

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

// A removal at the end of a scope, and when the run is interrupted.
class ScopedTreeRemoval {
 public:
  explicit ScopedTreeRemoval(std::string path = std::string()) { Reset(path); }
  ~ScopedTreeRemoval() {
    m_undo.Clear();
    if (!m_sPath.empty() && !m_bKeep) RemoveTree(m_sPath);
  }
  ScopedTreeRemoval(const ScopedTreeRemoval&) = delete;
  ScopedTreeRemoval& operator=(const ScopedTreeRemoval&) = delete;
  void Reset(const std::string& path) {
    m_sPath = path;
    if (path.empty())
      m_undo.Clear();
    else
      m_undo.Set([path] { RemoveTree(path); });
  }
  // Keeps the folder at the end of the scope; it still goes when the run
  // is interrupted.
  void KeepAtEnd() { m_bKeep = true; }

 private:
  std::string m_sPath;
  bool m_bKeep = false;
  ScopedUndo m_undo;
};

// The run's temporary settings store (ScopedSettingsRoot), which goes when
// the run is interrupted too.
class ExampleSettingsStore {
 public:
  ExampleSettingsStore() {
    const std::string path = m_root.path();
    if (!path.empty()) m_undo.Set([path] { RemoveTree(path); });
  }
  const std::string& path() const { return m_root.path(); }

 private:
  ScopedSettingsRoot m_root;
  ScopedUndo m_undo;
};
