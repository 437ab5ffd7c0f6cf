// EvTask: the options of a job's task, as the job manager keeps them. The
// options are read by 32-bit option id; RecordRegistry holds them per job
// id (SetTaskOption, SetTaskXMLOptions). Getters return 0 when they read the
// option and leave the out-value untouched otherwise; the optional last
// argument receives the failure's text. A test makes a getter fail with
// RecordRegistry::FailGetter("EvTask::getOptionInt", code).
#pragma once

#include <cstdint>
#include <string>

#include "KXJobTypes.h"

class EvTask {
 public:
  // Only the job id chooses the task; the other arguments are accepted for
  // the callers' sake (they pass 0, NULL, false).
  explicit EvTask(KXJobID jobId, int flags = 0, void* context = nullptr, bool refresh = false);
  ~EvTask();

  int getOptionInt(uint32_t optionId, int& value, std::string* errorText = nullptr);
  int getOptionBool(uint32_t optionId, bool& value, std::string* errorText = nullptr);
  int getOptionString(uint32_t optionId, std::string& value, std::string* errorText = nullptr);
  // The task's options as one XML text.
  int getXMLOptions(std::string& xml, std::string* errorText = nullptr);

 private:
  KXJobID m_jobId;
};
