// ArMgrClientAPI: the archive manager's list of data interface pairs (DIPs),
// the network routes a client is to use towards another machine, and the
// host-name form in which the pairs are given.
//
// A mangled host name joins a host name and the name of the client record
// that owns it, optionally followed by two numbers:
//
//   <host>*<client name>            or   <host>*<client name>*<n1>*<n2>
//
// "*" cannot appear in a host name; a client name used here must not hold
// one either. The numbers are decimal (0 when not given).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One data interface pair: the first and the second end, each a mangled host
// name.
struct DIP_t {
  std::string first;
  std::string second;
};

struct GetMangledDIPListArgs_t {
  int64_t selector = 0;
  std::string clientName;
};

struct GetMangledDIPListRet_t {
  std::vector<DIP_t> dipList;
};

// Results of getMangledDIPList.
enum ArMgrResult {
  ARMGR_SUCCESS = 0,
  ARMGR_NO_DIPS = 3,          // the client has no pairs
  ARMGR_INVALID_ARGUMENT = 22,
};

class ArMgrClientAPI {
 public:
  // Fills `ret` with the pairs configured for args->clientName. 0 = list
  // filled, 3 = the client has none (also for a client nobody configured),
  // any other value = failure (`ret` untouched).
  static int getMangledDIPList(const GetMangledDIPListArgs_t* args, GetMangledDIPListRet_t* ret);
};

// Splits a mangled host name. 0 on success; 1 when the text holds no "*"
// (then `host` is the whole text, `clientName` empty and both numbers 0) or
// when the numbers are not decimal (they are then 0).
int DemangleHostName(const std::string& mangled, std::string& host, std::string& clientName,
                     int& number1, int& number2);

// The inverse, for the records file, tests and the simulated side.
std::string MangleHostName(const std::string& host, const std::string& clientName);
