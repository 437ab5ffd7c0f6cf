#include "SimIbmiMachine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <fstream>

#include "KxProcess.h"
#include "SimFileTree.h"

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool MakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// The value in "KEYWORD(value)" of a CL command; empty when absent.
std::string Parameter(const std::string& command, const std::string& keyword) {
  const size_t at = command.find(keyword + "(");
  if (at == std::string::npos) return std::string();
  const size_t start = at + keyword.size() + 1;
  const size_t end = command.find(')', start);
  return end == std::string::npos ? std::string() : command.substr(start, end - start);
}

const char* const kClientObjects[] = {"TELDRON.CMD", "TELDRON.PGM", "PKGINFO.FILE", "KXD.PGM", "KXSBS.SBSD"};

}  // namespace

SimIbmiMachine::SimIbmiMachine(std::string root) : m_root(std::move(root)) {}

bool SimIbmiMachine::InstallClient() {
  const std::string library = m_root + "/QSYS.LIB/KXLIB.LIB";
  if (!MakeDir(m_root) || !MakeDir(m_root + "/QSYS.LIB") || !MakeDir(library)) return false;
  for (const char* object : kClientObjects) {
    std::ofstream file(library + "/" + object);
    if (!file) return false;
  }
  std::ofstream active(m_root + "/daemon.active");
  return static_cast<bool>(active);
}

bool SimIbmiMachine::IsDaemonActive() const { return Exists(m_root + "/daemon.active"); }

std::vector<std::string> SimIbmiMachine::List() const {
  std::vector<std::string> objects;
  for (const std::string& library : SimSortedNames(m_root + "/QSYS.LIB")) {
    const std::string name = library.substr(0, library.rfind(".LIB"));
    for (const std::string& object : SimSortedNames(m_root + "/QSYS.LIB/" + library))
      objects.push_back(name + "/" + object);
  }
  return objects;
}

int SimIbmiMachine::Run(const std::string& command, std::string& out, std::string& err) {
  std::vector<std::string> words;
  if (KxProcess::SplitWords(command, words).IsError()) {
    err += "sh: syntax error: unterminated quoted string\n";
    return 2;
  }
  if (words.empty()) return 0;
  if (words[0] != "system") {
    err += "sh: " + words[0] + ": not found\n";
    return 127;
  }
  if (words.size() < 2) {
    err += "system: missing CL command\n";
    return 1;
  }
  return RunCl(Upper(words[1]), out, err);
}

int SimIbmiMachine::RunCl(const std::string& command, std::string& out, std::string& err) {
  const std::string library = m_root + "/QSYS.LIB/KXLIB.LIB";
  const size_t blank = command.find(' ');
  const std::string name = command.substr(0, blank);
  const std::string rest = blank == std::string::npos ? std::string() : command.substr(blank + 1);

  if (name == "KXLIB/TELDRON" && Exists(library + "/TELDRON.CMD")) {
    if (rest.find("UNINSTALL") != 0) {
      err += "CPD0071: Parameter " + rest + " not valid for command TELDRON.\n";
      return 1;
    }
    ::unlink((m_root + "/daemon.active").c_str());
    for (const std::string& object : SimSortedNames(library)) ::unlink((library + "/" + object).c_str());
    ::rmdir(library.c_str());
    out += "CPC2191: Object KXLIB of type *LIB deleted.\n";
    return 0;
  }
  if (name == "CHKOBJ") {
    const std::string object = Parameter(command, "OBJ");
    const std::string type = Parameter(command, "OBJTYPE");
    const size_t slash = object.find('/');
    const std::string lib = slash == std::string::npos ? std::string("*LIBL") : object.substr(0, slash);
    const std::string obj = slash == std::string::npos ? object : object.substr(slash + 1);
    const std::string path = m_root + "/QSYS.LIB/" + lib + ".LIB/" + obj + "." + (type.empty() ? "" : type.substr(1));
    if (Exists(path)) return 0;
    err += "CPF9801: Object " + obj + " in library " + lib + " not found.\n";
    return 1;
  }
  const size_t slash = name.find('/');
  err += "CPD0030: Command " + (slash == std::string::npos ? name : name.substr(slash + 1)) + " in library " +
         (slash == std::string::npos ? std::string("*LIBL") : name.substr(0, slash)) + " not found.\n";
  return 1;
}
