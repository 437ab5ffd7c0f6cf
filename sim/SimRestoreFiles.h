// SimRestoreFiles: what the simulated restore program does with the proxy's
// file stream when no script is given. It restores into a local root folder
// that stands for the client's "/".
//
//   FILE_HEADER_MSG     the serialized header (any optional header after it
//                       is ignored) opens the next item; a folder is made at
//                       once, a file is created empty, a link waits for its
//                       target (its data). An item still open is dropped as
//                       after BAD_EOF_MSG.
//   FILE_DATA_MSG       written to the open file as it comes
//   GOOD_EOF_MSG        sets the item's mode and mtime (a folder keeps its
//                       owner's rwx, so later items can go into it), makes a
//                       link, and answers an ITEM_STATUS_MSG with a status-5
//                       entry (value: the bytes written); with no item open
//                       it ends the source filters
//   BAD_EOF_MSG         removes the partial file
//   SOURCE_FILTERS_MSG  its filters, split on ";", are kept (not applied)
//   JOB_COMPLETE_MSG    drops an open item and answers GOOD_EOF_MSG
//
// A name is resolved inside the root only: a "." or ".." component, a NUL,
// or a folder on the way that is a symbolic link fails the item with
// FAILED_FILE_MSG and writes nothing. A failed create or write fails the item
// with FAILED_FILE_MSG carrying the system error and its text (DISK_FULL_MSG
// instead for ENOSPC) and removes the partial file; the item's later data
// and its end are ignored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ClProxyFileHeader.h"
#include "ClProxyMsg.h"

class SimRestoreFiles {
 public:
  struct Totals {
    uint64_t files = 0;    // regular files restored (a good end)
    uint64_t folders = 0;
    uint64_t links = 0;
    uint64_t failed = 0;   // items that got FAILED_FILE_MSG or DISK_FULL_MSG
    uint64_t bytes = 0;    // data bytes written
  };

  // `root` must exist; when it cannot be opened every item fails.
  explicit SimRestoreFiles(const std::string& root);
  ~SimRestoreFiles();
  SimRestoreFiles(const SimRestoreFiles&) = delete;
  SimRestoreFiles& operator=(const SimRestoreFiles&) = delete;

  // Handles one message of the proxy; the program's answers are appended to
  // `replies`, in order. `done` is set after JOB_COMPLETE_MSG.
  void Handle(const ClProxyMsg& message, std::vector<std::shared_ptr<ClProxyMsg>>& replies, bool& done);

  const std::vector<std::string>& Filters() const { return m_filters; }
  const Totals& GetTotals() const { return m_totals; }

 private:
  enum Kind { kNone, kFile, kFolder, kLink };

  void Open(const ClProxyFileHeader& header, std::vector<std::shared_ptr<ClProxyMsg>>& replies);
  void Write(const uint8_t* data, uint32_t size, std::vector<std::shared_ptr<ClProxyMsg>>& replies);
  void Finish(std::vector<std::shared_ptr<ClProxyMsg>>& replies);
  // Drops the open item; a file is removed.
  void Drop();
  void Fail(int errNo, const std::string& what, std::vector<std::shared_ptr<ClProxyMsg>>& replies);
  // The folder that holds `name` inside the root (made as needed) and the
  // last component; -1 with errno set when the name may not be used.
  int ParentOf(const std::string& name, std::string& leaf);

  int m_rootFd;
  int m_rootErrno;
  std::vector<std::string> m_filters;
  Totals m_totals;

  // The item in progress.
  Kind m_kind = kNone;
  bool m_failed = false;
  bool m_created = false;  // the file was made by this item: a failure removes it
  ClProxyFileHeader m_header;
  int m_parentFd = -1;
  int m_itemFd = -1;
  std::string m_leaf;
  std::string m_linkTarget;
  uint64_t m_written = 0;
};
