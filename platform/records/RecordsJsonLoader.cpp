#include "RecordsJsonLoader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "App_ExecuteSP.h"
#include "FXErrorUtil.h"

namespace {

using nlohmann::json;

// The first fault found while reading the file: where, and what.
struct Fault {
  std::string where;
  std::string what;
  bool Set(const std::string& w, const std::string& message) {
    where = w;
    what = message;
    return false;
  }
};

bool CheckKeys(const json& object, const std::string& where,
               const std::set<std::string>& allowed, Fault* fault) {
  if (!object.is_object()) return fault->Set(where, "expected an object");
  for (auto it = object.begin(); it != object.end(); ++it)
    if (!allowed.count(it.key())) return fault->Set(where, "unknown key \"" + it.key() + "\"");
  return true;
}

bool ReadInteger(const json& object, const std::string& key, const std::string& where,
                 bool required, int64_t* out, Fault* fault) {
  auto it = object.find(key);
  if (it == object.end()) return required ? fault->Set(where + "." + key, "missing") : true;
  if (it->is_number_unsigned()) {
    *out = static_cast<int64_t>(it->get<uint64_t>());
  } else if (it->is_number_integer()) {
    *out = it->get<int64_t>();
  } else {
    return fault->Set(where + "." + key, "expected an integer");
  }
  return true;
}

bool ReadInt32(const json& object, const std::string& key, const std::string& where,
               bool required, int32_t* out, Fault* fault) {
  int64_t value = *out;
  if (!ReadInteger(object, key, where, required, &value, fault)) return false;
  if (value < INT32_MIN || value > INT32_MAX)
    return fault->Set(where + "." + key, "out of the 32-bit range");
  *out = static_cast<int32_t>(value);
  return true;
}

bool ReadString(const json& object, const std::string& key, const std::string& where,
                bool required, std::string* out, Fault* fault) {
  auto it = object.find(key);
  if (it == object.end()) return required ? fault->Set(where + "." + key, "missing") : true;
  if (!it->is_string()) return fault->Set(where + "." + key, "expected a string");
  *out = it->get<std::string>();
  return true;
}

bool ToRecordValue(const json& value, const std::string& where, RecordValue* out, Fault* fault) {
  if (value.is_boolean()) {
    *out = RecordValue(value.get<bool>());
  } else if (value.is_number_unsigned()) {
    *out = RecordValue(value.get<uint64_t>());
  } else if (value.is_number_integer()) {
    *out = RecordValue(value.get<int64_t>());
  } else if (value.is_string()) {
    *out = RecordValue(value.get<std::string>());
  } else {
    return fault->Set(where, "expected a boolean, an integer or a string");
  }
  return true;
}

// Calls `set(name, value)` for each member of the optional object `key`.
template <class Setter>
bool ReadValues(const json& object, const std::string& key, const std::string& where,
                Fault* fault, Setter set) {
  auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_object()) return fault->Set(where + "." + key, "expected an object");
  for (auto value = it->begin(); value != it->end(); ++value) {
    RecordValue v;
    if (!ToRecordValue(value.value(), where + "." + key + "." + value.key(), &v, fault))
      return false;
    set(value.key(), v);
  }
  return true;
}

// Iterates the optional array `key` of the top object.
template <class Reader>
bool ReadArray(const json& top, const std::string& key, Fault* fault, Reader read) {
  auto it = top.find(key);
  if (it == top.end()) return true;
  if (!it->is_array()) return fault->Set(key, "expected an array");
  for (size_t i = 0; i < it->size(); ++i)
    if (!read((*it)[i], key + "[" + std::to_string(i) + "]")) return false;
  return true;
}

bool ReadClient(const json& c, const std::string& where, RecordRegistry& r, Fault* fault) {
  if (!CheckKeys(c, where, {"clientId", "name", "osId", "values", "properties", "hasProperties"},
                 fault))
    return false;
  int32_t id = 0, osId = 0;
  std::string name;
  if (!ReadInt32(c, "clientId", where, true, &id, fault) ||
      !ReadString(c, "name", where, true, &name, fault) ||
      !ReadInt32(c, "osId", where, true, &osId, fault))
    return false;
  r.AddClient(id, name, osId);
  auto has = c.find("hasProperties");
  if (has != c.end()) {
    if (!has->is_boolean()) return fault->Set(where + ".hasProperties", "expected a boolean");
    r.SetClientHasProperties(id, has->get<bool>());
  }
  auto setValue = [&](const std::string& n, const RecordValue& v) { r.SetClientValue(id, n, v); };
  auto setProperty = [&](const std::string& n, const RecordValue& v) {
    r.SetClientProperty(id, n, v);
  };
  return ReadValues(c, "values", where, fault, setValue) &&
         ReadValues(c, "properties", where, fault, setProperty);
}

bool ReadSubclient(const json& s, const std::string& where, RecordRegistry& r, Fault* fault) {
  if (!CheckKeys(s, where, {"velliconId", "appId", "clientId", "values"}, fault)) return false;
  int32_t vellicon = 2, app = 0, client = 0;
  if (!ReadInt32(s, "velliconId", where, false, &vellicon, fault) ||
      !ReadInt32(s, "appId", where, true, &app, fault) ||
      !ReadInt32(s, "clientId", where, true, &client, fault))
    return false;
  r.AddSubclient(vellicon, app, client);
  return ReadValues(s, "values", where, fault, [&](const std::string& n, const RecordValue& v) {
    r.SetSubclientValue(vellicon, app, n, v);
  });
}

bool ReadDIPs(const json& d, const std::string& where, RecordRegistry& r, Fault* fault) {
  if (!CheckKeys(d, where, {"clientName", "result", "pairs"}, fault)) return false;
  std::string name;
  int32_t result = ARMGR_SUCCESS;
  if (!ReadString(d, "clientName", where, true, &name, fault) ||
      !ReadInt32(d, "result", where, false, &result, fault))
    return false;
  if (result != ARMGR_SUCCESS) {
    if (d.count("pairs")) return fault->Set(where + ".pairs", "not allowed with a non-zero result");
    r.SetDIPResult(name, result);
    return true;
  }
  std::vector<DIP_t> pairs;
  auto list = d.find("pairs");
  if (list == d.end()) return fault->Set(where + ".pairs", "missing");
  if (!list->is_array()) return fault->Set(where + ".pairs", "expected an array");
  for (size_t i = 0; i < list->size(); ++i) {
    std::string at = where + ".pairs[" + std::to_string(i) + "]";
    DIP_t dip;
    if (!CheckKeys((*list)[i], at, {"first", "second"}, fault) ||
        !ReadString((*list)[i], "first", at, true, &dip.first, fault) ||
        !ReadString((*list)[i], "second", at, true, &dip.second, fault))
      return false;
    pairs.push_back(dip);
  }
  r.SetDIPList(name, pairs);
  return true;
}

int TagFromName(const std::string& name) {
  if (name == "Tag_GetLibInfoForSubClientReq") return Tag_GetLibInfoForSubClientReq;
  return -1;
}

bool ReadStoredProcedure(const json& p, const std::string& where, RecordRegistry& r,
                         Fault* fault) {
  if (!CheckKeys(p, where, {"tag", "result", "reply"}, fault)) return false;
  int32_t tag = -1, result = 0;
  auto t = p.find("tag");
  if (t == p.end()) return fault->Set(where + ".tag", "missing");
  if (t->is_string()) {
    tag = TagFromName(t->get<std::string>());
    if (tag < 0)
      return fault->Set(where + ".tag",
                        "unknown stored procedure \"" + t->get<std::string>() + "\"");
  } else if (!ReadInt32(p, "tag", where, true, &tag, fault)) {
    return false;
  }
  std::string reply;
  if (!ReadInt32(p, "result", where, false, &result, fault) ||
      !ReadString(p, "reply", where, false, &reply, fault))
    return false;
  r.SetStoredProcedureReply(tag, result, reply);
  return true;
}

bool ReadTask(const json& t, const std::string& where, RecordRegistry& r, Fault* fault) {
  if (!CheckKeys(t, where, {"jobId", "options", "xmlOptions", "filterPaths"}, fault)) return false;
  int64_t jobId = 0;
  if (!ReadInteger(t, "jobId", where, true, &jobId, fault)) return false;
  auto options = t.find("options");
  if (options != t.end()) {
    if (!options->is_object()) return fault->Set(where + ".options", "expected an object");
    for (auto o = options->begin(); o != options->end(); ++o) {
      std::string at = where + ".options." + o.key();
      errno = 0;
      char* end = nullptr;
      unsigned long long id = std::strtoull(o.key().c_str(), &end, 0);
      if (o.key().empty() || *end != '\0' || errno != 0 || id > UINT32_MAX)
        return fault->Set(at, "option id must be a 32-bit number (\"0x1722ca9a\" or decimal)");
      RecordValue v;
      if (!ToRecordValue(o.value(), at, &v, fault)) return false;
      r.SetTaskOption(jobId, static_cast<uint32_t>(id), v);
    }
  }
  std::string xml;
  if (t.count("xmlOptions")) {
    if (!ReadString(t, "xmlOptions", where, true, &xml, fault)) return false;
    r.SetTaskXMLOptions(jobId, xml);
  }
  auto filters = t.find("filterPaths");
  if (filters != t.end()) {
    if (!filters->is_array()) return fault->Set(where + ".filterPaths", "expected an array");
    std::vector<std::string> paths;
    for (size_t i = 0; i < filters->size(); ++i) {
      const json& path = (*filters)[i];
      // Handed out as NUL-terminated strings: a NUL inside would cut one.
      if (!path.is_string() || path.get<std::string>().find('\0') != std::string::npos)
        return fault->Set(where + ".filterPaths[" + std::to_string(i) + "]", "expected a string without NUL");
      paths.push_back(path.get<std::string>());
    }
    r.SetTaskFilterPaths(jobId, paths);
  }
  return true;
}

bool ReadTop(const json& top, RecordRegistry& r, Fault* fault) {
  if (!CheckKeys(top, "(top)",
                 {"clients", "subclients", "dataInterfacePairs", "storedProcedures",
                  "modifiedFileList", "tasks", "getterFailures"},
                 fault))
    return false;
  auto bind = [&](bool (*reader)(const json&, const std::string&, RecordRegistry&, Fault*)) {
    return [&r, fault, reader](const json& item, const std::string& where) {
      return reader(item, where, r, fault);
    };
  };
  if (!ReadArray(top, "clients", fault, bind(ReadClient)) ||
      !ReadArray(top, "subclients", fault, bind(ReadSubclient)) ||
      !ReadArray(top, "dataInterfacePairs", fault, bind(ReadDIPs)) ||
      !ReadArray(top, "storedProcedures", fault, bind(ReadStoredProcedure)) ||
      !ReadArray(top, "tasks", fault, bind(ReadTask)))
    return false;
  auto list = top.find("modifiedFileList");
  if (list != top.end()) {
    int32_t result = 0;
    std::string response;
    if (!CheckKeys(*list, "modifiedFileList", {"result", "response"}, fault) ||
        !ReadInt32(*list, "result", "modifiedFileList", false, &result, fault) ||
        !ReadString(*list, "response", "modifiedFileList", false, &response, fault))
      return false;
    r.SetModifiedFileListReply(result, response);
  }
  auto failures = top.find("getterFailures");
  if (failures != top.end()) {
    if (!failures->is_object()) return fault->Set("getterFailures", "expected an object");
    for (auto f = failures->begin(); f != failures->end(); ++f) {
      int32_t code = 0;
      if (!ReadInt32(*failures, f.key(), "getterFailures", true, &code, fault)) return false;
      if (code == 0) return fault->Set("getterFailures." + f.key(), "a failure must not be 0");
      r.FailGetter(f.key(), code);
    }
  }
  return true;
}

}  // namespace

CWqError RecordsJsonLoader::LoadFile(const std::string& path, RecordRegistry& registry) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int err = errno ? errno : ENOENT;
    return FXErrorUtil::ErrorErrNo(FX_HERE, err, "Cannot open records file '%s': %s", path.c_str(),
                                   std::strerror(err));
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot read records file '%s'", path.c_str());
  }
  CWqError rc = LoadText(text.str(), path, registry);
  if (rc.IsError()) rc.Push(FX_HERE);
  return rc;
}

CWqError RecordsJsonLoader::LoadText(const std::string& text, const std::string& origin,
                                     RecordRegistry& registry) {
  json top;
  try {
    top = json::parse(text);
  } catch (const json::parse_error& e) {
    // The parser's text says where the file goes wrong.
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Records file '%s': %s", origin.c_str(),
                                   e.what());
  }
  RecordRegistry loaded;
  Fault fault;
  if (!ReadTop(top, loaded, &fault)) {
    return FXErrorUtil::ErrorErrNo(FX_HERE, EINVAL, "Records file '%s': %s: %s", origin.c_str(),
                                   fault.where.c_str(), fault.what.c_str());
  }
  registry.ReplaceWith(loaded);
  return CWqError::Success();
}
