#include "SimIbmiSystem.h"

#include <cctype>
#include <cstdlib>

#include "KxProcess.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "NAME KEY(value) KEY('quoted (value)')": false on a parameter without its
// closing parenthesis.
bool ParseCl(const std::string& cl, std::string& name, std::map<std::string, std::string>& params) {
  size_t i = cl.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  const size_t end = cl.find(' ', i);
  name = Upper(cl.substr(i, end == std::string::npos ? std::string::npos : end - i));
  i = end;
  while (i != std::string::npos && (i = cl.find_first_not_of(' ', i)) != std::string::npos) {
    const size_t open = cl.find('(', i);
    if (open == std::string::npos || cl.find(' ', i) < open) return false;
    const std::string key = Upper(cl.substr(i, open - i));
    std::string value;
    int depth = 1;
    bool quoted = false;
    for (i = open + 1; i < cl.size(); ++i) {
      const char c = cl[i];
      if (c == '\'') quoted = !quoted;
      if (!quoted && c == '(') ++depth;
      if (!quoted && c == ')' && --depth == 0) break;
      value += c;
    }
    if (depth != 0) return false;
    ++i;
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
    params[key] = value;
  }
  return true;
}

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? "/" : path.substr(0, slash);
}

SimRemoteReply Reply(const std::string& out, const std::string& err = std::string(), int status = 0) {
  SimRemoteReply reply;
  reply.out = out;
  reply.err = err;
  reply.status = status;
  return reply;
}

// "/QSYS.LIB/QGPL.LIB/KXINSTPKG.FILE" -> "QGPL/KXINSTPKG"
std::string ObjectOfMember(const std::string& path) {
  const std::string prefix = "/QSYS.LIB/";
  const size_t lib = path.find(".LIB/", prefix.size());
  const size_t file = path.find(".FILE", lib == std::string::npos ? 0 : lib);
  if (path.compare(0, prefix.size(), prefix) != 0 || lib == std::string::npos || file == std::string::npos)
    return std::string();
  return path.substr(prefix.size(), lib - prefix.size()) + "/" + path.substr(lib + 5, file - lib - 5);
}

}  // namespace

SimIbmiSystem::SimIbmiSystem() { m_folders.insert("/"); }

void SimIbmiSystem::AddObject(const std::string& name, const std::string& type) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_objects.insert(Upper(name) + " " + Upper(type));
}

bool SimIbmiSystem::HasObject(const std::string& name, const std::string& type) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return HasObjectLocked(name, type);
}

bool SimIbmiSystem::HasObjectLocked(const std::string& name, const std::string& type) const {
  const std::string wanted = Upper(name), kind = " " + Upper(type);
  if (wanted.find('/') != std::string::npos) return m_objects.count(wanted + kind) != 0;
  const std::string tail = "/" + wanted + kind;
  for (const std::string& object : m_objects)
    if (object.size() >= tail.size() && object.compare(object.size() - tail.size(), tail.size(), tail) == 0)
      return true;
  return false;
}

std::vector<std::string> SimIbmiSystem::Objects() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return std::vector<std::string>(m_objects.begin(), m_objects.end());
}

void SimIbmiSystem::InstallClient() { AddObject("KXLIB/PKGINFO", "*FILE"); }

void SimIbmiSystem::MakeFolder(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (std::string folder = path; !folder.empty() && folder != "/"; folder = Parent(folder)) m_folders.insert(folder);
}

bool SimIbmiSystem::HasFile(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_files.count(path) != 0;
}

bool SimIbmiSystem::HasFolder(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_folders.count(path) != 0;
}

void SimIbmiSystem::SetHomeProfile(const std::string& profile) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sHomeProfile = profile;
}

std::map<std::string, std::string> SimIbmiSystem::LastInstall() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastInstall;
}

SimRemoteReply SimIbmiSystem::WithHomeLine(SimRemoteReply reply) const {
  if (!m_sHomeProfile.empty())
    reply.err = "Could not chdir to home directory /home/" + m_sHomeProfile + ": No such file or directory\n" + reply.err;
  return reply;
}

SimRemoteReply SimIbmiSystem::Run(const std::string& command) {
  std::vector<std::string> words;
  if (KxProcess::SplitWords(command, words).IsError())
    return WithHomeLine(Reply("", "sh: syntax error: unterminated quoted string\n", 2));
  if (words.empty()) return WithHomeLine(Reply(""));
  if (words[0] == "system" && words.size() == 2) return WithHomeLine(RunCl(words[1]));
  if (words[0] == "mkdir" && words.size() == 2) {
    const std::string& path = words[1];
    if (m_folders.count(path) || m_files.count(path))
      return WithHomeLine(Reply("", "mkdir: cannot create directory '" + path + "': File exists\n", 1));
    if (!m_folders.count(Parent(path)))
      return WithHomeLine(Reply("", "mkdir: cannot create directory '" + path + "': No such file or directory\n", 1));
    m_folders.insert(path);
    return WithHomeLine(Reply(""));
  }
  return WithHomeLine(Reply("", "sh: " + words[0] + ": not found\n", 127));
}

SimRemoteReply SimIbmiSystem::RunCl(const std::string& cl) {
  std::string name;
  std::map<std::string, std::string> params;
  // The package's own command takes its one parameter by position.
  const size_t first = cl.find_first_not_of(' ');
  if (first != std::string::npos && Upper(cl.substr(first, 13)) == "KXLIB/TELDRON" &&
      (cl.size() == first + 13 || cl[first + 13] == ' '))
    return Teldron(Upper(cl.substr(first + 13)));
  if (!ParseCl(cl, name, params)) return Reply("", "CPD0013: Command name or parameter not valid.\n", 1);
  if (name == "CHKOBJ") {
    const std::string object = params["OBJ"];
    if (HasObjectLocked(object, params["OBJTYPE"])) return Reply("");
    return Reply("", "CPF9801: Object " + object + " not found.\n", 1);
  }
  if (name == "DLTF") {
    const std::string object = Upper(params["FILE"]);
    if (!m_objects.erase(object + " *FILE"))
      return Reply("", "CPF2105: Object " + object + " type *FILE not found.\n", 1);
    m_savefiles.erase(object);
    return Reply("");
  }
  if (name == "CPYFRMSTMF") {
    const std::string from = params["FROMSTMF"], object = ObjectOfMember(Upper(params["TOMBR"]));
    auto file = m_files.find(from);
    if (file == m_files.end() || object.empty())
      return Reply("", "CPFA095: Stream file " + from + " not copied.\n", 1);
    m_savefiles[object] = file->second;
    m_objects.insert(object + " *FILE");
    return Reply("CPCA083: Stream file copied to object.\n");
  }
  if (name == "RSTLIB") {
    const std::string savf = Upper(params["SAVF"]), into = Upper(params["RSTLIB"]);
    auto saved = m_savefiles.find(savf);
    if (saved == m_savefiles.end() || saved->second.empty())
      return Reply("", "CPF3780: Specified file for library " + params["SAVLIB"] + " not found.\n", 1);
    m_objects.insert(into + "/INSKXTEL *CMD");
    return Reply("CPC3703: 3 objects restored from " + Upper(params["SAVLIB"]) + " to " + into + ".\n");
  }
  if (name == "SNDMSG") return Reply("");
  if (name == "KXINST/INSKXTEL" && HasObjectLocked("KXINST/INSKXTEL", "*CMD")) return Install(params);
  if (name == "RMVLNK") {
    const std::string path = params["OBJLNK"];
    if (!m_files.erase(path)) return Reply("", "CPFA0A9: Object not found.  Object is " + path + ".\n", 1);
    return Reply("");
  }
  return Reply("", "CPD0030: Command " + name + " in library *LIBL not found.\n", 1);
}

SimRemoteReply SimIbmiSystem::Teldron(const std::string& parameters) {
  // The command is part of the client package: gone with it.
  if (!HasObjectLocked("KXLIB/PKGINFO", "*FILE"))
    return Reply("", "CPD0030: Command TELDRON in library KXLIB not found.\n", 1);
  const size_t start = parameters.find_first_not_of(' ');
  const size_t end = parameters.find_last_not_of(' ');
  if (start == std::string::npos || parameters.substr(start, end - start + 1) != "UNINSTALL")
    return Reply("", "CPD0071: Parameter " + parameters + " not valid for command TELDRON.\n", 1);
  StopDaemonLocked();
  size_t removed = 0;
  for (auto it = m_objects.begin(); it != m_objects.end();) {
    if (it->compare(0, 6, "KXLIB/") == 0) {
      it = m_objects.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  return Reply("CPC2191: Object KXLIB of type *LIB deleted (" + std::to_string(removed) + " objects).\n");
}

SimRemoteReply SimIbmiSystem::Install(const std::map<std::string, std::string>& params) {
  m_lastInstall = params;
  m_objects.insert("KXLIB/PKGINFO *FILE");
  auto at = [&](const char* key) {
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
  };
  std::string out = "Client " + at("CLIENT") + " is successfully Installed\n", err;
  if (at("START") == "*YES") {
    const long port = std::strtol(at("PORT").c_str(), nullptr, 10);
    if (port <= 0 || port > 65535 || !StartDaemonLocked(static_cast<uint16_t>(port)))
      err = "CPF1338: Errors occurred on SBMJOB command.\n";
  }
  return Reply(out, err, 0);
}

SimRemoteReply SimIbmiSystem::Store(const std::string& remotePath, const std::string& bytes) {
  if (!m_folders.count(Parent(remotePath))) return CopyFailure(remotePath);
  m_files[remotePath] = bytes;
  return SimRemoteReply();
}

// One text that every judged step reads as its failure: CPF and CPF9
// messages, the stream-file text, a blank for the copy, and none of the
// texts the restore and install steps expect.
SimRemoteReply SimIbmiSystem::Failure(const std::string& command) const {
  return WithHomeLine(
      Reply("", "CPF9899: Error occurred during processing of command.\nCPFA095: Stream file not copied: " +
                    command + "\n", 1));
}

SimRemoteReply SimIbmiSystem::CopyFailure(const std::string& remotePath) const {
  return Reply("", "scp: " + remotePath + ": No such file or directory\n", 1);
}
