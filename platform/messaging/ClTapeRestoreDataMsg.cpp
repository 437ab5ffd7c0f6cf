#include "ClTapeRestoreDataMsg.h"

#include <atomic>

#include "ClProxyPayload.h"
#include "FXErrorUtil.h"

namespace {

const uint32_t kErrorBufferOverflow = 111;

std::atomic<uint32_t> g_capacity{ClTapeRestoreDataMsg::kDefaultCapacity};

uint64_t NamesSize(const std::vector<std::string>& names) {
  uint64_t size = 0;
  for (const std::string& name : names) size += 4 + name.size();
  return size;
}

void PutNames(ClProxyPayloadWriter& out, const std::vector<std::string>& names) {
  out.put(static_cast<uint32_t>(names.size()));
  for (const std::string& name : names) out.put(name);
}

bool GetNames(ClProxyPayloadReader& in, std::vector<std::string>& names) {
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, 4)) return false;
  names.reserve(count);
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    std::string name;
    in.get(name);
    names.push_back(name);
  }
  return in.ok();
}

}  // namespace

void ClTapeRestoreDataMsg::SetCapacity(uint32_t bytes) { g_capacity = bytes ? bytes : kDefaultCapacity; }

uint32_t ClTapeRestoreDataMsg::GetCapacity() { return g_capacity; }

CWqError ClTapeRestoreDataMsg::add(const std::vector<std::string>& names1, const std::vector<std::string>& names2,
                                   const std::vector<long>& offsets, unsigned long value, const std::string& text,
                                   const std::string& items) {
  const uint64_t itemSize = 4 + 8ull * offsets.size() + 8 + 4 + text.size() + 4 + items.size();
  const uint64_t grown = m_uEncodedSize + NamesSize(names1) + NamesSize(names2) + itemSize;
  if (grown > GetCapacity())
    return FXErrorUtil::ErrorWin32(FX_HERE, kErrorBufferOverflow,
                                   "No room for a tape-restore item of %llu bytes (%llu of %u used)",
                                   static_cast<unsigned long long>(itemSize),
                                   static_cast<unsigned long long>(m_uEncodedSize), GetCapacity());
  m_names1.insert(m_names1.end(), names1.begin(), names1.end());
  m_names2.insert(m_names2.end(), names2.begin(), names2.end());
  TapeRestoreData item;
  item.offsets.assign(offsets.begin(), offsets.end());
  item.value = value;
  item.text = text;
  item.items = items;
  m_items.push_back(item);
  m_uEncodedSize = grown;
  return CWqError::Success();
}

void ClTapeRestoreDataMsg::clear() {
  m_names1.clear();
  m_names2.clear();
  m_items.clear();
  m_uEncodedSize = kFixedSize;
}

CWqError ClTapeRestoreDataMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(static_cast<uint32_t>(m_eCommandType));
  PutNames(w, m_names1);
  PutNames(w, m_names2);
  w.put(static_cast<uint32_t>(m_items.size()));
  for (const TapeRestoreData& item : m_items) {
    w.put(static_cast<uint32_t>(item.offsets.size()));
    for (int64_t offset : item.offsets) w.put(offset);
    w.put(item.value);
    w.put(item.text);
    w.put(item.items);
  }
  return w.result(getMsgType());
}

std::unique_ptr<ClTapeRestoreDataMsg> ClTapeRestoreDataMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t commandType = 0;
  in.get(commandType);
  std::unique_ptr<ClTapeRestoreDataMsg> msg(new ClTapeRestoreDataMsg(static_cast<IBMiSAVCommandType>(commandType)));
  if (!GetNames(in, msg->m_names1) || !GetNames(in, msg->m_names2)) return nullptr;
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, 24)) return nullptr;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    TapeRestoreData item;
    uint32_t offsets = 0;
    in.get(offsets);
    if (!in.checkCount(offsets, 8)) return nullptr;
    item.offsets.resize(offsets);
    for (uint32_t k = 0; k < offsets; ++k) in.get(item.offsets[k]);
    in.get(item.value);
    in.get(item.text);
    in.get(item.items);
    msg->m_items.push_back(item);
  }
  if (!in.done()) return nullptr;
  msg->m_uEncodedSize = length;
  return msg;
}
