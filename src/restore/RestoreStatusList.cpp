#include "RestoreStatusList.h"

#include "ClProxySerializer.h"

void RestoreStatusList::Append(const RestoreStatus& status) {
  const uint64_t serial = m_uNextSerial++;
  m_records.emplace(serial, status);
  m_byName[status.itemName].insert(serial);
}

bool RestoreStatusList::Front(uint64_t& serial, RestoreStatus& status) const {
  if (m_records.empty()) return false;
  serial = m_records.begin()->first;
  status = m_records.begin()->second;
  return true;
}

bool RestoreStatusList::FirstFor(const std::string& name, uint64_t fromSerial, uint64_t& serial,
                                 RestoreStatus& status) const {
  auto named = m_byName.find(name);
  if (named == m_byName.end()) return false;
  auto at = named->second.lower_bound(fromSerial);
  if (at == named->second.end()) return false;
  serial = *at;
  status = m_records.at(serial);
  return true;
}

void RestoreStatusList::Remove(uint64_t serial) {
  auto record = m_records.find(serial);
  if (record == m_records.end()) return;
  auto named = m_byName.find(record->second.itemName);
  if (named != m_byName.end()) {
    named->second.erase(serial);
    if (named->second.empty()) m_byName.erase(named);
  }
  m_records.erase(record);
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
