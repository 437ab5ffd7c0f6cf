#include "ClJobStartMsg.h"

#include "ClProxyPayload.h"

bool ClJobStartMsg::Entry::operator==(const Entry& o) const {
  return kind == o.kind && name == o.name && bValue == o.bValue && iValue == o.iValue &&
         uValue == o.uValue && ullValue == o.ullValue && text == o.text;
}

ClJobStartMsg::Entry& ClJobStartMsg::optionSlot(const std::string& name, EntryKind kind) {
  Entry fresh;
  fresh.kind = kind;
  fresh.name = name;
  for (Entry& entry : m_entries) {
    if (entry.kind != kPath && entry.name == name) {
      entry = fresh;
      return entry;
    }
  }
  m_entries.push_back(fresh);
  return m_entries.back();
}

void ClJobStartMsg::setOptionValue(const std::string& name, bool value) {
  Entry& entry = optionSlot(name, kBool);
  entry.bValue = value;
  m_setCalls.push_back(entry);
}

void ClJobStartMsg::setOptionValue(const std::string& name, int32_t value) {
  Entry& entry = optionSlot(name, kInt32);
  entry.iValue = value;
  m_setCalls.push_back(entry);
}

void ClJobStartMsg::setOptionValue(const std::string& name, uint32_t value) {
  Entry& entry = optionSlot(name, kUInt32);
  entry.uValue = value;
  m_setCalls.push_back(entry);
}

void ClJobStartMsg::setOptionValue(const std::string& name, uint64_t value) {
  Entry& entry = optionSlot(name, kUInt64);
  entry.ullValue = value;
  m_setCalls.push_back(entry);
}

void ClJobStartMsg::setOptionValue(const std::string& name, const std::string& value) {
  Entry& entry = optionSlot(name, kString);
  entry.text = value;
  m_setCalls.push_back(entry);
}

void ClJobStartMsg::addPath(const std::string& source, const std::string& destination) {
  Entry entry;
  entry.kind = kPath;
  entry.name = source;
  entry.text = destination;
  m_entries.push_back(entry);
}

const ClJobStartMsg::Entry* ClJobStartMsg::findOption(const std::string& name) const {
  for (const Entry& entry : m_entries)
    if (entry.kind != kPath && entry.name == name) return &entry;
  return nullptr;
}

std::vector<std::pair<std::string, std::string>> ClJobStartMsg::getPaths() const {
  std::vector<std::pair<std::string, std::string>> paths;
  for (const Entry& entry : m_entries)
    if (entry.kind == kPath) paths.emplace_back(entry.name, entry.text);
  return paths;
}

CWqError ClJobStartMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_iVelliconId);
  w.put(m_iAppId);
  w.put(m_iBackupLevel);
  w.put(m_llJobStartValue);
  w.put(m_ullJobId);
  w.put(static_cast<uint32_t>(m_entries.size()));
  for (const Entry& entry : m_entries) {
    w.put(static_cast<uint16_t>(entry.kind));
    w.put(entry.name);
    switch (entry.kind) {
      case kBool: w.putBool(entry.bValue); break;
      case kInt32: w.put(entry.iValue); break;
      case kUInt32: w.put(entry.uValue); break;
      case kUInt64: w.put(entry.ullValue); break;
      case kString:
      case kPath: w.put(entry.text); break;
    }
  }
  return w.result(getMsgType());
}

std::unique_ptr<ClJobStartMsg> ClJobStartMsg::decode(const uint8_t* payload, uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  int32_t velliconId = 0, appId = 0, level = 0;
  int64_t startValue = 0;
  uint64_t jobId = 0;
  uint32_t count = 0;
  in.get(velliconId);
  in.get(appId);
  in.get(level);
  in.get(startValue);
  in.get(jobId);
  in.get(count);
  // Smallest entry: kind, empty name, a bool.
  if (!in.checkCount(count, 2 + 4 + 2)) return nullptr;
  std::unique_ptr<ClJobStartMsg> msg(new ClJobStartMsg(velliconId, appId, level, startValue, jobId));
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    uint16_t kind = 0;
    std::string name;
    in.get(kind);
    in.get(name);
    switch (kind) {
      case kBool: { bool v = false; in.getBool(v); msg->setOptionValue(name, v); break; }
      case kInt32: { int32_t v = 0; in.get(v); msg->setOptionValue(name, v); break; }
      case kUInt32: { uint32_t v = 0; in.get(v); msg->setOptionValue(name, v); break; }
      case kUInt64: { uint64_t v = 0; in.get(v); msg->setOptionValue(name, v); break; }
      case kString: { std::string v; in.get(v); msg->setOptionValue(name, v); break; }
      case kPath: { std::string v; in.get(v); msg->addPath(name, v); break; }
      default: in.fail(); break;
    }
  }
  if (!in.done()) return nullptr;
  return msg;
}
