#include "ClPrePipelineRecords.h"

#include "ClProxyPayload.h"

namespace ClPrePipelineWire {

void Put(ClProxyPayloadWriter& out, const _PrePipelineDedupe_Config& r) {
  for (uint32_t v : {r.uCompressionScheme, r.uCompressionLocation, r.uCarried8, r.uCarried12,
                     r.uSignatureScheme, r.uSignatureLocation, r.uDedupeBlockSizeKB,
                     r.uCarried28})
    out.put(v);
  out.put(r.ullFlags);
  for (uint32_t v : {r.uSignaturesPerBatch, r.uQueryPort, r.uCarried48, r.uCarried52,
                     r.uCarried56, r.uCarried60})
    out.put(v);
  out.put(r.ullCarried64);
  out.put(r.ullCarried72);
}

void Get(ClProxyPayloadReader& in, _PrePipelineDedupe_Config& r) {
  for (uint32_t* v : {&r.uCompressionScheme, &r.uCompressionLocation, &r.uCarried8,
                      &r.uCarried12, &r.uSignatureScheme, &r.uSignatureLocation,
                      &r.uDedupeBlockSizeKB, &r.uCarried28})
    in.get(*v);
  in.get(r.ullFlags);
  for (uint32_t* v : {&r.uSignaturesPerBatch, &r.uQueryPort, &r.uCarried48, &r.uCarried52,
                      &r.uCarried56, &r.uCarried60})
    in.get(*v);
  in.get(r.ullCarried64);
  in.get(r.ullCarried72);
}

void Put(ClProxyPayloadWriter& out, const _PrePipelineDedupe_Query& r) {
  out.putRaw(r.signature, sizeof(r.signature));
  out.putRaw(r.carried64, sizeof(r.carried64));
  out.put(r.uValue68);
  out.put(r.ullValue72);
  out.put(r.ullValue80);
  out.put(r.uUniqueId);
  out.putRaw(r.carried92, sizeof(r.carried92));
}

void Get(ClProxyPayloadReader& in, _PrePipelineDedupe_Query& r) {
  in.getRaw(r.signature, sizeof(r.signature));
  in.getRaw(r.carried64, sizeof(r.carried64));
  in.get(r.uValue68);
  in.get(r.ullValue72);
  in.get(r.ullValue80);
  in.get(r.uUniqueId);
  in.getRaw(r.carried92, sizeof(r.carried92));
}

void Put(ClProxyPayloadWriter& out, const _PrePipelineDedupe_Result_Resp& r) {
  out.put(r.uUniqueId);
  out.put(r.uIsNew);
  out.put(r.uUniqueId2);
  out.put(r.uZero12);
  out.put(r.ullZero16);
}

void Get(ClProxyPayloadReader& in, _PrePipelineDedupe_Result_Resp& r) {
  in.get(r.uUniqueId);
  in.get(r.uIsNew);
  in.get(r.uUniqueId2);
  in.get(r.uZero12);
  in.get(r.ullZero16);
}

void Put(ClProxyPayloadWriter& out, const _PrePipelineDedupe_Signature& r) {
  out.putRaw(r.carried0, sizeof(r.carried0));
  out.put(r.uUniqueId);
  out.putRaw(r.carried72, sizeof(r.carried72));
}

void Get(ClProxyPayloadReader& in, _PrePipelineDedupe_Signature& r) {
  in.getRaw(r.carried0, sizeof(r.carried0));
  in.get(r.uUniqueId);
  in.getRaw(r.carried72, sizeof(r.carried72));
}

void Put(ClProxyPayloadWriter& out, const _PipelineDataHdr& r) {
  for (uint32_t v : {r.uFlags, r.uDataSize, r.uSecondSize, r.uCompressionType,
                     r.uEncryptionType})
    out.put(v);
  out.putRaw(r.carried20, sizeof(r.carried20));
}

void Get(ClProxyPayloadReader& in, _PipelineDataHdr& r) {
  for (uint32_t* v : {&r.uFlags, &r.uDataSize, &r.uSecondSize, &r.uCompressionType,
                      &r.uEncryptionType})
    in.get(*v);
  in.getRaw(r.carried20, sizeof(r.carried20));
}

void Put(ClProxyPayloadWriter& out, const COBClientConfig& r) { out.put(r.uCapabilities); }

void Get(ClProxyPayloadReader& in, COBClientConfig& r) { in.get(r.uCapabilities); }

}  // namespace ClPrePipelineWire
