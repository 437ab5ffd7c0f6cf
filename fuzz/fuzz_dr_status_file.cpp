// Fuzzes the DR status file decoder: arbitrary bytes as the status file of a
// job, restored into a state object. The restore either fails with a clear
// error leaving the object as it was, or gives a state; whatever it gives is
// saved and restored again and must come back the same.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <list>
#include <string>

#include "FXErrorUtil.h"
#include "JobResults.h"
#include "service/IBMiDRStateInterface.h"

namespace {

const int kVellicon = 2;
const long long kJob = 123456789012LL;

struct Root {
  Root() : root(new ScopedResultsRoot()) {}
  ScopedResultsRoot* root;  // lives for the process: the fuzzer never returns cleanly
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Root root;
  IBMiDRStateInterface state(kVellicon, 17, kJob);
  {
    std::ofstream out(state.statusFilePath(), std::ios::binary | std::ios::trunc);
    if (!out) {
      // The folders appear with the first save.
      state.saveStatus();
      out.open(state.statusFilePath(), std::ios::binary | std::ios::trunc);
    }
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  state.setState(DR_STATE_SERVICES_BACK);
  state.setBackupJobNumber("keep");
  CWqError result = state.restoreStatus();
  if (result.IsError()) {
    if (!FXErrorUtil::IsErrNo(result)) std::abort();
    if (state.getState() != DR_STATE_SERVICES_BACK || state.getBackupJobNumber() != "keep") std::abort();
    return 0;
  }
  if (state.saveStatus().IsError()) std::abort();
  IBMiDRStateInterface again(kVellicon, 17, kJob);
  if (again.restoreStatus().IsError()) std::abort();
  std::list<std::string> a, b;
  state.getTapeList(a);
  again.getTapeList(b);
  if (again.getState() != state.getState() || again.getBackupJobNumber() != state.getBackupJobNumber() ||
      again.getSystemBackupSize() != state.getSystemBackupSize()) std::abort();
  // Only a tape list that is itself the size placeholder comes back empty.
  if (a != b && !(b.empty() && a == std::list<std::string>{"BackupSize"})) std::abort();
  return 0;
}
