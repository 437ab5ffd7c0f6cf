// DBClientFileBackup: reads one file of the proxy host for the database
// file-backup phase: describes it with lstat (a link is described as the
// link), opens it read-only and hands out its header and its data in
// blocks.
//
// Only regular files are read. A directory is described, and opened as its
// name with ".DIR" appended (no data). A FIFO, a device, a socket or a
// directory reached through a link fails init with EINVAL and a text naming
// the type, without being opened (lstat, and stat through a link, show it),
// so a named pipe cannot stall a job and a device is never opened or read.
// The open never blocks nor takes a controlling terminal, and what was
// opened is checked again against a swap.
//
// Results are statuses, never exceptions: init 0 or 1 (getFileErrno set);
// getHeader 0 or 1 (buffer null, size 0); getData 0 with a block, 10 at the
// end (or for a directory), 11 on a read error. The object owns its
// descriptor and closes it when destroyed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "ClProxyFileHeader.h"

class DBClientFileBackup {
 public:
  DBClientFileBackup();
  ~DBClientFileBackup();
  DBClientFileBackup(const DBClientFileBackup&) = delete;
  DBClientFileBackup& operator=(const DBClientFileBackup&) = delete;

  int init(const std::string& fileName, uint64_t startOffset);
  // A malloc'd copy of the serialized header, which the caller frees.
  int getHeader(char*& buf, uint32_t& bufSize);
  // Reads at most `bufSize` bytes into `buf`; `bufSize` becomes the bytes
  // read (0 unless the status is 0).
  int getData(char*& buf, uint32_t& bufSize);

  uint64_t getFileSize() const { return m_ullFileSize; }
  int32_t getFileErrno() const { return m_iFileErrno; }
  // Set only when the file was refused for its type.
  const std::string& getFileErrorText() const { return m_sFileErrorText; }

 private:
  int failed();
  int notReadable(mode_t mode);  // EINVAL with a text naming the type

  bool m_bInitialized;
  ClProxyFileHeaderSerializer m_headerSerializer;
  ClProxyFileHeaderSerializer m_optHeaderSerializer;  // never filled
  std::string m_sFileName;
  uint64_t m_ullFileSize;
  uint64_t m_ullStartOffset;
  int32_t m_iFileErrno;
  std::string m_sFileErrorText;
  bool m_bDirectory;
  int m_iFd;
};
