#include "RestoreStatusList.h"

#include "ClProxySerializer.h"

bool RestoreStatus::DataNotNeeded() const {
  return origin == kDataNotNeeded || (origin == kItemStatus && itemStatus == kStatusDataNotNeeded);
}

bool RestoreStatus::IsVerdict() const { return origin != kItemStatus || itemStatus != kStatusRestored; }

void RestoreStatusList::Append(const RestoreStatus& status) {
  const uint64_t serial = m_uNextSerial++;
  const RestoreStatus& kept = m_records.emplace(serial, status).first->second;
  if (kept.IsVerdict()) {
    m_verdicts[kept.itemName].insert(serial);
    m_verdictCount.fetch_add(1, std::memory_order_release);
  }
  if (kept.IsAnswer()) {
    m_awaiting.erase(kept.itemName);
    if (m_bCurrentOpen && kept.itemName == m_currentName) m_bCurrentAnswered = true;
  }
}

const RestoreStatus* RestoreStatusList::Front(uint64_t& serial) const {
  if (m_records.empty()) return nullptr;
  serial = m_records.begin()->first;
  return &m_records.begin()->second;
}

const RestoreStatus* RestoreStatusList::FirstVerdictFor(const std::string& name, uint64_t fromSerial,
                                                        uint64_t& serial) const {
  auto named = m_verdicts.find(name);
  if (named == m_verdicts.end()) return nullptr;
  auto at = named->second.lower_bound(fromSerial);
  if (at == named->second.end()) return nullptr;
  serial = *at;
  return &m_records.at(serial);
}

void RestoreStatusList::Remove(uint64_t serial) {
  auto record = m_records.find(serial);
  if (record == m_records.end()) return;
  auto named = m_verdicts.find(record->second.itemName);
  if (named != m_verdicts.end() && named->second.erase(serial) != 0) {
    m_verdictCount.fetch_sub(1, std::memory_order_release);
    if (named->second.empty()) m_verdicts.erase(named);
  }
  m_records.erase(record);
}

uint64_t RestoreStatusList::StartFile(const std::string& name) {
  m_currentName = name;
  m_bCurrentOpen = true;
  m_bCurrentAnswered = false;
  return m_uNextSerial;
}

void RestoreStatusList::EndFile(bool answerExpected) {
  if (!m_bCurrentOpen) return;
  if (answerExpected && !m_bCurrentAnswered) m_awaiting.insert(m_currentName);
  m_bCurrentOpen = false;
}

bool ParseItemStatusPayload(const uint8_t* data, uint32_t size, std::vector<RestoreStatus>& out) {
  uint32_t offset = 0;
  while (offset < size) {
    RestoreStatus status;
    uint32_t at = offset;
    if (ClProxySerializer::deserialize(data, size, at, status.itemName) != ClProxySerializer::kSuccess ||
        ClProxySerializer::deserialize(data, size, at, status.itemMessage) != ClProxySerializer::kSuccess ||
        ClProxySerializer::deserialize(data, size, at, status.itemStatus) != ClProxySerializer::kSuccess ||
        ClProxySerializer::deserialize(data, size, at, status.itemValue) != ClProxySerializer::kSuccess)
      return false;
    out.push_back(status);
    offset = at;
  }
  return true;
}
