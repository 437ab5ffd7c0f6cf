// The tape mode of the example host: the IBM i tape operations as another
// process of the product calls them, once against this machine (the tape
// library loaded at run time: the project's stand-in) and once against a
// media agent elsewhere (the simulated media agent's tape handlers over the
// platform network), then the DR size factor.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ExampleFiles.h"
#include "ExampleModes.h"
#include "ExampleStages.h"
#include "FXErrorUtil.h"
#include "IBMTape/ProxyTapeAPI.h"
#include "KXPlatformInfo.h"
#include "RecordRegistry.h"
#include "SimMediaAgent.h"

namespace {

const char kThisMachine[] = "127.0.0.1*proxy01";
const char kMediaAgent[] = "127.0.0.1*ma01";

// Runs the three operations against `mediaAgent`; the first failure ends it.
CWqError Operations(const char* where, const char* mediaAgent) {
  std::printf("%s (media agent %s, local: %s)\n", where, mediaAgent,
              ProxyTapeAPI::isSameAsMA(mediaAgent) ? "yes" : "no");
  CWqError result = ProxyTapeAPI::initializeIBMTape(1001, mediaAgent, "KXDR1001", "VOL001");
  std::printf("  initializeIBMTape VOL001: %s\n", result.IsError() ? result.AsString().c_str() : "done");
  if (result.IsError()) return result;
  long long chunk = 0;
  result = ProxyTapeAPI::getTapeSize(1001, mediaAgent, "VOL001", 1, 2, chunk);
  if (result.IsError()) return result;
  std::printf("  getTapeSize: chunk size %lld\n", chunk);
  unsigned int size = 0;
  result = ProxyTapeAPI::GetDefaultTapeSize(mediaAgent, size);
  if (result.IsError()) return result;
  std::printf("  GetDefaultTapeSize: %u\n", size);
  return CWqError::Success();
}

CWqError RunTape() {
  ExampleSettingsStore settingsRoot;
  RecordRegistry& records = RecordRegistry::Instance();
  records.AddClient(10, "proxy01", 0);
  records.AddClient(11, "ma01", 0);
  KXPlatformInfo settings;
  settings.setString("Machine", "sClientName", "proxy01", 7);
  settings.setNumber("FileSystemAgent", "DRBackupSizeMultiplicationFactor", 5);
  if (!std::getenv("PROXY_LIBRARY_DIR")) setenv("PROXY_LIBRARY_DIR", PROXY_TAPELIB_DIR "/full", 1);

  CWqError result = Operations("this machine, through the tape library", kThisMachine);
  if (result.IsError()) return result;

  SimMediaAgent agent("127.0.0.1");
  result = agent.Start();
  if (result.IsError()) return result;
  agent.Script(SimMediaAgent::Answer::Error(0, ""));
  agent.Script(SimMediaAgent::Answer::ChunkSize(256LL << 20));
  agent.Script(SimMediaAgent::Answer::TapeSize(800000));
  result = Operations("another media agent, through its tape handlers", kMediaAgent);
  agent.Stop();
  if (result.IsError()) return result;
  std::printf("requests the media agent served: %zu\n", agent.Requests().size());
  std::printf("DR size factor (setting 5): %.1f\n", ProxyTapeAPI::DRBackupSizeMultiplicationFactor());
  return CWqError::Success();
}

void AddTapeOptions(CLI::App&, ExampleOptions&) {}

int RunTapeMode(const ExampleOptions&) {
  ExampleStage stage("tape operations");
  CWqError result = stage.Check(RunTape());
  if (!result.IsError()) stage.Done(6, 0, false);
  return ReportModeResult(result, "tape run");
}

}  // namespace

ExampleMode TapeMode() {
  return ExampleMode{"tape", "The IBM i tape operations, on this machine and on a simulated media agent.",
                     AddTapeOptions, RunTapeMode, false};
}
