#include "ClPipelineMsgs.h"

#include <cstring>

#include "ClProxyPayload.h"

namespace {

// A payload that is exactly one record.
template <typename Record>
bool DecodeOne(const uint8_t* payload, uint32_t length, Record& record) {
  ClProxyPayloadReader in(payload, length);
  ClPrePipelineWire::Get(in, record);
  return in.done();
}

// A payload that is a uint32 count and that many records of `recordSize`.
template <typename Record>
bool DecodeList(const uint8_t* payload, uint32_t length, uint32_t recordSize,
                std::vector<Record>& records) {
  ClProxyPayloadReader in(payload, length);
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, recordSize)) return false;
  const uint8_t* at = in.take(count * recordSize);
  if (!at || !in.done()) return false;
  records.clear();
  records.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    records.emplace_back();
    ClPrePipelineWire::Read(at + static_cast<size_t>(i) * recordSize, records.back());
  }
  return true;
}

template <typename Record>
void EncodeList(ClProxyPayloadWriter& out, const std::vector<Record>& records, uint32_t recordSize) {
  out.put(static_cast<uint32_t>(records.size()));
  const uint64_t bytes = static_cast<uint64_t>(records.size()) * recordSize;
  if (bytes > 0xFFFFFFFFull) {
    out.fail();
    return;
  }
  uint8_t* at = out.extend(static_cast<uint32_t>(bytes));
  if (!at) return;
  for (const Record& record : records) {
    ClPrePipelineWire::Write(at, record);
    at += recordSize;
  }
}

void PutCounter(ClProxyPayloadWriter& out, const _PrePipelineDedupeperfCounter& r) {
  out.putRaw(r.name, sizeof(r.name));
  out.put(r.uCarried64);
  out.put(r.uValue68);
  out.put(r.ullValue72);
  out.put(r.uValue80);
  out.putRaw(r.carried84, sizeof(r.carried84));
}

void GetCounter(ClProxyPayloadReader& in, _PrePipelineDedupeperfCounter& r) {
  in.getRaw(r.name, sizeof(r.name));
  in.get(r.uCarried64);
  in.get(r.uValue68);
  in.get(r.ullValue72);
  in.get(r.uValue80);
  in.getRaw(r.carried84, sizeof(r.carried84));
}

}  // namespace

CWqError COBConfigMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  ClPrePipelineWire::Put(w, m_config);
  return w.result(getMsgType());
}

std::unique_ptr<COBConfigMsg> COBConfigMsg::decode(const uint8_t* payload, uint32_t length) {
  COBClientConfig config;
  if (!DecodeOne(payload, length, config)) return nullptr;
  return std::unique_ptr<COBConfigMsg>(new COBConfigMsg(config));
}

CWqError COBPrePipelineDedupeInfoRespMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  ClPrePipelineWire::Put(w, m_config);
  return w.result(getMsgType());
}

std::unique_ptr<COBPrePipelineDedupeInfoRespMsg> COBPrePipelineDedupeInfoRespMsg::decode(
    const uint8_t* payload, uint32_t length) {
  _PrePipelineDedupe_Config config;
  if (!DecodeOne(payload, length, config)) return nullptr;
  return std::unique_ptr<COBPrePipelineDedupeInfoRespMsg>(
      new COBPrePipelineDedupeInfoRespMsg(config));
}

ClPipelineBlobMsg::ClPipelineBlobMsg(const _PipelineDataHdr& header, const void* data,
                                     uint32_t length)
    : ClProxyMsg(PROXY_PREPIPELINE_DATA_MSG),
      m_header(header),
      m_pBuffer(ClMallocBlockOf(length)),
      m_pData(m_pBuffer.get()),
      m_uLength(data && m_pBuffer ? length : 0) {
  if (m_uLength) std::memcpy(m_pBuffer.get(), data, m_uLength);
}

CWqError ClPipelineBlobMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  ClPrePipelineWire::Put(w, m_header);
  w.putRaw(m_pData, m_uLength);
  return w.result(getMsgType());
}

std::unique_ptr<ClPipelineBlobMsg> ClPipelineBlobMsg::decode(ClMallocBlock payload, uint32_t length) {
  if (!payload && length) return nullptr;
  ClProxyPayloadReader in(payload.get(), length);
  std::unique_ptr<ClPipelineBlobMsg> msg(new ClPipelineBlobMsg());
  ClPrePipelineWire::Get(in, msg->m_header);
  if (!in.ok()) return nullptr;
  msg->m_uLength = in.remaining();
  msg->m_pBuffer = std::move(payload);
  msg->m_pData = msg->m_pBuffer.get() + in.offset();
  return msg;
}

CWqError ClPipelineSignatureMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  if (m_bHasSignature) ClPrePipelineWire::Put(w, m_signature);
  return w.result(getMsgType());
}

std::unique_ptr<ClPipelineSignatureMsg> ClPipelineSignatureMsg::decode(const uint8_t* payload,
                                                                       uint32_t length) {
  if (length == 0) return std::unique_ptr<ClPipelineSignatureMsg>(new ClPipelineSignatureMsg());
  _PrePipelineDedupe_Signature signature;
  if (!DecodeOne(payload, length, signature)) return nullptr;
  return std::unique_ptr<ClPipelineSignatureMsg>(new ClPipelineSignatureMsg(signature));
}

CWqError COBPrePipelineDedupeQueryMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  EncodeList(w, m_queries, ClPrePipelineWire::kQuerySize);
  return w.result(getMsgType());
}

std::unique_ptr<COBPrePipelineDedupeQueryMsg> COBPrePipelineDedupeQueryMsg::decode(
    const uint8_t* payload, uint32_t length) {
  std::vector<_PrePipelineDedupe_Query> queries;
  if (!DecodeList(payload, length, ClPrePipelineWire::kQuerySize, queries)) return nullptr;
  return std::unique_ptr<COBPrePipelineDedupeQueryMsg>(new COBPrePipelineDedupeQueryMsg(std::move(queries)));
}

CWqError COBPrePipelineDedupeResultRespMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  EncodeList(w, m_results, ClPrePipelineWire::kResultSize);
  return w.result(getMsgType());
}

std::unique_ptr<COBPrePipelineDedupeResultRespMsg> COBPrePipelineDedupeResultRespMsg::decode(
    const uint8_t* payload, uint32_t length) {
  std::vector<_PrePipelineDedupe_Result_Resp> results;
  if (!DecodeList(payload, length, ClPrePipelineWire::kResultSize, results)) return nullptr;
  return std::unique_ptr<COBPrePipelineDedupeResultRespMsg>(
      new COBPrePipelineDedupeResultRespMsg(std::move(results)));
}

CWqError COBPrePipelinePerfCountersMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(static_cast<uint32_t>(m_counters.size()));
  for (const _PrePipelineDedupeperfCounter& counter : m_counters) PutCounter(w, counter);
  return w.result(getMsgType());
}

std::unique_ptr<COBPrePipelinePerfCountersMsg> COBPrePipelinePerfCountersMsg::decode(const uint8_t* payload,
                                                                                     uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, kCounterSize)) return nullptr;
  std::vector<_PrePipelineDedupeperfCounter> counters(count);
  for (_PrePipelineDedupeperfCounter& counter : counters) GetCounter(in, counter);
  if (!in.done()) return nullptr;
  return std::unique_ptr<COBPrePipelinePerfCountersMsg>(new COBPrePipelinePerfCountersMsg(counters));
}
