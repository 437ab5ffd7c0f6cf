// The scan exchange: the scan configuration sent to the scan program and the
// status it reports back.
//
// Payloads (docs/wire-format.md):
//   ClScanConfigMsg  five string lists (content, second, third, fourth, new
//                    content), uint32 pair count, each pair as two strings
//   ClScanResultMsg  uint32 status, int64 time, uint32 files failed to back
//                    up, uint32 collect count, string list failures
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <utility>

#include "ClProxyMsg.h"

typedef std::list<std::pair<std::string, std::string>> ClScanOptionList;

// The lists of a scan: the content paths, three further lists carried in
// the second to fourth place unchanged, the content new since the last
// backup, and (name, value) option pairs, each in the order given.
class ClScanConfigMsg : public ClProxyMsg {
 public:
  ClScanConfigMsg(const std::list<std::string>& content, const std::list<std::string>& second,
                  const std::list<std::string>& third, const std::list<std::string>& fourth,
                  const std::list<std::string>& newContent, const ClScanOptionList& options)
      : ClProxyMsg(SCAN_CONFIG_MSG),
        m_content(content),
        m_second(second),
        m_third(third),
        m_fourth(fourth),
        m_newContent(newContent),
        m_options(options) {}

  const std::list<std::string>& getContent() const { return m_content; }
  const std::list<std::string>& getSecondList() const { return m_second; }
  const std::list<std::string>& getThirdList() const { return m_third; }
  const std::list<std::string>& getFourthList() const { return m_fourth; }
  const std::list<std::string>& getNewContent() const { return m_newContent; }
  const ClScanOptionList& getOptions() const { return m_options; }

  static std::unique_ptr<ClScanConfigMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  std::list<std::string> m_content;
  std::list<std::string> m_second;
  std::list<std::string> m_third;
  std::list<std::string> m_fourth;
  std::list<std::string> m_newContent;
  ClScanOptionList m_options;
};

// SCAN_RESULT_MSG: the scan program's status (1 running, 2 failed, 3 done),
// its time value, its failure list and two counts.
class ClScanResultMsg : public ClProxyMsg {
 public:
  ClScanResultMsg(uint32_t status, int64_t time, const std::list<std::string>& failures,
                  uint32_t failedToBackup, uint32_t numCollect)
      : ClProxyMsg(SCAN_RESULT_MSG),
        m_uStatus(status),
        m_llTime(time),
        m_failures(failures),
        m_uFailedToBackup(failedToBackup),
        m_uNumCollect(numCollect) {}

  // Fills every out-value; `failures` is replaced by the message's list.
  void get(int64_t& time, std::list<std::string>& failures, uint32_t& failedToBackup,
           uint32_t& numCollect) const {
    time = m_llTime;
    failures = m_failures;
    failedToBackup = m_uFailedToBackup;
    numCollect = m_uNumCollect;
  }
  // 1, 2 or 3 as sent; any other status word counts as 2 (failed).
  int getPhaseStatus() const {
    return (m_uStatus >= 1 && m_uStatus <= 3) ? static_cast<int>(m_uStatus) : 2;
  }
  // The status word exactly as received.
  uint32_t getStatusWord() const { return m_uStatus; }

  static std::unique_ptr<ClScanResultMsg> decode(const uint8_t* payload, uint32_t length);

 protected:
  CWqError encode(std::vector<uint8_t>& out) const override;

 private:
  uint32_t m_uStatus;
  int64_t m_llTime;
  std::list<std::string> m_failures;
  uint32_t m_uFailedToBackup;
  uint32_t m_uNumCollect;
};
