// EvTask: the options of a job's task, as the job manager keeps them. The
// options are read by 32-bit option id; RecordRegistry holds them per job
// id (SetTaskOption, SetTaskXMLOptions). Getters return 0 when they read the
// option and leave the out-value untouched otherwise; the optional last
// argument receives the failure's text. A test makes a getter fail with
// RecordRegistry::FailGetter("EvTask::getOptionInt", code).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KXJobTypes.h"

// One filter path of a task.
class TaskFile {
 public:
  explicit TaskFile(const std::string& value) : m_value(value) {}
  // The path, NUL-terminated.
  const char* getValue() const { return m_value.c_str(); }

 private:
  std::string m_value;
};

// A task's filter paths in the task's order.
class TaskFileList {
 public:
  using const_iterator = std::vector<const TaskFile*>::const_iterator;
  explicit TaskFileList(const std::vector<std::string>& paths);
  const_iterator begin() const { return m_view.begin(); }
  const_iterator end() const { return m_view.end(); }

 private:
  std::vector<std::unique_ptr<TaskFile>> m_files;
  std::vector<const TaskFile*> m_view;
};

class EvTask {
 public:
  // Only the job id chooses the task; the other arguments are accepted for
  // the callers' sake (they pass 0, NULL, false).
  explicit EvTask(KXJobID jobId, int flags = 0, void* context = nullptr, bool refresh = false);
  virtual ~EvTask();

  int getOptionInt(uint32_t optionId, int& value, std::string* errorText = nullptr);
  int getOptionBool(uint32_t optionId, bool& value, std::string* errorText = nullptr);
  int getOptionString(uint32_t optionId, std::string& value, std::string* errorText = nullptr);
  // The task's options as one XML text.
  int getXMLOptions(std::string& xml, std::string* errorText = nullptr);

  // The task's filter paths (RecordRegistry::SetTaskFilterPaths, read when
  // the task is made); null when the task has none.
  const TaskFileList* getFilterPaths() const { return m_pFilterPaths.get(); }

 protected:
  KXJobID m_jobId;

 private:
  std::unique_ptr<TaskFileList> m_pFilterPaths;
};

// The task of a restore job.
class EvRstTask : public EvTask {
 public:
  explicit EvRstTask(KXJobID jobId, int flags = 0, void* context = nullptr, bool refresh = false)
      : EvTask(jobId, flags, context, refresh) {}
  // Reads the task's state; 0 once it is known. The stand-in always knows it.
  virtual int lookup(int flags);
};
