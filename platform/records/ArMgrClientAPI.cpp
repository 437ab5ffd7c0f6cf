#include "ArMgrClientAPI.h"

#include <cerrno>
#include <cstdlib>

#include "RecordRegistry.h"

namespace {

bool ParseDecimal(const std::string& text, int* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() || v < INT32_MIN || v > INT32_MAX)
    return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int ArMgrClientAPI::getMangledDIPList(const GetMangledDIPListArgs_t* args,
                                      GetMangledDIPListRet_t* ret) {
  if (!args || !ret) return ARMGR_INVALID_ARGUMENT;
  return RecordRegistry::Instance().DIPList("ArMgrClientAPI::getMangledDIPList", args->clientName,
                                            &ret->dipList);
}

int DemangleHostName(const std::string& mangled, std::string& host, std::string& clientName,
                     int& number1, int& number2) {
  number1 = 0;
  number2 = 0;
  size_t star = mangled.find('*');
  if (star == std::string::npos) {
    host = mangled;
    clientName.clear();
    return 1;
  }
  host = mangled.substr(0, star);
  std::string rest = mangled.substr(star + 1);
  size_t star2 = rest.find('*');
  clientName = rest.substr(0, star2);
  if (star2 == std::string::npos) return 0;
  std::string numbers = rest.substr(star2 + 1);
  size_t star3 = numbers.find('*');
  if (star3 == std::string::npos || !ParseDecimal(numbers.substr(0, star3), &number1) ||
      !ParseDecimal(numbers.substr(star3 + 1), &number2)) {
    number1 = 0;
    number2 = 0;
    return 1;
  }
  return 0;
}

std::string MangleHostName(const std::string& host, const std::string& clientName) {
  return host + "*" + clientName;
}
