// Fuzzes the pre-pipeline managers with input-chosen sequences, checked
// against a small model.
//
// The first byte scripts the signature-query module (answers held back
// until a wait for all, answers lost on that wait, a first answer repeated)
// and the limit of kept answers (small, or the default); then each step,
// chosen by one byte, is one of: a query batch (count, ids, signature
// seeds), a result request, a message of another type or of the wrong
// class, each handed to the query manager's message handling on this
// thread (its listener only waits for a connection that never comes); a
// pre-pipeline data block (header fields, size, own or supplied buffer and
// its room); a signature record (unique id); a switch of the archive's write
// failure. Checked: the pending count and the stored answers move together
// and never below zero, each reply's results are answers then stored, a
// batch that could pass the limit of kept answers is refused whole, a
// signature record finds exactly the answers the model holds, every archive
// record's tag header byte for byte and its data, and which buffers stay
// outstanding. Writes past a buffer are the sanitizers' to catch.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "ClBasicMsgs.h"
#include "ClPipelineMsgs.h"
#include "ClProxyWire.h"
#include "FuzzSupport.h"
#include "KXArchive.h"
#include "KXOpenBackupServices/CProxyPrepipelineMgr.h"
#include "SignatureQuery.h"

namespace {

const uint32_t kFileId = 0x01020304;

std::vector<uint8_t> ModelTag(uint32_t type, uint32_t size, const _PipelineDataHdr* header) {
  std::vector<uint8_t> tag(96, 0);
  std::memcpy(tag.data(), "TAGHD01", 8);
  ClProxyWire::PutU32(tag.data() + 32, type);
  ClProxyWire::PutU32(tag.data() + 44, kFileId);
  ClProxyWire::PutU32(tag.data() + 48, 1);
  ClProxyWire::PutU32(tag.data() + 80, kFileId);
  if (!header) {
    ClProxyWire::PutU32(tag.data() + 36, size);
    ClProxyWire::PutU32(tag.data() + 60, 7);
    return tag;
  }
  ClProxyWire::PutU32(tag.data() + 36, header->uDataSize);
  ClProxyWire::PutU32(tag.data() + 40, header->uSecondSize);
  ClProxyWire::PutU32(tag.data() + 60, header->uCompressionType);
  ClProxyWire::PutU32(tag.data() + 72, ((type == 322 || (header->uFlags & 1)) ? 1u : 0u) | (header->uFlags & 6));
  return tag;
}

struct Setup {
  Setup() {
    FuzzQuietLogging();
    // The listener must never give up waiting while the fuzzer runs.
    CLProxyDedupeQueryMgr::SetAcceptWaitSeconds(3600);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  FuzzBytes in(data, size);
  SignatureQueryScript::Reset();
  const uint8_t mode = in.byte();
  SignatureQueryScript script;
  script.heldBack = mode & 3;
  script.dropOnWait = (mode >> 2) & 1;
  script.repeatFirst = (mode >> 3) & 1;
  SignatureQueryScript::Set(script);
  // A small limit of kept answers, or the default one.
  const size_t limit = ((mode >> 4) & 3) * 4;

  KXArchive archive;
  _PrePipelineDedupe_Config config;
  config.ullFlags = 1;
  config.uSignatureLocation = 1;
  archive.SetConfig(config);
  archive.SetQueryParams(st_SigQueryParams(), "vms1");
  std::unique_ptr<CProxyPrepipelineMgr> mgr(new CProxyPrepipelineMgr());
  FUZZ_CHECK(!mgr->Initialize(&archive, 1, kFileId).IsError(), "initialize");
  bool enabled = false;
  CWqError started = mgr->GetPrePipelineDedupeConfig(config, enabled);
  FUZZ_CHECK(!started.IsError(), "the query server did not start: %s", started.AsString().c_str());
  CLProxyDedupeQueryMgr& query = mgr->QueryManager();
  query.SetStoredAnswerLimit(limit);

  std::map<uint32_t, int> stored;  // answers the model knows of, by id
  bool unknownStored = false;      // answers stored without a reply naming them
  size_t records = 0;
  bool writeFailing = false;
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    const uint8_t op = in.byte() % 7;
    if (op <= 3) {
      std::unique_ptr<ClProxyMsg> message;
      uint32_t added = 0;
      if (op == 0) {
        std::vector<_PrePipelineDedupe_Query> queries(in.byte() % 9);
        for (_PrePipelineDedupe_Query& q : queries) {
          q.uUniqueId = in.byte() % 16;
          q.signature[0] = in.byte() % 4;
        }
        added = static_cast<uint32_t>(queries.size());
        message.reset(new COBPrePipelineDedupeQueryMsg(queries));
      } else if (op == 1) {
        message.reset(new ClEmptyMsg(PREPIPELINE_DEDUPE_RESULT_REQ_MSG));
      } else if (op == 2) {
        message.reset(new ClEmptyMsg(in.u16()));
      } else {
        message.reset(new ClEmptyMsg(PREPIPELINE_DEDUPE_QUERY_MSG));
      }
      const uint32_t pendingBefore = query.PendingCount();
      const size_t storedBefore = query.StoredAnswerCount();
      ClProxyMsg* reply = nullptr;
      CWqError result = query.processMessage(message.get(), reply);
      std::unique_ptr<ClProxyMsg> owned(reply);
      const size_t gained = query.StoredAnswerCount() - storedBefore;
      FUZZ_CHECK(query.StoredAnswerCount() >= storedBefore, "stored answers went down while handling a message");
      if (op == 0 && added && limit && storedBefore + pendingBefore + added > limit) {
        FUZZ_CHECK(result.IsError() && !reply, "a batch past the limit of %zu kept answers was taken", limit);
        FUZZ_CHECK(query.PendingCount() == pendingBefore && gained == 0, "a refused batch changed the answers");
      }
      // A module that repeats an answer gives more than was owed.
      FUZZ_CHECK(!limit || script.repeatFirst || query.StoredAnswerCount() + query.PendingCount() <= limit,
                 "%zu answers kept and %u owed, past the limit of %zu", query.StoredAnswerCount(),
                 query.PendingCount(), limit);
      const uint64_t owed = static_cast<uint64_t>(pendingBefore) + added;
      // Every answer that came is counted off what is owed; only a new
      // block's answer is stored (a found block gets no signature record).
      FUZZ_CHECK(query.PendingCount() <= owed, "pending %u after %u + %u", query.PendingCount(), pendingBefore, added);
      const uint64_t received = owed - query.PendingCount();  // a repeated answer may come beyond what is owed
      if (reply) {
        FUZZ_CHECK(!result.IsError(), "a reply to a failed message");
        const COBPrePipelineDedupeResultRespMsg* results = dynamic_cast<const COBPrePipelineDedupeResultRespMsg*>(reply);
        FUZZ_CHECK(results != nullptr, "the reply is no result list");
        size_t fresh = 0;
        for (const _PrePipelineDedupe_Result_Resp& one : results->getResults()) {
          if (!one.uIsNew) continue;
          ++fresh;
          ++stored[one.uUniqueId];
        }
        FUZZ_CHECK(received == std::min<uint64_t>(results->getResults().size(), owed),
                   "pending %u after %u + %u with %zu answers", query.PendingCount(), pendingBefore, added,
                   results->getResults().size());
        FUZZ_CHECK(fresh == gained, "the reply lists %zu new answers, %zu stored", fresh, gained);
      } else if (gained) {
        unknownStored = true;
      }
    } else if (op == 4) {
      _PipelineDataHdr header;
      header.uFlags = in.byte();
      header.uDataSize = in.byte() % 64;
      header.uSecondSize = in.byte();
      header.uCompressionType = in.byte() % 9;
      header.uEncryptionType = in.byte() % 3 == 0 ? 1 : 0;
      const uint8_t choice = in.byte();
      const uint32_t length = (choice & 1) ? header.uDataSize : in.byte() % 64;
      std::vector<char> bytes(length, static_cast<char>(choice));
      char* buffer = nullptr;
      uint32_t room = 0;
      AllocateBufRet_t ret;
      if (choice & 2) {
        AllocateBufArgs_t args;
        args.uDataSize = in.byte() % 64;
        buffer = mgr->AllocateKXArchiveBuffer(&args, &ret);
        FUZZ_CHECK(buffer, "allocation");
        room = ret.uRoom;
      }
      const size_t outstanding = archive.OutstandingBuffers();
      CWqError result = mgr->onPrepipelineDedupeData(bytes.data(), length, &header, buffer, room);
      const bool good = length == header.uDataSize && (!buffer || room >= length) &&
                        (header.uCompressionType == 0 || header.uCompressionType == 7) && header.uEncryptionType == 0;
      std::vector<KXArchive::Record> got = archive.Records();
      if (!result.IsError()) {
        FUZZ_CHECK(good, "a block that should be refused was written");
        FUZZ_CHECK(got.size() == records + 1, "no record for a written block");
        FUZZ_CHECK(got.back().header == ModelTag(2, length, &header), "tag header of a data block");
        FUZZ_CHECK(got.back().data == std::vector<uint8_t>(bytes.begin(), bytes.end()), "data of a block");
        records = got.size();
        FUZZ_CHECK(archive.OutstandingBuffers() == outstanding - (buffer ? 1 : 0), "a written buffer stays");
      } else {
        FUZZ_CHECK(got.size() == records, "a refused block reached the archive");
      FUZZ_CHECK(!good || writeFailing, "a sound block was refused: %s", result.AsString().c_str());
        FUZZ_CHECK(archive.OutstandingBuffers() == outstanding, "a failed call changed the outstanding buffers");
        if (buffer) {
          FreeBufArgs_t release = ret.freeArgs;
          FUZZ_CHECK(archive.freeBuffer(&release, nullptr) == 0, "the caller's buffer was taken from it");
        }
      }
    } else if (op == 5) {
      _PrePipelineDedupe_Signature signature;
      signature.uUniqueId = in.byte() % 16;
      const size_t storedBefore = query.StoredAnswerCount();
      CWqError result = mgr->onPrepipelineSignature(&signature, nullptr, 0);
      const bool known = stored[signature.uUniqueId] > 0;
      std::vector<KXArchive::Record> got = archive.Records();
      if (!result.IsError()) {
        FUZZ_CHECK(known || unknownStored, "an answer the model does not hold was found");
        FUZZ_CHECK(got.size() == records + 1 && got.back().header == ModelTag(322, 240, nullptr),
                   "tag header of a signature tag");
        uint32_t id = 0;
        std::memcpy(&id, got.back().data.data(), 4);
        FUZZ_CHECK(id == signature.uUniqueId, "the tag holds another answer");
        records = got.size();
      } else {
        FUZZ_CHECK(!known || writeFailing, "a held answer was not found: %s", result.AsString().c_str());
        FUZZ_CHECK(got.size() == records, "a failed signature tag reached the archive");
      }
      if (known) --stored[signature.uUniqueId];
      FUZZ_CHECK(query.StoredAnswerCount() == storedBefore - (result.IsError() && !known ? 0 : 1) ||
                     (unknownStored && query.StoredAnswerCount() + 1 == storedBefore),
                 "a found answer stays stored");
      FUZZ_CHECK(archive.OutstandingBuffers() == 0, "a signature tag left a buffer");
    } else {
      writeFailing = in.byte() & 1;
      archive.SetFailure(KXArchive::kWrite, writeFailing);
    }
  }
  mgr->Uninitialize();
  mgr.reset();
  FUZZ_CHECK(SignatureQueryScript::LiveModules() == 0, "a module outlived its manager");
  return 0;
}
