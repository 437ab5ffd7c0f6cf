// FXAtomicFile: a file of a folder replaced whole or not at all.
//
// Begin makes a temporary file in the folder open as `folder`: its name is
// the caller's prefix followed by random letters and digits, and it is made
// with O_CREAT | O_EXCL | O_NOFOLLOW, so neither a link nor a file already
// there is ever taken for it. Write appends to it. Commit syncs it, renames
// it over the target name in the same folder (renameat) and syncs the folder,
// so that after a power loss the target is either the old file or the new
// one, whole. A failure at any step, Abandon, or an object destroyed before
// Commit removes the temporary: nothing is left behind and the old file is
// as it was.
//
// The folder descriptor stays the caller's and must stay open while a file
// is in progress. Errors are errno errors whose text names the step and the
// target ("Cannot sync the temporary file of [<shown>]: ..."), `shown` being
// how the caller names the target in messages.
//
// Test seam: FailStepForTest makes one step fail with a chosen errno, the
// temporary being made (or kept) as it would be up to that step;
// ResetForTest clears it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "CWqError.h"

class FXAtomicFile {
 public:
  enum Step { kCreate, kWrite, kSyncFile, kRename, kSyncFolder };

  FXAtomicFile() = default;
  ~FXAtomicFile() { Abandon(); }
  FXAtomicFile(const FXAtomicFile&) = delete;
  FXAtomicFile& operator=(const FXAtomicFile&) = delete;

  // Starts the new content of `name` (a plain name in `folder`): a new
  // temporary of `prefix` and `randomChars` random letters and digits, of
  // mode `mode`. EBUSY when a file is already in progress.
  CWqError Begin(int folder, const std::string& name, const std::string& shown, const std::string& prefix,
                 size_t randomChars, mode_t mode);
  CWqError Write(const void* data, size_t size);
  CWqError Write(const std::string& data) { return Write(data.data(), data.size()); }
  // Makes the new content the file's. EBADF when no file is in progress.
  CWqError Commit();
  // Drops the new content; nothing when no file is in progress.
  void Abandon();

  bool InProgress() const { return m_iFd >= 0; }
  // The temporary's name in the folder while a file is in progress.
  const std::string& TemporaryName() const { return m_sTemporary; }

  // Begin, Write(content), Commit in one.
  static CWqError Replace(int folder, const std::string& name, const std::string& shown, const std::string& prefix,
                          size_t randomChars, mode_t mode, const std::string& content);

  // Removes the regular files of `folder` named `prefix` and exactly
  // `randomChars` letters or digits: temporaries a killed writer left. Links
  // (never followed), folders and other names stay. Only for a caller that
  // knows no such temporary is in progress (it holds the writers' lock).
  // `removed` gets the names removed. 0, or the errno when the folder
  // cannot be listed.
  static int RemoveTemporaries(int folder, const std::string& prefix, size_t randomChars,
                               std::vector<std::string>& removed);

  // 0 clears the switch.
  static void FailStepForTest(Step step, int errNo);
  static void ResetForTest();

 private:
  CWqError Fail(int errNo, const char* step);

  int m_iFolder = -1;
  int m_iFd = -1;
  std::string m_sName;
  std::string m_sShown;
  std::string m_sTemporary;
};
