// A stand-in for the product's IBM i tape library "KxIBMTape", loaded at run
// time by the tape interface, never linked. It exports the three entry
// points under their plain names; a test scripts what they report and reads
// the calls they received through the two KxIBMTapeFake_ functions. Built
// twice: whole, and without getVolumeChunkSize (KXIBMTAPE_NO_CHUNK_SIZE).
#include <cstdint>
#include <mutex>
#include <string>

#include "CWqError.h"
#include "FXErrorUtil.h"

namespace {

struct Script {
  std::mutex mutex;
  int failure = 0;  // 0: success; else the plain-integer error reported
  long long chunkSize = 0;
  uint64_t defaultSize = 0;
  std::string calls;
};

Script& TheScript() {
  static Script script;
  return script;
}

void Report(Script& script, CWqError& result, const char* operation) {
  if (script.failure != 0) result = FXErrorUtil::ErrorInt(FX_HERE, script.failure, "%s failed in the tape library", operation);
}

}  // namespace

extern "C" {

void KxIBMTapeFake_Script(int failure, long long chunkSize, unsigned long long defaultSize) {
  Script& script = TheScript();
  std::lock_guard<std::mutex> lock(script.mutex);
  script.failure = failure;
  script.chunkSize = chunkSize;
  script.defaultSize = defaultSize;
  script.calls.clear();
}

// Each call as "name(arguments);", in order, since the last script.
const char* KxIBMTapeFake_Calls() {
  Script& script = TheScript();
  std::lock_guard<std::mutex> lock(script.mutex);
  return script.calls.c_str();
}

void initializeIBMTape(const char* text, const char* tape, CWqError& result) {
  Script& script = TheScript();
  std::lock_guard<std::mutex> lock(script.mutex);
  script.calls += std::string("initializeIBMTape(") + text + "," + tape + ");";
  Report(script, result, "initializeIBMTape");
}

#ifndef KXIBMTAPE_NO_CHUNK_SIZE
void getVolumeChunkSize(const char* text, long long first, long long second, long long& chunkSize, CWqError& result) {
  Script& script = TheScript();
  std::lock_guard<std::mutex> lock(script.mutex);
  script.calls += std::string("getVolumeChunkSize(") + text + "," + std::to_string(first) + "," +
                  std::to_string(second) + ");";
  chunkSize = script.chunkSize;
  Report(script, result, "getVolumeChunkSize");
}
#endif

void getDefaultVTLTapeSize(uint64_t& size, CWqError& result) {
  Script& script = TheScript();
  std::lock_guard<std::mutex> lock(script.mutex);
  script.calls += "getDefaultVTLTapeSize();";
  size = script.defaultSize;
  Report(script, result, "getDefaultVTLTapeSize");
}

}  // extern "C"
