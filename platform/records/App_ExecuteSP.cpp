#include "App_ExecuteSP.h"

#include "RecordGetters.h"

int App_ExecuteSP::executeStoredProcedure(int tag, const std::string& request,
                                          std::string& reply, std::string* errorText) {
  int rc = RecordRegistry::Instance().StoredProcedure("App_ExecuteSP::executeStoredProcedure", tag,
                                                      request, &reply);
  return RecordGetters::Finish(rc, errorText);
}
