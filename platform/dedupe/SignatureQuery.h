// The signature-query module: GetSignatureQuery makes one, FreeSignatureQuery
// releases it (after its shutdown). A module answers batches of signature
// queries against the process-wide signature store: a signature seen before
// is found (found flag 1), a new one is added (found flag 0). Each answer
// starts with its query's unique id and carries the query's primary record.
//
// What the module does is scripted through SignatureQueryScript, read when
// a module is made (Set before GetSignatureQuery):
//   heldBack    the last n answers of each batch are not ready at once: the
//               module's worker thread posts them when a caller waits for
//               all, or when ReleaseHeld is called
//   holdUntilReleased  a wait for all does not ask for the held answers:
//               it lasts until ReleaseHeld (to keep a message in hand)
//   failInit / failQuery / failResponse / failMake   the operation fails
//               (a non-zero result, or no module at all)
//   dropOnWait  a wait for all hands out that many answers fewer than
//               outstanding (they are lost)
//   repeatFirst every first answer of a batch is handed out twice, the
//               second time with its carried word at offset 216 set to 1
// A module may be used from two threads at once. Counters for tests: live
// modules, operations called after shutdown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ClSignatureRecords.h"

struct _JobPerfCounterCollection;

class ISignatureQuery {
 public:
  virtual ~ISignatureQuery() {}
  // 0 when ready.
  virtual int init(const _stSQueryInitParameters& params) = 0;
  // Ends the worker; later calls fail.
  virtual void shutdown() = 0;
  // 0 when the queries are under way; answers come through the call below.
  virtual int QuerySignaturesAsync(const std::vector<SIDBQueryAndInsertSignaturesRequestParam>& requests) = 0;
  // Appends the answers that are ready (waitForAll false) or every
  // outstanding answer (true, waits for them). 0 when ok.
  virtual int GetQuerySignaturesResponse(std::vector<_SignatureRespParam>& answers, bool waitForAll) = 0;
  // Fills `tag` (zeroed by the caller) with the signature tag's payload.
  virtual int GetTagData(const SIDBQueryAndInsertSignaturesResponseParam* answer,
                         SIDBQueryAndInsertSignaturesResponseParam* tag) = 0;
  // Adds the module's counters (queries and signatures found) to `collection`.
  virtual int UpdatePerfCounters(_JobPerfCounterCollection* collection, uint32_t group) = 0;
};

ISignatureQuery* GetSignatureQuery();
void FreeSignatureQuery(ISignatureQuery* module);

struct SignatureQueryScript {
  uint32_t heldBack = 0;
  bool failMake = false;
  bool failInit = false;
  bool failQuery = false;
  bool failResponse = false;
  uint32_t dropOnWait = 0;
  bool repeatFirst = false;
  bool holdUntilReleased = false;

  // The script of modules made from now on.
  static void Set(const SignatureQueryScript& script);
  // Default script, empty store, counters at 0.
  static void Reset();
  static SignatureQueryScript Get();

  // Posts the held answers of every live module.
  static void ReleaseHeld();
  static int LiveModules();
  static int ModulesMade();
  static int UsesAfterShutdown();
  // Callers now inside a wait for all.
  static int Waiting();
  // Signatures in the store.
  static size_t StoredSignatures();
  // Wall time spent inside the query and response operations of every
  // module since the last Reset (waits for held answers included), so that
  // a benchmark can tell the module's share of a run from its caller's.
  static double BusySeconds();
};
