// The emulated OpenVMS system's DCL beyond the installation's own steps:
// DELETE of a file list with sticky defaults and "..." trees, IF with
// F$SEARCH, WRITE and SHOW TIME. Called with m_mutex held.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <sstream>

#include "SimVmsSystem.h"

struct SimVmsSystem::DclSpec {
  std::string device;
  std::vector<std::string> dirs;  // empty: the master directory [000000]
  bool tree = false;              // "..." after the directory
  std::string name, type, version;
  bool hasDevice = false, hasDir = false, hasName = false, hasType = false, hasVersion = false;

  std::string Folder() const {
    std::string text = device + ":[";
    for (size_t i = 0; i < dirs.size(); ++i) text += (i ? "." : "") + dirs[i];
    return text + (dirs.empty() ? "000000]" : "]");
  }
  std::string Text() const {
    std::string folder = Folder();
    if (tree) folder.insert(folder.size() - 1, "...");
    return folder + name + "." + type + (hasVersion ? ";" + version : "");
  }
};

struct SimVmsSystem::DclMatch {
  std::string key;   // the file's key, or the directory's for a directory file
  std::string spec;  // DEV:[DIR]NAME.TYPE;1
  bool directory = false;
};

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// DCL reads a command upper-cased outside quoted strings.
std::string UpperOutsideQuotes(const std::string& text) {
  std::string out;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    out += quoted ? c : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

bool Wild(const char* pattern, const char* text) {
  if (!*pattern) return !*text;
  if (*pattern == '*') return Wild(pattern + 1, text) || (*text && Wild(pattern, text + 1));
  if (!*text) return false;
  return (*pattern == '%' || *pattern == *text) && Wild(pattern + 1, text + 1);
}

// "DEV:[A.B]" -> "DEV:[A]"; "DEV:[A]" -> "DEV:[000000]".
std::string ParentFolder(const std::string& folder) {
  const size_t dot = folder.rfind('.');
  const size_t open = folder.find('[');
  if (dot == std::string::npos || dot < open) return folder.substr(0, open + 1) + "000000]";
  return folder.substr(0, dot) + "]";
}

bool IsRoot(const std::string& folder) { return folder.find(":[000000]") != std::string::npos; }

SimRemoteReply Failed(const std::string& text) {
  SimRemoteReply reply;
  reply.err = text;
  reply.status = 1;
  return reply;
}

const char kInsfprm[] = "%DCL-W-INSFPRM, missing command parameters - supply all required parameters\n";
const char kExpsyn[] = "%DCL-W-EXPSYN, invalid expression syntax - check operators and operands\n";

}  // namespace

bool SimVmsSystem::ParseDclSpec(const std::string& input, DclSpec& spec) {
  std::string text = Upper(input);
  spec = DclSpec();
  const size_t colon = text.find(':');
  const size_t open = text.find('[');
  if (colon != std::string::npos && (open == std::string::npos || colon < open)) {
    spec.device = text.substr(0, colon);
    spec.hasDevice = true;
    text.erase(0, colon + 1);
  }
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    std::string inside = text.substr(1, close - 1);
    text.erase(0, close + 1);
    spec.hasDir = true;
    if (inside.size() >= 3 && inside.compare(inside.size() - 3, 3, "...") == 0) {
      spec.tree = true;
      inside.erase(inside.size() - 3);
    }
    std::stringstream parts(inside);
    std::string part;
    while (std::getline(parts, part, '.')) {
      if (part.empty()) return false;
      if (part == "000000" && spec.dirs.empty()) continue;
      spec.dirs.push_back(part);
    }
  }
  const size_t semi = text.find(';');
  const std::string stem = text.substr(0, semi);
  if (semi != std::string::npos) {
    spec.hasVersion = true;
    spec.version = text.substr(semi + 1);
  }
  const size_t dot = stem.find('.');
  spec.name = stem.substr(0, dot);
  spec.hasName = !spec.name.empty();
  if (dot != std::string::npos) {
    spec.type = stem.substr(dot + 1);
    spec.hasType = true;
  }
  return true;
}

bool SimVmsSystem::FolderExistsLocked(const std::string& folder) const {
  if (m_dirs.count(folder)) return true;
  if (!IsRoot(folder)) return false;
  const std::string device = folder.substr(0, folder.find('[') + 1);
  for (const std::string& dir : m_dirs)
    if (dir.compare(0, device.size(), device) == 0) return true;
  return false;
}

void SimVmsSystem::SearchLocked(const DclSpec& spec, std::vector<DclMatch>& matches) const {
  const std::string start = spec.Folder();
  if (!FolderExistsLocked(start)) return;
  if (!spec.version.empty() && spec.version != "*" && spec.version != "1") return;  // one version of each file
  const std::string pattern = spec.name + "." + spec.type;
  // Each folder's entries, then its subfolders' (with "..."), in name order.
  std::vector<std::string> pending{start};
  while (!pending.empty()) {
    const std::string folder = pending.front();
    pending.erase(pending.begin());
    std::vector<std::pair<std::string, DclMatch>> entries;
    std::vector<std::string> children;
    for (const std::string& dir : m_dirs) {
      if (dir == folder || IsRoot(dir) || ParentFolder(dir) != folder) continue;
      children.push_back(dir);
      const size_t dot = dir.rfind('.');
      const size_t from = dot != std::string::npos && dot > dir.find('[') ? dot : dir.find('[');
      DclMatch match;
      match.key = dir;
      match.directory = true;
      entries.push_back({dir.substr(from + 1, dir.size() - from - 2) + ".DIR", match});
    }
    for (const auto& file : m_files) {
      if (file.first.compare(0, folder.size(), folder) != 0) continue;
      const std::string name = file.first.substr(folder.size());
      if (name.find(']') != std::string::npos) continue;
      DclMatch match;
      match.key = file.first;
      entries.push_back({name.find('.') == std::string::npos ? name + "." : name, match});
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::pair<std::string, DclMatch>& a, const std::pair<std::string, DclMatch>& b) {
                return a.first < b.first;
              });
    for (auto& entry : entries) {
      if (!Wild(pattern.c_str(), entry.first.c_str())) continue;
      entry.second.spec = folder + entry.first + ";1";
      matches.push_back(entry.second);
    }
    if (spec.tree) pending.insert(pending.begin(), children.begin(), children.end());
  }
}

SimRemoteReply SimVmsSystem::DeleteList(const std::string& qualifiers, const std::string& list) {
  if (list.empty()) return Failed(kInsfprm);
  const bool log = qualifiers.find("/LOG") != std::string::npos;
  SimRemoteReply reply;
  DclSpec previous;
  previous.device = "SYS$DISK";
  previous.name = "*";
  previous.type = "*";
  std::stringstream items(list);
  std::string item;
  while (std::getline(items, item, ',')) {
    DclSpec spec;
    if (!ParseDclSpec(item, spec)) {
      reply.err += "%DELETE-W-SEARCHFAIL, error searching for " + Upper(item) + "\n-RMS-F-DIR, error in directory name\n";
      reply.status = 1;
      continue;
    }
    // Sticky defaults: what an item leaves out comes from the item before.
    if (!spec.hasDevice) spec.device = previous.device;
    if (!spec.hasDir) {
      spec.dirs = previous.dirs;
      spec.tree = previous.tree;
    }
    if (!spec.hasName) spec.name = previous.name;
    if (!spec.hasType) spec.type = previous.type;
    previous = spec;
    std::vector<DclMatch> matches;
    SearchLocked(spec, matches);
    if (matches.empty()) {
      reply.err += "%DELETE-W-SEARCHFAIL, error searching for " + spec.Text() + "\n" +
                   (FolderExistsLocked(spec.Folder()) ? "-RMS-E-FNF, file not found\n"
                                                      : "-RMS-E-DNF, directory not found\n");
      reply.status = 1;
      continue;
    }
    for (const DclMatch& match : matches) {
      bool removed = true;
      if (match.directory) {
        // Only an empty directory's file can go.
        const std::string inside = match.key.substr(0, match.key.size() - 1) + ".";
        for (const std::string& dir : m_dirs)
          if (dir.compare(0, inside.size(), inside) == 0) removed = false;
        for (const auto& file : m_files)
          if (file.first.compare(0, match.key.size(), match.key) == 0) removed = false;
        if (removed) m_dirs.erase(match.key);
      } else {
        m_files.erase(match.key);
      }
      if (!removed) {
        reply.err += "%DELETE-W-FILNOTDEL, error deleting " + match.spec +
                     "\n-RMS-E-MKD, ACP could not mark file for deletion\n"
                     "-SYSTEM-F-DIRNOTEMPTY, directory file is not empty\n";
        reply.status = 1;
      } else if (log) {
        reply.out += "%DELETE-I-FILDELETED, " + match.spec + " deleted\n";
      }
    }
  }
  return reply;
}

bool SimVmsSystem::Term(const std::string& text, size_t& at, std::string& value, std::string& err) const {
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size()) {
    err += kInsfprm;
    return false;
  }
  if (text[at] == '(') {
    ++at;
    if (!Evaluate(text, at, value, err)) return false;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size() || text[at] != ')') {
      err += kExpsyn;
      return false;
    }
    ++at;
    return true;
  }
  if (text[at] == '"') {
    value.clear();
    for (++at;; ++at) {
      if (at >= text.size()) {
        err += kExpsyn;
        return false;
      }
      if (text[at] == '"') {
        if (at + 1 < text.size() && text[at + 1] == '"') {  // "" stands for one quote
          value += '"';
          ++at;
          continue;
        }
        ++at;
        return true;
      }
      value += text[at];
    }
  }
  size_t end = at;
  while (end < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '$' || text[end] == '_'))
    ++end;
  const std::string word = text.substr(at, end - at);
  if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos) {
    value = word;
    at = end;
    return true;
  }
  if (word == "F$SEARCH") {
    at = end;
    while (at < text.size() && text[at] == ' ') ++at;
    std::string argument;
    if (at >= text.size() || text[at] != '(') {
      err += kExpsyn;
      return false;
    }
    ++at;
    if (!Evaluate(text, at, argument, err)) return false;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size() || text[at] != ')') {
      err += kExpsyn;
      return false;
    }
    ++at;
    DclSpec spec;
    value.clear();
    if (ParseDclSpec(argument, spec)) {
      if (!spec.hasDevice) spec.device = "SYS$DISK";
      if (!spec.hasName) spec.name = "*";
      if (!spec.hasType) spec.type = "*";
      std::vector<DclMatch> matches;
      SearchLocked(spec, matches);
      if (!matches.empty()) value = matches.front().spec;
    }
    return true;
  }
  err += "%DCL-W-UNDSYM, undefined symbol - check validity and spelling\n \\" +
         (word.empty() ? text.substr(at, 1) : word) + "\\\n";
  return false;
}

bool SimVmsSystem::Evaluate(const std::string& text, size_t& at, std::string& value, std::string& err) const {
  if (!Term(text, at, value, err)) return false;
  while (at < text.size() && text[at] == ' ') ++at;
  for (const char* op : {".EQS.", ".NES."}) {
    if (text.compare(at, 5, op) != 0) continue;
    at += 5;
    std::string right;
    if (!Term(text, at, right, err)) return false;
    value = (op[1] == 'E') == (value == right) ? "1" : "0";
    return true;
  }
  return true;
}

SimRemoteReply SimVmsSystem::IfThen(const std::string& original) {
  const std::string rest = UpperOutsideQuotes(original);
  bool quoted = false;
  size_t then = std::string::npos;
  for (size_t i = 0; i < rest.size() && then == std::string::npos; ++i) {
    if (rest[i] == '"') quoted = !quoted;
    if (!quoted && rest.compare(i, 6, " THEN ") == 0) then = i;
  }
  if (then == std::string::npos) return Failed("%DCL-W-SYNTAX, THEN keyword missing\n");
  const std::string expression = rest.substr(0, then);
  size_t at = 0;
  std::string value, err;
  if (!Evaluate(expression, at, value, err)) return Failed(err);
  while (at < expression.size() && expression[at] == ' ') ++at;
  if (at != expression.size()) return Failed(kExpsyn);
  // True: an odd number, or a text starting with T or Y.
  const bool number = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
  const bool yes = number ? (value.back() - '0') % 2 == 1
                          : !value.empty() && (std::toupper(static_cast<unsigned char>(value[0])) == 'T' ||
                                               std::toupper(static_cast<unsigned char>(value[0])) == 'Y');
  if (!yes) return SimRemoteReply();
  return Run(original.substr(then + 6));
}

SimRemoteReply SimVmsSystem::WriteOut(const std::string& original) {
  const std::string rest = UpperOutsideQuotes(original);
  const size_t blank = rest.find(' ');
  const std::string channel = rest.substr(0, blank);
  if (channel.empty() || blank == std::string::npos) return Failed(kInsfprm);
  if (channel != "SYS$OUTPUT" && channel != "SYS$ERROR")
    return Failed("%DCL-W-UNDSYM, undefined symbol - check validity and spelling\n \\" + channel + "\\\n");
  const std::string list = rest.substr(blank + 1);
  std::string line, err;
  size_t at = 0;
  for (;;) {
    std::string value;
    if (!Evaluate(list, at, value, err)) return Failed(err);
    line += value;
    while (at < list.size() && list[at] == ' ') ++at;
    if (at >= list.size()) break;
    if (list[at] != ',') return Failed(kExpsyn);
    ++at;
  }
  SimRemoteReply reply;
  (channel == "SYS$OUTPUT" ? reply.out : reply.err) = line + "\n";
  return reply;
}

SimRemoteReply SimVmsSystem::ShowTime(const std::string& rest) const {
  const std::string keyword = Upper(rest.substr(0, rest.find(' ')));
  if (keyword.size() < 2 || std::string("TIME").compare(0, keyword.size(), keyword) != 0)
    return Failed("%DCL-W-IVKEYW, unrecognized keyword - check validity and spelling\n \\" + keyword + "\\\n");
  const time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char buffer[64];
  std::strftime(buffer, sizeof(buffer), "  %d-%b-%Y %H:%M:%S", &local);
  SimRemoteReply reply;
  reply.out = Upper(buffer) + "\n";
  return reply;
}
