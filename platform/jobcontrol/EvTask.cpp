#include "EvTask.h"

#include "RecordGetters.h"

TaskFileList::TaskFileList(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    m_files.emplace_back(new TaskFile(path));
    m_view.push_back(m_files.back().get());
  }
}

EvTask::EvTask(KXJobID jobId, int, void*, bool) : m_jobId(jobId) {
  std::vector<std::string> paths;
  if (RecordRegistry::Instance().TaskFilterPaths(static_cast<int64_t>(jobId), &paths) == KXR_SUCCESS)
    m_pFilterPaths.reset(new TaskFileList(paths));
}
EvTask::~EvTask() {}

int EvTask::getOptionInt(uint32_t optionId, int& value, std::string* errorText) {
  RecordValue option;
  int rc = RecordRegistry::Instance().TaskOption("EvTask::getOptionInt", m_jobId, optionId,
                                                 &option);
  return RecordGetters::Integer(rc, option, value, errorText);
}

int EvTask::getOptionBool(uint32_t optionId, bool& value, std::string* errorText) {
  RecordValue option;
  int rc = RecordRegistry::Instance().TaskOption("EvTask::getOptionBool", m_jobId, optionId, &option);
  return RecordGetters::Boolean(rc, option, value, errorText);
}

int EvTask::getOptionString(uint32_t optionId, std::string& value, std::string* errorText) {
  RecordValue option;
  int rc = RecordRegistry::Instance().TaskOption("EvTask::getOptionString", m_jobId, optionId,
                                                 &option);
  return RecordGetters::String(rc, option, value, errorText);
}

int EvTask::getXMLOptions(std::string& xml, std::string* errorText) {
  int rc = RecordRegistry::Instance().TaskXMLOptions("EvTask::getXMLOptions", m_jobId, &xml);
  return RecordGetters::Finish(rc, errorText);
}

int EvRstTask::lookup(int) { return 0; }
