#include "ClPrePipelineRecords.h"

#include <cstring>

#include "ClProxyPayload.h"
#include "ClProxyWire.h"

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

void Write(uint8_t* at, const _PrePipelineDedupe_Query& r) {
  std::memcpy(at, r.signature, 64);
  std::memcpy(at + 64, r.carried64, 4);
  ClProxyWire::PutU32(at + 68, r.uValue68);
  ClProxyWire::PutU64(at + 72, r.ullValue72);
  ClProxyWire::PutU64(at + 80, r.ullValue80);
  ClProxyWire::PutU32(at + 88, r.uUniqueId);
  std::memcpy(at + 92, r.carried92, 12);
}

void Read(const uint8_t* at, _PrePipelineDedupe_Query& r) {
  std::memcpy(r.signature, at, 64);
  std::memcpy(r.carried64, at + 64, 4);
  r.uValue68 = ClProxyWire::GetU32(at + 68);
  r.ullValue72 = ClProxyWire::GetU64(at + 72);
  r.ullValue80 = ClProxyWire::GetU64(at + 80);
  r.uUniqueId = ClProxyWire::GetU32(at + 88);
  std::memcpy(r.carried92, at + 92, 12);
}

void Write(uint8_t* at, const _PrePipelineDedupe_Result_Resp& r) {
  ClProxyWire::PutU32(at, r.uUniqueId);
  ClProxyWire::PutU32(at + 4, r.uIsNew);
  ClProxyWire::PutU32(at + 8, r.uUniqueId2);
  ClProxyWire::PutU32(at + 12, r.uZero12);
  ClProxyWire::PutU64(at + 16, r.ullZero16);
}

void Read(const uint8_t* at, _PrePipelineDedupe_Result_Resp& r) {
  r.uUniqueId = ClProxyWire::GetU32(at);
  r.uIsNew = ClProxyWire::GetU32(at + 4);
  r.uUniqueId2 = ClProxyWire::GetU32(at + 8);
  r.uZero12 = ClProxyWire::GetU32(at + 12);
  r.ullZero16 = ClProxyWire::GetU64(at + 16);
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
