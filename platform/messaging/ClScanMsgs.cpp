#include "ClScanMsgs.h"

#include "ClProxyPayload.h"

CWqError ClScanConfigMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  for (const std::list<std::string>* list :
       {&m_content, &m_second, &m_third, &m_fourth, &m_newContent})
    w.put(*list);
  w.put(static_cast<uint32_t>(m_options.size()));
  for (const auto& option : m_options) {
    w.put(option.first);
    w.put(option.second);
  }
  return w.result(getMsgType());
}

std::unique_ptr<ClScanConfigMsg> ClScanConfigMsg::decode(const uint8_t* payload,
                                                         uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  std::list<std::string> lists[5];
  for (std::list<std::string>& list : lists) in.get(list);
  uint32_t count = 0;
  in.get(count);
  if (!in.checkCount(count, 8)) return nullptr;
  ClScanOptionList options;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    std::pair<std::string, std::string> option;
    in.get(option.first);
    in.get(option.second);
    options.push_back(std::move(option));
  }
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClScanConfigMsg>(
      new ClScanConfigMsg(lists[0], lists[1], lists[2], lists[3], lists[4], options));
}

CWqError ClScanResultMsg::encode(std::vector<uint8_t>& out) const {
  ClProxyPayloadWriter w(out);
  w.put(m_uStatus);
  w.put(m_llTime);
  w.put(m_uFailedToBackup);
  w.put(m_uNumCollect);
  w.put(m_failures);
  return w.result(getMsgType());
}

std::unique_ptr<ClScanResultMsg> ClScanResultMsg::decode(const uint8_t* payload,
                                                         uint32_t length) {
  ClProxyPayloadReader in(payload, length);
  uint32_t status = 0, failedToBackup = 0, numCollect = 0;
  int64_t time = 0;
  std::list<std::string> failures;
  in.get(status);
  in.get(time);
  in.get(failedToBackup);
  in.get(numCollect);
  in.get(failures);
  if (!in.done()) return nullptr;
  return std::unique_ptr<ClScanResultMsg>(
      new ClScanResultMsg(status, time, failures, failedToBackup, numCollect));
}
