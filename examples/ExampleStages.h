// ExampleStages: the stages of one run of the example host, timed, and the
// summary table that ends every run: each stage with its result, items,
// bytes, seconds and MB/s.
//
// A stage is an ExampleStage object: it starts timing when made and is
// recorded when Done() or Failed() is called, or as "FAILED" when it goes
// out of scope without either (an error return). While a stage runs longer
// than a second and stdout is a terminal (not --quiet, not --verbose), a
// progress line shows its name and time, rewritten in place.
//
// Test seam: when PROXY_EXAMPLE_PAUSE_AT names a stage, the run prints
// "example_host: paused at <stage>" when that stage starts and waits there
// until it is interrupted (the Ctrl-C smoke test).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "CWqError.h"

class ExampleStage {
 public:
  explicit ExampleStage(const std::string& name);
  ~ExampleStage();
  ExampleStage(const ExampleStage&) = delete;
  ExampleStage& operator=(const ExampleStage&) = delete;

  // The stage ended well: what it moved. A stage that moves no bytes of
  // data passes `bytesKnown` false ("-" in the table).
  void Done(uint64_t items, uint64_t bytes, bool bytesKnown = true);
  // The stage ended with `result` ("current", "3 differences", ...).
  void Ended(const std::string& result, uint64_t items, uint64_t bytes, bool bytesKnown, bool failed);
  // The stage failed with `error`.
  void Failed(const CWqError& error);
  // What `result` says: Failed when it is an error; returns it.
  CWqError Check(const CWqError& result);

 private:
  std::string m_sName;
  double m_dStart;
  bool m_bRecorded = false;
};

namespace ExampleStages {

// A row measured elsewhere (no time of its own: seconds "-").
void AddRow(const std::string& name, const std::string& result, uint64_t items, bool failed);
// Prints the table on `out`; nothing when no stage ran.
void PrintSummary(std::FILE* out);
// Whether a stage failed.
bool AnyFailed();
// Stops the progress line's thread (before the process ends).
void Stop();

}  // namespace ExampleStages
