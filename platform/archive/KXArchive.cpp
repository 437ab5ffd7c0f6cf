#include "KXArchive.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

#include "ClProxyWire.h"

KXArchive::KXArchive(const std::string& path)
    : m_sPath(path), m_ullFileSize(0), m_bHaveParams(false), m_failures(), m_ullNextId(1), m_allocations(0) {
  if (!m_sPath.empty()) std::ofstream(m_sPath, std::ios::binary | std::ios::trunc);
}

KXArchive::~KXArchive() {}

void KXArchive::SetConfig(const _PrePipelineDedupe_Config& config) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_config = config;
}

void KXArchive::SetQueryParams(const st_SigQueryParams& params, const std::string& clientName) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_params = params;
  m_sClientName = clientName;
  m_params.pClientName = m_sClientName.c_str();
  m_bHaveParams = true;
}

void KXArchive::SetFailure(Call call, bool fail) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (call >= 0 && call < kCallCount) m_failures[call] = fail;
}

int KXArchive::Get_PrePipelineDedupe_Config(_PrePipelineDedupe_Config& config) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failures[kGetConfig]) return -1;
  config = m_config;
  return 0;
}

int KXArchive::Get_PrePipelineDedupeParams(st_SigQueryParams& params) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failures[kGetParams] || !m_bHaveParams) return -1;
  params = m_params;
  return 0;
}

char* KXArchive::allocateRawBuffer2(AllocateBufArgs_t* args, AllocateBufRet_t* ret) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failures[kAllocate] || !args || !ret) return nullptr;
  Buffer buffer;
  buffer.room = args->uDataSize;
  buffer.bytes.reset(new (std::nothrow) char[kHeaderArea + static_cast<size_t>(buffer.room)]());
  if (!buffer.bytes) return nullptr;
  char* raw = buffer.bytes.get();
  const uint64_t id = m_ullNextId++;
  m_buffers[id] = std::move(buffer);
  ++m_allocations;
  ret->uRoom = args->uDataSize;
  ret->freeArgs.ullBufferId = id;
  return raw;
}

int KXArchive::writeRawBuffer(char* rawBuffer, WriteBufArgs_t* args, WriteBufRet_t* ret) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failures[kWrite] || !rawBuffer || !args) return -1;
  auto found = m_buffers.begin();
  for (; found != m_buffers.end(); ++found)
    if (found->second.bytes.get() == rawBuffer) break;
  if (found == m_buffers.end() || args->uDataSize > found->second.room) return -1;
  Record record;
  record.header.assign(rawBuffer, rawBuffer + kHeaderArea);
  record.data.assign(rawBuffer + kHeaderArea, rawBuffer + kHeaderArea + args->uDataSize);
  if (!m_sPath.empty()) {
    std::ofstream file(m_sPath, std::ios::binary | std::ios::app);
    file.write(reinterpret_cast<const char*>(record.header.data()), kHeaderArea);
    file.write(reinterpret_cast<const char*>(record.data.data()), static_cast<std::streamsize>(record.data.size()));
    if (!file) return -1;
  }
  if (ret) ret->ullArchiveOffset = m_ullFileSize;
  m_ullFileSize += kHeaderArea + args->uDataSize;
  m_records.push_back(std::move(record));
  m_buffers.erase(found);
  return 0;
}

int KXArchive::freeBuffer(FreeBufArgs_t* args, void* ret) {
  (void)ret;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_failures[kFree] || !args) return -1;
  return m_buffers.erase(args->ullBufferId) ? 0 : -1;
}

size_t KXArchive::OutstandingBuffers() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_buffers.size();
}

size_t KXArchive::Allocations() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_allocations;
}

std::vector<KXArchive::Record> KXArchive::Records() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_records;
}

bool KXArchive::ReadArchiveFile(const std::string& path, std::vector<Record>& records, std::string& error) {
  records.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < kHeaderArea) {
      error = "the file ends inside a record header at byte " + std::to_string(at);
      return false;
    }
    const uint32_t size = ClProxyWire::GetU32(bytes.data() + at + 36);
    if (bytes.size() - at - kHeaderArea < size) {
      error = "the file ends inside the data of the record at byte " + std::to_string(at);
      return false;
    }
    Record record;
    record.header.assign(bytes.begin() + at, bytes.begin() + at + kHeaderArea);
    record.data.assign(bytes.begin() + at + kHeaderArea, bytes.begin() + at + kHeaderArea + size);
    records.push_back(std::move(record));
    at += kHeaderArea + size;
  }
  return true;
}
