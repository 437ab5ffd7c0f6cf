// Pre-pipeline messages: the client's capability, the configuration the
// proxy answers with, pre-pipeline data blocks with their signature records,
// and the signature queries and results of the query connection.
//
// Records travel in their wire form (ClPrePipelineRecords.h). Payloads:
//   COBConfigMsg                       capability record (4 bytes)
//   COBPrePipelineDedupeInfoRespMsg    configuration record (80 bytes)
//   ClPipelineBlobMsg                  data header record (56 bytes), then the data
//   ClPipelineSignatureMsg             nothing (no record) or a signature record (136 bytes)
//   COBPrePipelineDedupeQueryMsg       uint32 count, count query records (104 bytes each)
//   COBPrePipelineDedupeResultRespMsg  uint32 count, count result records (24 bytes each)
//   COBPrePipelinePerfCountersMsg      uint32 count, count counter records (112 bytes each)
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "ClMallocBlock.h"
#include "ClPrePipelineRecords.h"
#include "ClProxyMsg.h"
#include "ClSignatureRecords.h"

// PREPIPELINE_CONFIG_MSG: what the client program can do before the pipeline.
class COBConfigMsg : public ClProxyMsg {
 public:
  explicit COBConfigMsg(const COBClientConfig& config)
      : ClProxyMsg(PREPIPELINE_CONFIG_MSG), m_config(config) {}

  const COBClientConfig* GetConfig() const { return &m_config; }

  static std::unique_ptr<COBConfigMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  COBClientConfig m_config;
};

// The pre-pipeline dedupe configuration sent to the client program.
class COBPrePipelineDedupeInfoRespMsg : public ClProxyMsg {
 public:
  explicit COBPrePipelineDedupeInfoRespMsg(const _PrePipelineDedupe_Config& config)
      : ClProxyMsg(PREPIPELINE_DEDUPE_INFO_RESP_MSG), m_config(config) {}

  const _PrePipelineDedupe_Config& getConfig() const { return m_config; }

  static std::unique_ptr<COBPrePipelineDedupeInfoRespMsg> decode(const uint8_t* payload,
                                                                 uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  _PrePipelineDedupe_Config m_config;
};

// PROXY_PREPIPELINE_DATA_MSG: one block of pre-pipeline data and its header.
// A received block keeps the payload buffer it arrived in (no copy).
class ClPipelineBlobMsg : public ClProxyMsg {
 public:
  // Copies `length` bytes at `data`.
  ClPipelineBlobMsg(const _PipelineDataHdr& header, const void* data, uint32_t length);

  const uint8_t* getBlob() const { return m_pData; }
  uint32_t getBlobSize() const { return m_uLength; }
  const _PipelineDataHdr* GetPipelineDataHdr() const { return &m_header; }

  static std::unique_ptr<ClPipelineBlobMsg> decode(ClMallocBlock payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  ClPipelineBlobMsg() : ClProxyMsg(PROXY_PREPIPELINE_DATA_MSG), m_pData(nullptr), m_uLength(0) {}

  _PipelineDataHdr m_header;
  ClMallocBlock m_pBuffer;  // holds the data (and, when received, the header bytes)
  const uint8_t* m_pData;
  uint32_t m_uLength;
};

// PROXY_PREPIPELINEDEDUPE_SIGNATURE: the signature record of the block just
// sent, or no record.
class ClPipelineSignatureMsg : public ClProxyMsg {
 public:
  ClPipelineSignatureMsg() : ClProxyMsg(PROXY_PREPIPELINEDEDUPE_SIGNATURE), m_bHasSignature(false) {}
  explicit ClPipelineSignatureMsg(const _PrePipelineDedupe_Signature& signature)
      : ClProxyMsg(PROXY_PREPIPELINEDEDUPE_SIGNATURE),
        m_signature(signature),
        m_bHasSignature(true) {}

  // The embedded record, or null when the message holds none.
  const _PrePipelineDedupe_Signature* GetSignature() const {
    return m_bHasSignature ? &m_signature : nullptr;
  }

  static std::unique_ptr<ClPipelineSignatureMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  _PrePipelineDedupe_Signature m_signature;
  bool m_bHasSignature;
};

// PREPIPELINE_DEDUPE_QUERY_MSG: a batch of signature queries.
class COBPrePipelineDedupeQueryMsg : public ClProxyMsg {
 public:
  explicit COBPrePipelineDedupeQueryMsg(const std::vector<_PrePipelineDedupe_Query>& queries)
      : ClProxyMsg(PREPIPELINE_DEDUPE_QUERY_MSG), m_queries(queries) {}
  explicit COBPrePipelineDedupeQueryMsg(std::vector<_PrePipelineDedupe_Query>&& queries)
      : ClProxyMsg(PREPIPELINE_DEDUPE_QUERY_MSG), m_queries(std::move(queries)) {}

  // The first query of the batch (null when it is empty); `count` receives
  // the number of queries.
  const _PrePipelineDedupe_Query* getQuery(uint32_t& count) const {
    count = static_cast<uint32_t>(m_queries.size());
    return m_queries.empty() ? nullptr : m_queries.data();
  }
  const std::vector<_PrePipelineDedupe_Query>& getQueries() const { return m_queries; }

  static std::unique_ptr<COBPrePipelineDedupeQueryMsg> decode(const uint8_t* payload,
                                                              uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::vector<_PrePipelineDedupe_Query> m_queries;
};

// The results of signature queries, sent back on the query connection.
class COBPrePipelineDedupeResultRespMsg : public ClProxyMsg {
 public:
  explicit COBPrePipelineDedupeResultRespMsg(
      const std::vector<_PrePipelineDedupe_Result_Resp>& results)
      : ClProxyMsg(PREPIPELINE_DEDUPE_RESULT_RESP_MSG), m_results(results) {}
  explicit COBPrePipelineDedupeResultRespMsg(std::vector<_PrePipelineDedupe_Result_Resp>&& results)
      : ClProxyMsg(PREPIPELINE_DEDUPE_RESULT_RESP_MSG), m_results(std::move(results)) {}

  const std::vector<_PrePipelineDedupe_Result_Resp>& getResults() const { return m_results; }

  static std::unique_ptr<COBPrePipelineDedupeResultRespMsg> decode(const uint8_t* payload,
                                                                   uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::vector<_PrePipelineDedupe_Result_Resp> m_results;
};

// The client program's performance counters. A counter record travels as
// its 64-byte name, u32 at 64, u32 at 68, u64 at 72, u32 at 80 and 28
// carried bytes.
class COBPrePipelinePerfCountersMsg : public ClProxyMsg {
 public:
  static constexpr uint32_t kCounterSize = 112;

  explicit COBPrePipelinePerfCountersMsg(const std::vector<_PrePipelineDedupeperfCounter>& counters)
      : ClProxyMsg(PREPIPELINE_PERF_COUNTERS_MSG), m_counters(counters) {}

  const std::vector<_PrePipelineDedupeperfCounter>& getPerfCounters() const { return m_counters; }

  static std::unique_ptr<COBPrePipelinePerfCountersMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::vector<_PrePipelineDedupeperfCounter> m_counters;
};
