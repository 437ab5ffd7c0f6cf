// The per-job results store: one file per (Vellicon id, job id, kind) under
// a root folder, written through StoreResults and located through
// RetrieveResults.
//
// Root: the environment variable "PROXY_RESULTS_ROOT", else the folder
// "JobResults" under the settings root (KXPlatformInfo::RootDirectory()).
// A file lives at <root>/<Vellicon id>/<job id>/results.<kind>.
//
// A save replaces the file atomically (FXAtomicFile): openFile writes a
// temporary file "<name>.XXXXXX" beside it, putLine appends to that,
// closeFile flushes it to disk and renames it over the file, then syncs the
// folder so the rename survives a power loss. A failed or abandoned save (an
// object destroyed before closeFile) removes its temporary file, so the old
// file stays whole and nothing is left open. Several writers of one file
// (threads or processes) may save at once: the last rename wins, and each
// save either succeeds or reports its failure. Temporaries of saves that were
// killed before their rename are removed the first time a process opens the
// file for a save, and only when no save in its folder is in progress (a
// save holds a shared flock on the folder while its temporary exists); never
// during a save. Each call returns 0 or an errno value.
//
// Test switches (JobResultsSwitches, process-wide, Reset brings back the
// defaults and forgets which files were swept, as a new process would): make
// openFile, putLine or closeFile fail with a chosen errno, run a hook just
// before a save's rename (a test may run another writer there), and run a
// hook right after each completed save (a test may end its run there, as a
// crash would).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "CWqError.h"
#include "FXAtomicFile.h"
#include "KXJobTypes.h"

class StoreResults {
 public:
  // `append` and `context` are accepted for the callers' sake: every save
  // replaces the whole file.
  StoreResults(int velliconId, KXJobID jobId, bool append, void* context);
  ~StoreResults();
  StoreResults(const StoreResults&) = delete;
  StoreResults& operator=(const StoreResults&) = delete;

  // Starts the new content of the file of `kind`; the folders are made as
  // needed. EBUSY when a file is already open.
  int openFile(int kind, bool binary, bool replace);
  // Appends `line`, followed by a newline when `newline` is set. EBADF when
  // no file is open.
  int putLine(const std::string& line, bool newline);
  // Makes the new content the file's. EBADF when no file is open.
  int closeFile();

 private:
  void Abandon();
  // Logs `error`, abandons the save and returns its errno.
  int Failed(const CWqError& error);

  int m_iVelliconId;
  KXJobID m_llJobId;
  int m_iFolder;  // the file's folder while a save is in progress
  FXAtomicFile m_file;
  std::string m_sPath;
};

class RetrieveResults {
 public:
  RetrieveResults(int velliconId, KXJobID jobId, int kind, void* context, int flags);
  // Where the file of that kind is (whether or not it exists).
  const std::string& getPath() const { return m_sPath; }

 private:
  std::string m_sPath;
};

// The root folder in force.
std::string JobResultsRoot();
std::string JobResultsPath(int velliconId, KXJobID jobId, int kind);

class JobResultsSwitches {
 public:
  static JobResultsSwitches& Instance();

  void Reset();
  // 0 clears a switch.
  void FailOpen(int errNo);
  void FailPut(int errNo);
  void FailClose(int errNo);
  // Called with the number of completed saves (from 1) after each one.
  void SetSaveHook(std::function<void(int)> hook);
  // Called in closeFile once the new content is written, just before it
  // replaces the file: a test may run another writer there.
  void SetRenameHook(std::function<void()> hook);

  int OpenFailure() const;
  int PutFailure() const;
  int CloseFailure() const;
  // Counts one completed save and runs the hook (outside the lock).
  void SaveCompleted();
  // Runs the rename hook, if any (outside the lock).
  void BeforeRename();

 private:
  mutable std::mutex m_mutex;
  int m_iFailOpen = 0;
  int m_iFailPut = 0;
  int m_iFailClose = 0;
  int m_iSaves = 0;
  std::function<void(int)> m_hook;
  std::function<void()> m_renameHook;
};

// Points the store at a fresh folder for the life of the object (tests).
class ScopedResultsRoot {
 public:
  ScopedResultsRoot();
  ~ScopedResultsRoot();
  ScopedResultsRoot(const ScopedResultsRoot&) = delete;
  ScopedResultsRoot& operator=(const ScopedResultsRoot&) = delete;
  const std::string& path() const { return m_sPath; }

 private:
  std::string m_sPath;
  bool m_bHadPrevious;
  std::string m_sPrevious;
};
