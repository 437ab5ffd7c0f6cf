#include "SampleContent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "ExampleFiles.h"
#include "FXErrorUtil.h"

const char kSampleMissingEntry[] = "/QSYS.LIB/ARCHIVE.LIB";
const char kSampleNewContent[] = "/home/QSECOFR/reports\\/\\/";

namespace {

// 2026-01-01 00:00:00 UTC.
const time_t kSampleTime = 1767225600;

struct SampleItem {
  const char* path;  // under the root
  const char* text;  // null: a folder
};

const char kReport[] = "employee,amount\n000101,4200.00\n000102,5150.00\n";

// Folders before what they hold. The report's copy gives deduplication a
// block to find.
const SampleItem kItems[] = {
    {"/QSYS.LIB", nullptr},
    {"/QSYS.LIB/PAYROLL.LIB", nullptr},
    {"/QSYS.LIB/PAYROLL.LIB/EMPLOYEE.FILE", nullptr},
    {"/QSYS.LIB/PAYROLL.LIB/EMPLOYEE.FILE/EMPLOYEE.MBR", "000101SMITH     JOHN      ACCOUNTING\n"
                                                         "000102JONES     MARY      PAYROLL\n"},
    {"/QSYS.LIB/PAYROLL.LIB/SALARY.FILE", nullptr},
    {"/QSYS.LIB/PAYROLL.LIB/SALARY.FILE/SALARY.MBR", "000101000420000\n000102000515000\n"},
    {"/QSYS.LIB/PAYROLL.LIB/QCLSRC.FILE", nullptr},
    {"/QSYS.LIB/PAYROLL.LIB/QCLSRC.FILE/NIGHTLY.MBR", "PGM\n  CALL PGM(PAYROLL/PAYCALC)\nENDPGM\n"},
    {"/QSYS.LIB/PAYROLL.LIB/PAYCALC.PGM", "program object\n"},
    {"/home", nullptr},
    {"/home/QSECOFR", nullptr},
    {"/home/QSECOFR/notes.txt", "Nightly payroll run checked.\n"},
    {"/home/QSECOFR/reports", nullptr},
    {"/home/QSECOFR/reports/2025-12.csv", kReport},
    {"/home/QSECOFR/reports/2025-12-copy.csv", kReport},
};

const char kLinkPath[] = "/home/QSECOFR/latest.csv";
const char kLinkTarget[] = "reports/2025-12.csv";

CWqError SetTime(const std::string& path) {
  const struct timespec times[2] = {{kSampleTime, 0}, {kSampleTime, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    const int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot set the time of [%s]: %s", path.c_str(),
                                   std::strerror(errNo));
  }
  return CWqError::Success();
}

}  // namespace

CWqError MakeSampleContent(const std::string& root) {
  std::vector<std::string> made;
  for (const SampleItem& item : kItems) {
    const std::string path = root + item.path;
    CWqError result;
    if (!item.text) {
      if (::mkdir(path.c_str(), 0755) != 0) {
        const int errNo = errno;
        result = FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot make [%s]: %s", path.c_str(), std::strerror(errNo));
      }
    } else {
      result = WriteWholeFile(path, item.text);
    }
    if (result.IsError()) return result;
    made.push_back(path);
  }
  const std::string link = root + kLinkPath;
  if (::symlink(kLinkTarget, link.c_str()) != 0) {
    const int errNo = errno;
    return FXErrorUtil::ErrorErrNo(FX_HERE, errNo, "Cannot make the link [%s]: %s", link.c_str(),
                                   std::strerror(errNo));
  }
  made.push_back(link);
  // Only once all is made: each item made changed its folder's time.
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    CWqError result = SetTime(*it);
    if (result.IsError()) return result;
  }
  return CWqError::Success();
}

std::list<std::string> SampleContentEntries() {
  return {"/QSYS.LIB/PAYROLL.LIB", "/home/QSECOFR", kSampleMissingEntry};
}
