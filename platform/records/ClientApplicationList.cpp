#include "ClientApplicationList.h"

#include "RecordGetters.h"

int ClientApplicationList::getModifiedFileList(const std::string& request, std::string& response,
                                               std::string* errorText) {
  int rc = RecordRegistry::Instance().ModifiedFileList("ClientApplicationList::getModifiedFileList",
                                                       request, &response);
  return RecordGetters::Finish(rc, errorText);
}
