// Conversion of the current client file header into the host's forms.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "CxHeaderConversion.h"
#include "FXErrorUtil.h"
#include "FXLogWriter.h"
#include "FXString.h"
#include "ProxyBackup.h"

namespace {

const char kHardLinkStore[] = "/__KXHardLink@-@-Files__/";

// A reference to an archive is marked in the converted flags.
const uint64_t kReferenceFlag = 0x2000000000000000ull;

}  // namespace

std::string ProxyBackup::getFileName() const { return m_headerSerializer.name; }

CWqError ProxyBackup::getCxHeader(CXFileHeader& cx) {
  const ClProxyFileHeader& header = m_headerSerializer;
  CWqError result = ConvertClientHeader(header, m_iClientOSId, kReferenceFlag, cx);
  if (result.IsError()) {
    // The item failed here: getFailedFile names it as it names one the
    // client gave up, in a form that prints whole.
    m_sFailedFile = PrintableClientName(header.name);
    m_nFailedErrno = FXErrorUtil::IsErrNo(result) ? FXErrorUtil::GetErrNo(result) : -1;
    m_sErrorText = result.AsString(ERROR_OUTPUT_TEXT);
    FX_LOG(-1, "Failed file, fileName=%s, errno=%d (%s)", m_sFailedFile.c_str(), m_nFailedErrno,
           m_sErrorText.c_str());
    return result;
  }
  m_sCurrentFile = header.name;
  FX_LOG(4, "Backup %s %s with platform flags %llX size:%llu time:%llu offset:%llu",
         (header.mode & 0xF000) == 0x4000 ? "folder" : "file", header.name.c_str(),
         static_cast<unsigned long long>(cx.platformFlags), static_cast<unsigned long long>(header.size),
         static_cast<unsigned long long>(header.mtime), static_cast<unsigned long long>(header.offset));
  return CWqError::Success();
}

void ProxyBackup::fillStatBuffer(struct stat* st) {
  if (!st) return;
  const ClProxyFileHeader& header = m_headerSerializer;
  st->st_mode = static_cast<mode_t>(static_cast<uint32_t>(header.mode));
  st->st_uid = static_cast<uid_t>(static_cast<uint32_t>(header.uid));
  st->st_gid = static_cast<gid_t>(static_cast<uint32_t>(header.gid));
  st->st_size = static_cast<off_t>(header.size);
  st->st_atim.tv_sec = static_cast<time_t>(header.atime);
  st->st_mtim.tv_sec = static_cast<time_t>(header.mtime);
  st->st_ctim.tv_sec = static_cast<time_t>(header.ctime);
}

bool ProxyBackup::isProxyFile(const std::string& path) const {
  if (FXString::CompareLeftNoCase(path, m_sClientBaseDir) == 0) return true;
  return path.compare(0, sizeof kHardLinkStore - 1, kHardLinkStore) == 0;
}
