#include "SimVmsMachine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

#include "SimFileTree.h"

struct SimVmsMachine::Spec {
  std::string device;
  std::vector<std::string> dirs;  // empty: the master directory
  bool tree = false;              // "..." after the directory
  std::string name, type, version;
  bool hasDevice = false, hasDir = false, hasName = false, hasType = false, hasVersion = false;

  std::string DirText() const {
    std::string text = "[";
    for (size_t i = 0; i < dirs.size(); ++i) text += (i ? "." : "") + dirs[i];
    if (dirs.empty()) text += "000000";
    return text + (tree ? "...]" : "]");
  }
  std::string Text() const {
    return device + ":" + DirText() + name + "." + type + (hasVersion ? ";" + version : "");
  }
};

struct SimVmsMachine::Match {
  std::string path;  // host path
  std::string spec;  // full file spec
  bool directory = false;
  long long size = 0;
};

namespace {

const int kMaxDepth = 8;

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// DCL reads a command upper-cased outside quoted strings; "!" outside
// quotes starts a comment.
std::string Normalise(const std::string& line) {
  std::string out;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '!') break;
    out += quoted ? c : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  size_t start = out.find_first_not_of(" \t");
  if (start != std::string::npos && out[start] == '$') start = out.find_first_not_of(" \t", start + 1);
  if (start == std::string::npos) return std::string();
  const size_t end = out.find_last_not_of(" \t\r\n");
  return out.substr(start, end - start + 1);
}

// Whether `word` names `verb`: the whole verb or a prefix of at least
// `shortest` characters.
bool IsVerb(const std::string& word, const std::string& verb, size_t shortest = 3) {
  return word.size() >= std::min(shortest, verb.size()) && word.size() <= verb.size() &&
         verb.compare(0, word.size(), word) == 0;
}

// "*" any run of characters, "%" one character.
bool Wild(const char* pattern, const char* text) {
  if (!*pattern) return !*text;
  if (*pattern == '*') return Wild(pattern + 1, text) || (*text && Wild(pattern, text + 1));
  if (!*text) return false;
  return (*pattern == '%' || *pattern == *text) && Wild(pattern + 1, text + 1);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

// NAME.TYPE;VERSION split into its parts; false for a name of another form.
bool SplitName(const std::string& entry, std::string& name, std::string& type, int& version) {
  const size_t semi = entry.rfind(';');
  if (semi == std::string::npos) return false;
  const std::string stem = entry.substr(0, semi);
  const size_t dot = stem.find('.');
  name = dot == std::string::npos ? stem : stem.substr(0, dot);
  type = dot == std::string::npos ? std::string() : stem.substr(dot + 1);
  const std::string number = entry.substr(semi + 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  version = std::atoi(number.c_str());
  return true;
}

const char kIvverb[] = "%DCL-W-IVVERB, unrecognized command verb - check validity and spelling\n";
const char kInsfprm[] = "%DCL-W-INSFPRM, missing command parameters - supply all required parameters\n";

}  // namespace

SimVmsMachine::SimVmsMachine(std::string root) : m_root(std::move(root)) {}

int SimVmsMachine::Run(const std::string& command, std::string& out, std::string& err) {
  return Execute(command, out, err, 0);
}

int SimVmsMachine::Execute(const std::string& line, std::string& out, std::string& err, int depth) {
  const std::string text = Normalise(line);
  if (text.empty()) return 0;
  if (text[0] == '@') return Procedure(text.substr(1), out, err, depth);
  size_t end = 0;
  while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '$' ||
                               text[end] == '_'))
    ++end;
  const std::string verb = text.substr(0, end);
  size_t at = end;
  while (at < text.size() && text[at] == '/') {
    const size_t next = text.find_first_of(" /", at + 1);
    at = next == std::string::npos ? text.size() : next;
  }
  const std::string qualifiers = text.substr(end, at - end);
  const size_t restStart = text.find_first_not_of(" \t", at);
  const std::string rest = restStart == std::string::npos ? std::string() : text.substr(restStart);

  if (verb == "IF") return If(rest, out, err, depth);
  if (IsVerb(verb, "DELETE")) return Delete(qualifiers, rest, out, err);
  if (IsVerb(verb, "WRITE")) return Write(rest, out, err);
  if (IsVerb(verb, "DIRECTORY")) return Directory(rest, out, err);
  if (IsVerb(verb, "CREATE") && qualifiers.find("/DIR") == 0) return CreateDirectory(rest, err);
  if (IsVerb(verb, "SHOW")) {
    const std::string keyword = rest.substr(0, rest.find(' '));
    if (!IsVerb(keyword, "TIME", 2)) {
      err += "%DCL-W-IVKEYW, unrecognized keyword - check validity and spelling\n \\" + keyword + "\\\n";
      return 1;
    }
    const time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char buffer[64];
    std::strftime(buffer, sizeof(buffer), "  %d-%b-%Y %H:%M:%S", &local);
    out += Upper(buffer) + "\n";
    return 0;
  }
  err += kIvverb;
  err += " \\" + (verb.empty() ? text.substr(0, text.find(' ')) : verb) + "\\\n";
  return 1;
}

bool SimVmsMachine::ParseSpec(const std::string& input, Spec& spec) const {
  std::string text = Upper(input);
  spec = Spec();
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

void SimVmsMachine::Search(const Spec& spec, std::vector<Match>& matches) const {
  // The directories searched: the named one, and with "..." every one below
  // it, each before its subdirectories.
  std::vector<std::pair<std::string, std::vector<std::string>>> folders;
  std::string path = m_root + "/" + spec.device;
  for (const std::string& dir : spec.dirs) path += "/" + dir + ".DIR;1";
  if (!IsDirectory(path)) return;
  std::vector<std::pair<std::string, std::vector<std::string>>> pending{{path, spec.dirs}};
  while (!pending.empty()) {
    auto folder = pending.front();
    pending.erase(pending.begin());
    folders.push_back(folder);
    if (!spec.tree) continue;
    std::vector<std::pair<std::string, std::vector<std::string>>> children;
    for (const std::string& entry : SimSortedNames(folder.first)) {
      std::string name, type;
      int version = 0;
      if (!SplitName(entry, name, type, version) || type != "DIR" || !IsDirectory(folder.first + "/" + entry)) continue;
      std::vector<std::string> dirs = folder.second;
      dirs.push_back(name);
      children.push_back({folder.first + "/" + entry, dirs});
    }
    pending.insert(pending.begin(), children.begin(), children.end());
  }
  for (const auto& folder : folders) {
    struct Entry {
      std::string entry, name, type;
      int version;
    };
    std::vector<Entry> entries;
    for (const std::string& entry : SimSortedNames(folder.first)) {
      Entry e{entry, "", "", 0};
      if (!SplitName(entry, e.name, e.type, e.version)) continue;
      if (!Wild(spec.name.c_str(), e.name.c_str()) || !Wild(spec.type.c_str(), e.type.c_str())) continue;
      entries.push_back(e);
    }
    // Names in order, the highest version of each first.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.name != b.name) return a.name < b.name;
      if (a.type != b.type) return a.type < b.type;
      return a.version > b.version;
    });
    Spec where = spec;
    where.dirs = folder.second;
    where.tree = false;
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      const bool highest = i == 0 || entries[i - 1].name != e.name || entries[i - 1].type != e.type;
      if (spec.version == "*") {
      } else if (spec.version.empty()) {
        if (!highest) continue;
      } else if (spec.version != std::to_string(e.version)) {
        continue;
      }
      Match match;
      match.path = folder.first + "/" + e.entry;
      match.spec = where.device + ":" + where.DirText() + e.name + "." + e.type + ";" + std::to_string(e.version);
      match.directory = IsDirectory(match.path);
      if (match.directory) match.size = 512;
      struct stat st;
      if (!match.directory && ::stat(match.path.c_str(), &st) == 0) match.size = st.st_size;
      matches.push_back(match);
    }
  }
}

int SimVmsMachine::Delete(const std::string& qualifiers, const std::string& list, std::string& out,
                          std::string& err) {
  if (list.empty()) {
    err += kInsfprm;
    return 1;
  }
  const bool log = qualifiers.find("/LOG") != std::string::npos;
  int status = 0;
  Spec previous;
  previous.device = "SYS$DISK";
  previous.name = "*";
  previous.type = "*";
  std::stringstream items(list);
  std::string item;
  while (std::getline(items, item, ',')) {
    Spec spec;
    if (!ParseSpec(item, spec)) {
      err += "%DELETE-W-SEARCHFAIL, error searching for " + Upper(item) + "\n-RMS-F-DIR, error in directory name\n";
      status = 1;
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
    if (!spec.hasVersion) {
      err += "%DELETE-E-DELVER, explicit version number or wild card required\n";
      status = 1;
      continue;
    }
    std::vector<Match> matches;
    Search(spec, matches);
    if (matches.empty()) {
      std::string path = m_root + "/" + spec.device;
      for (const std::string& dir : spec.dirs) path += "/" + dir + ".DIR;1";
      err += "%DELETE-W-SEARCHFAIL, error searching for " + spec.Text() + "\n" +
             (IsDirectory(path) ? "-RMS-E-FNF, file not found\n" : "-RMS-E-DNF, directory not found\n");
      status = 1;
      continue;
    }
    for (const Match& match : matches) {
      const bool removed = match.directory ? ::rmdir(match.path.c_str()) == 0 : ::unlink(match.path.c_str()) == 0;
      if (!removed) {
        err += "%DELETE-W-FILNOTDEL, error deleting " + match.spec + "\n";
        err += match.directory ? "-RMS-E-MKD, ACP could not mark file for deletion\n"
                                 "-SYSTEM-F-DIRNOTEMPTY, directory file is not empty\n"
                               : "-RMS-E-PRV, insufficient privilege or file protection violation\n";
        status = 1;
      } else if (log) {
        out += "%DELETE-I-FILDELETED, " + match.spec + " deleted (" + std::to_string((match.size + 511) / 512) +
               " blocks)\n";
      }
    }
  }
  return status;
}

std::string SimVmsMachine::Lookup(const std::string& text) const {
  Spec spec;
  if (!ParseSpec(text, spec)) return std::string();
  if (!spec.hasDevice) spec.device = "SYS$DISK";
  if (!spec.hasName) spec.name = "*";
  if (!spec.hasType) spec.type = "*";
  std::vector<Match> matches;
  Search(spec, matches);
  return matches.empty() ? std::string() : matches.front().spec;
}

bool SimVmsMachine::Term(const std::string& text, size_t& at, std::string& value, std::string& err) const {
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size()) {
    err += "%DCL-W-INSFPRM, missing command parameters - supply all required parameters\n";
    return false;
  }
  if (text[at] == '(') {
    ++at;
    if (!Evaluate(text, at, value, err)) return false;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size() || text[at] != ')') {
      err += "%DCL-W-EXPSYN, invalid expression syntax - check operators and operands\n";
      return false;
    }
    ++at;
    return true;
  }
  if (text[at] == '"') {
    value.clear();
    for (++at;; ++at) {
      if (at >= text.size()) {
        err += "%DCL-W-UNDSYM, unterminated quoted string\n";
        return false;
      }
      if (text[at] == '"') {
        if (at + 1 < text.size() && text[at + 1] == '"') {
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
  while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '$' ||
                               text[end] == '_'))
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
    if (at >= text.size() || text[at] != '(') {
      err += "%DCL-W-EXPSYN, invalid expression syntax - check operators and operands\n";
      return false;
    }
    ++at;
    std::string argument;
    if (!Evaluate(text, at, argument, err)) return false;
    while (at < text.size() && text[at] == ' ') ++at;
    if (at >= text.size() || text[at] != ')') {
      err += "%DCL-W-EXPSYN, invalid expression syntax - check operators and operands\n";
      return false;
    }
    ++at;
    value = Lookup(argument);
    return true;
  }
  err += "%DCL-W-UNDSYM, undefined symbol - check validity and spelling\n \\" +
         (word.empty() ? text.substr(at, 1) : word) + "\\\n";
  return false;
}

bool SimVmsMachine::Evaluate(const std::string& text, size_t& at, std::string& value, std::string& err) const {
  if (!Term(text, at, value, err)) return false;
  while (at < text.size() && text[at] == ' ') ++at;
  for (const char* op : {".EQS.", ".NES."}) {
    if (text.compare(at, 5, op) != 0) continue;
    at += 5;
    std::string right;
    if (!Term(text, at, right, err)) return false;
    const bool equal = value == right;
    value = (op[1] == 'E') == equal ? "1" : "0";
    return true;
  }
  return true;
}

int SimVmsMachine::If(const std::string& rest, std::string& out, std::string& err, int depth) {
  // THEN outside quoted strings ends the expression.
  bool quoted = false;
  size_t then = std::string::npos;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '"') quoted = !quoted;
    if (!quoted && rest.compare(i, 6, " THEN ") == 0) {
      then = i;
      break;
    }
  }
  if (then == std::string::npos) {
    err += "%DCL-W-SYNTAX, THEN keyword missing\n";
    return 1;
  }
  const std::string expression = rest.substr(0, then);
  size_t at = 0;
  std::string value;
  if (!Evaluate(expression, at, value, err)) return 1;
  while (at < expression.size() && expression[at] == ' ') ++at;
  if (at != expression.size()) {
    err += "%DCL-W-EXPSYN, invalid expression syntax - check operators and operands\n";
    return 1;
  }
  const bool odd = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos &&
                   (value.back() - '0') % 2 == 1;
  const bool yes = odd || (!value.empty() && (std::toupper(static_cast<unsigned char>(value[0])) == 'T' ||
                                              std::toupper(static_cast<unsigned char>(value[0])) == 'Y'));
  if (!yes) return 0;
  if (depth >= kMaxDepth) return 1;
  return Execute(rest.substr(then + 6), out, err, depth + 1);
}

int SimVmsMachine::Write(const std::string& rest, std::string& out, std::string& err) {
  const size_t blank = rest.find(' ');
  const std::string channel = rest.substr(0, blank);
  if (channel.empty() || blank == std::string::npos) {
    err += kInsfprm;
    return 1;
  }
  if (channel != "SYS$OUTPUT" && channel != "SYS$ERROR") {
    err += "%DCL-W-UNDSYM, undefined symbol - check validity and spelling\n \\" + channel + "\\\n";
    return 1;
  }
  const std::string list = rest.substr(blank + 1);
  std::string line;
  size_t at = 0;
  for (;;) {
    std::string value;
    if (!Evaluate(list, at, value, err)) return 1;
    line += value;
    while (at < list.size() && list[at] == ' ') ++at;
    if (at >= list.size()) break;
    if (list[at] != ',') {
      err += "%DCL-W-EXPSYN, invalid expression syntax - check operators and operands\n";
      return 1;
    }
    ++at;
  }
  (channel == "SYS$OUTPUT" ? out : err) += line + "\n";
  return 0;
}

int SimVmsMachine::Directory(const std::string& rest, std::string& out, std::string& err) {
  Spec spec;
  if (rest.empty() || !ParseSpec(rest, spec)) {
    err += kInsfprm;
    return 1;
  }
  if (!spec.hasDevice) spec.device = "SYS$DISK";
  if (!spec.hasName) spec.name = "*";
  if (!spec.hasType) spec.type = "*";
  if (!spec.hasVersion) spec.version = "*";
  std::vector<Match> matches;
  Search(spec, matches);
  if (matches.empty()) {
    err += "%DIRECT-W-NOFILES, no files found\n";
    return 1;
  }
  std::string folder;
  size_t count = 0;
  auto total = [&] {
    if (count) out += "\nTotal of " + std::to_string(count) + (count == 1 ? " file.\n" : " files.\n");
    count = 0;
  };
  for (const Match& match : matches) {
    const size_t close = match.spec.find(']');
    const std::string where = match.spec.substr(0, close + 1);
    if (where != folder) {
      total();
      folder = where;
      out += "\nDirectory " + folder + "\n\n";
    }
    out += match.spec.substr(close + 1) + "\n";
    ++count;
  }
  total();
  return 0;
}

int SimVmsMachine::CreateDirectory(const std::string& rest, std::string& err) {
  Spec spec;
  if (rest.empty() || !ParseSpec(rest, spec) || !spec.hasDir || spec.dirs.empty()) {
    err += kInsfprm;
    return 1;
  }
  if (!spec.hasDevice) spec.device = "SYS$DISK";
  std::string path = m_root + "/" + spec.device;
  if (!IsDirectory(path)) {
    err += "%CREATE-E-DIRNOTCRE, " + spec.device + ":" + spec.DirText() +
           " directory file not created\n-SYSTEM-W-NOSUCHDEV, no such device available\n";
    return 1;
  }
  for (const std::string& dir : spec.dirs) {
    path += "/" + dir + ".DIR;1";
    if (!MakeDir(path)) {
      err += "%CREATE-E-DIRNOTCRE, " + spec.device + ":" + spec.DirText() + " directory file not created\n";
      return 1;
    }
  }
  return 0;
}

int SimVmsMachine::Procedure(const std::string& rest, std::string& out, std::string& err, int depth) {
  const std::string target = rest.substr(0, rest.find(' '));
  Spec spec;
  if (target.empty() || !ParseSpec(target, spec)) {
    err += kInsfprm;
    return 1;
  }
  if (!spec.hasDevice) spec.device = "SYS$DISK";
  if (!spec.hasType) spec.type = "COM";
  if (!spec.hasVersion) spec.version = "";
  std::vector<Match> matches;
  if (spec.hasName) Search(spec, matches);
  if (matches.empty() || matches.front().directory || depth >= kMaxDepth) {
    err += "%DCL-E-OPENIN, error opening " + spec.device + ":" + spec.DirText() + spec.name + "." + spec.type +
           "; as input\n-RMS-E-FNF, file not found\n";
    return 1;
  }
  std::ifstream in(matches.front().path);
  std::string line;
  int status = 0;
  while (std::getline(in, line)) {
    const std::string text = Normalise(line);
    if (text == "EXIT") break;
    if (line.find('$') == std::string::npos || text.empty()) continue;
    status = Execute(text, out, err, depth + 1);
  }
  return status;
}

bool SimVmsMachine::MakeDirectory(const std::string& text) {
  Spec spec;
  if (!ParseSpec(text, spec) || !spec.hasDevice) return false;
  std::string path = m_root;
  if (!MakeDir(path)) return false;
  path += "/" + spec.device;
  if (!MakeDir(path)) return false;
  for (const std::string& dir : spec.dirs) {
    path += "/" + dir + ".DIR;1";
    if (!MakeDir(path)) return false;
  }
  return true;
}

bool SimVmsMachine::WriteFile(const std::string& text, const std::string& content) {
  Spec spec;
  if (!ParseSpec(text, spec) || !spec.hasDevice || !spec.hasName || !MakeDirectory(text)) return false;
  std::string path = m_root + "/" + spec.device;
  for (const std::string& dir : spec.dirs) path += "/" + dir + ".DIR;1";
  int version = 1;
  for (const std::string& entry : SimSortedNames(path)) {
    std::string name, type;
    int found = 0;
    if (SplitName(entry, name, type, found) && name == spec.name && type == spec.type && found >= version)
      version = found + 1;
  }
  std::ofstream file(path + "/" + spec.name + "." + spec.type + ";" + std::to_string(version), std::ios::binary);
  file << content;
  return static_cast<bool>(file);
}

std::vector<std::string> SimVmsMachine::List() const {
  std::vector<std::string> specs;
  for (const std::string& device : SimSortedNames(m_root)) {
    if (!IsDirectory(m_root + "/" + device)) continue;
    Spec spec;
    spec.device = device;
    spec.tree = true;
    spec.name = "*";
    spec.type = "*";
    spec.version = "*";
    std::vector<Match> matches;
    Search(spec, matches);
    for (const Match& match : matches) specs.push_back(match.spec);
  }
  std::sort(specs.begin(), specs.end());
  return specs;
}
