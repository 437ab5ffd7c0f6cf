#include "SimVmsSystem.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include <boost/crc.hpp>

namespace {

struct VmsName {
  std::string dir;   // DEVICE:[DIR.SUB]
  std::string name;  // NAME.EXT, may hold wildcards
  bool ok = false;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> SplitNonEmpty(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::string piece;
  std::istringstream in(text);
  while (std::getline(in, piece, separator))
    if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "DEV:[A.B]NAME;v" or "/DEV/A/B/NAME" (`slashHasName` false: "/DEV/A/B" is a
// folder). Versions are dropped; an ellipsis counts as its folder.
VmsName Parse(std::string text, bool slashHasName) {
  const size_t close = text.rfind(']');
  const size_t semi = text.find(';', close == std::string::npos ? 0 : close);
  if (semi != std::string::npos) text.erase(semi);
  VmsName result;
  std::string device, name;
  std::vector<std::string> components;
  if (!text.empty() && text[0] == '/') {
    std::vector<std::string> pieces = SplitNonEmpty(text, '/');
    if (pieces.size() < (slashHasName ? 3u : 2u)) return result;
    device = pieces.front();
    if (slashHasName) {
      name = pieces.back();
      pieces.pop_back();
    }
    components.assign(pieces.begin() + 1, pieces.end());
  } else {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon + 1 >= text.size() || text[colon + 1] != '[') return result;
    const size_t end = text.find(']', colon);
    if (end == std::string::npos) return result;
    device = text.substr(0, colon);
    components = SplitNonEmpty(text.substr(colon + 2, end - colon - 2), '.');
    name = text.substr(end + 1);
  }
  if (device.empty() || components.empty()) return result;
  std::string dir = Upper(device) + ":[";
  for (size_t i = 0; i < components.size(); ++i) dir += (i ? "." : "") + Upper(components[i]);
  result.dir = dir + "]";
  result.name = Upper(name);
  result.ok = true;
  return result;
}

// DCL wildcards: "*" any run, "%" one character.
bool Matches(const char* pattern, const char* name) {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') return Matches(pattern + 1, name) || (*name != '\0' && Matches(pattern, name + 1));
  if (*name == '\0') return false;
  return (*pattern == '%' || *pattern == *name) && Matches(pattern + 1, name + 1);
}

std::string Parent(const std::string& dir) {
  const size_t dot = dir.rfind('.');
  if (dot == std::string::npos) return std::string();
  return dir.substr(0, dot) + "]";
}

SimRemoteReply Error(const std::string& text) {
  SimRemoteReply reply;
  reply.err = text;
  reply.status = 1;
  return reply;
}

bool IsListedByPkgcrc(const std::string& name) {
  return name != "PKGCRC.INFO" && !(name.size() >= 3 && name.compare(name.size() - 3, 3, ".EU") == 0);
}

}  // namespace

std::string SimVmsSystem::Crc32Text(const std::string& bytes) {
  boost::crc_32_type crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return std::to_string(crc.checksum());
}

void SimVmsSystem::CreateDirectory(const std::string& folder) {
  std::lock_guard<std::mutex> lock(m_mutex);
  MakeDirectoryLocked(folder);
}

void SimVmsSystem::MakeDirectoryLocked(const std::string& folder) {
  const VmsName parsed = Parse(folder, false);
  if (!parsed.ok) return;
  for (std::string dir = parsed.dir; !dir.empty(); dir = Parent(dir)) m_dirs.insert(dir);
}

void SimVmsSystem::PutFile(const std::string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const VmsName parsed = Parse(path, true);
  if (!parsed.ok || parsed.name.empty()) return;
  for (std::string dir = parsed.dir; !dir.empty(); dir = Parent(dir)) m_dirs.insert(dir);
  m_files[parsed.dir + parsed.name] = bytes;
}

bool SimVmsSystem::HasFile(const std::string& path) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const VmsName parsed = Parse(path, true);
  return parsed.ok && m_files.count(parsed.dir + parsed.name) != 0;
}

bool SimVmsSystem::HasDirectory(const std::string& folder) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const VmsName parsed = Parse(folder, false);
  return parsed.ok && m_dirs.count(parsed.dir) != 0;
}

std::vector<std::string> SimVmsSystem::Directories() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return std::vector<std::string>(m_dirs.begin(), m_dirs.end());
}

std::vector<std::string> SimVmsSystem::Files() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> names;
  for (const auto& file : m_files) names.push_back(file.first);
  return names;
}

SimRemoteReply SimVmsSystem::Run(const std::string& command) {
  const std::string line = Trim(command);
  if (!line.empty() && line[0] == '@') {
    std::vector<std::string> words = SplitNonEmpty(line.substr(1), ' ');
    if (words.empty()) return Error("%DCL-W-INSFPRM, missing command parameters");
    const std::string path = words.front();
    words.erase(words.begin());
    return Procedure(path, words);
  }
  const size_t blank = line.find(' ');
  const std::string verb = Upper(line.substr(0, blank));
  const std::string rest = blank == std::string::npos ? std::string() : Trim(line.substr(blank));
  if (verb == "DIRECTORY" || verb == "DIR") return Directory(rest);
  if (verb == "CREATE/DIRECTORY") {
    const VmsName parsed = Parse(rest, false);
    if (!parsed.ok) return Error("%CREATE-E-DIRNOTCRE, " + rest + " not created\n-RMS-F-SYN, file name syntax error");
    MakeDirectoryLocked(rest);
    SimRemoteReply reply;
    reply.out = "%CREATE-I-CREATED, " + parsed.dir + " created\n";
    return reply;
  }
  if (verb.compare(0, 6, "DELETE") == 0 && (verb.size() == 6 || verb[6] == '/'))
    return DeleteList(verb.substr(6), rest);
  if (verb == "IF") return IfThen(rest);
  if (verb == "WRITE") return WriteOut(rest);
  if (verb == "SHOW") return ShowTime(rest);
  return Error("%DCL-W-IVVERB, unrecognized command verb - check validity and spelling\n \\" + verb + "\\\n");
}

SimRemoteReply SimVmsSystem::Directory(const std::string& spec) const {
  const VmsName parsed = Parse(spec, true);
  SimRemoteReply reply;
  if (!parsed.ok || m_dirs.count(parsed.dir) == 0) {
    reply.out = "%DIRECT-E-OPENIN, error opening " + spec + " as input\n-RMS-E-DNF, directory not found\n";
    return reply;
  }
  const std::string pattern = parsed.name.empty() ? "*" : parsed.name;
  std::string listing;
  size_t count = 0;
  for (const auto& file : m_files) {
    if (file.first.compare(0, parsed.dir.size(), parsed.dir) != 0) continue;
    const std::string name = file.first.substr(parsed.dir.size());
    if (!Matches(pattern.c_str(), name.c_str())) continue;
    listing += name + ";1\n";
    ++count;
  }
  if (count == 0) {
    reply.out = "%DIRECT-W-NOFILES, no files found\n";
    return reply;
  }
  reply.out = "\nDirectory " + parsed.dir + "\n\n" + listing + "\nTotal of " + std::to_string(count) + " file" +
              (count == 1 ? "" : "s") + ".\n";
  return reply;
}

SimRemoteReply SimVmsSystem::Procedure(const std::string& path, const std::vector<std::string>& args) {
  const VmsName parsed = Parse(path, true);
  if (!parsed.ok || m_files.count(parsed.dir + parsed.name) == 0)
    return Error("%DCL-E-OPENIN, error opening " + path + " as input\n-RMS-E-FNF, file not found\n");
  SimRemoteReply reply;
  if (parsed.name == "KXOV_PKGCRC32.COM") {
    if (m_files.count(parsed.dir + "KXOV_PKGCRC32.EXE") == 0)
      return Error("%DCL-W-ACTIMAGE, error activating image KXOV_PKGCRC32\n-CLI-E-IMAGEFNF, image file not found\n");
    for (const auto& file : m_files) {
      if (file.first.compare(0, parsed.dir.size(), parsed.dir) != 0) continue;
      const std::string name = file.first.substr(parsed.dir.size());
      if (IsListedByPkgcrc(name)) reply.out += Crc32Text(file.second) + " " + name + "\n";
    }
  } else if (parsed.name == "KXOV_START.COM") {
    const long port = args.size() >= 2 ? std::strtol(args[1].c_str(), nullptr, 10) : 0;
    if (port <= 0 || port > 65535 || !StartDaemonLocked(static_cast<uint16_t>(port)))
      return Error("%KXOV-E-NODAEMON, the launch daemon did not come up\n");
    reply.out = "%KXOV-S-UP, launch daemon started on port " + std::to_string(port) + "\n";
  } else if (parsed.name == "KXOV_STOP.COM") {
    StopDaemonLocked();
    reply.out = "%KXOV-S-DOWN, launch daemon stopped\n";
  }
  return reply;
}

SimRemoteReply SimVmsSystem::Store(const std::string& remotePath, const std::string& bytes) {
  const VmsName parsed = Parse(remotePath, true);
  if (!parsed.ok || parsed.name.empty() || m_dirs.count(parsed.dir) == 0) return CopyFailure(remotePath);
  m_files[parsed.dir + parsed.name] = bytes;
  return SimRemoteReply();
}

// One text that every judged step reads as its failure: the folder, list,
// removal and copy markers, and none of the words a start or stop expects.
SimRemoteReply SimVmsSystem::Failure(const std::string& command) const {
  return Error("%SYSTEM-F-ABORT, abort: " + command +
               "\n%DIRECT-E-OPENIN, error opening\n-RMS-E-FNF, file not found\n-CLI-E-IMAGEFNF, image file not found\n");
}

SimRemoteReply SimVmsSystem::CopyFailure(const std::string& remotePath) const {
  return Error("scp: " + remotePath + ": %RMS-E-FNF, file not found\n");
}
