#include "SimScanContent.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

const char kDirChangeHeader[] = "# SCN.EXE directory-change file v1\n";
const char kFailuresHeader[] = "# SCN.EXE scan failures v1\n";

char KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return 'D';
  if (S_ISREG(mode)) return 'F';
  if (S_ISLNK(mode)) return 'L';
  return 'O';
}

class Scanner {
 public:
  Scanner(const std::string& root, SimScanResult& result) : m_root(root), m_result(result) {
    while (m_root.size() > 1 && m_root.back() == '/') m_root.pop_back();
  }

  void Entry(const std::string& clientPath) {
    if (clientPath.empty() || clientPath[0] != '/') return Fail(clientPath, "not an absolute path");
    std::string path = clientPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      if (path.compare(start, end - start, "..") == 0) return Fail(clientPath, "outside the client's content");
      start = end + 1;
    }
    Walk(path, LocalPath(path));
  }

 private:
  std::string LocalPath(const std::string& clientPath) const {
    return clientPath == "/" ? m_root : m_root + clientPath;
  }

  void Fail(const std::string& clientPath, const std::string& reason) {
    m_result.failures.push_back(clientPath + ": " + reason);
    m_result.failuresFile += SimScanEscape(clientPath) + "\t" + SimScanEscape(reason) + "\n";
  }

  void Walk(const std::string& clientPath, const std::string& localPath) {
    struct stat info;
    if (::lstat(localPath.c_str(), &info) != 0) return Fail(clientPath, std::strerror(errno));
    const char kind = KindOf(info.st_mode);
    const unsigned long long size = kind == 'D' ? 0ull : static_cast<unsigned long long>(info.st_size);
    m_result.dirChange += std::string(1, kind) + "\t" + std::to_string(size) + "\t" +
                          std::to_string(static_cast<long long>(info.st_mtime)) + "\t" + SimScanEscape(clientPath) +
                          "\n";
    ++m_result.items;
    if (kind != 'D') return;

    DIR* folder = ::opendir(localPath.c_str());
    if (!folder) return Fail(clientPath, std::strerror(errno));
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    const std::string prefix = clientPath == "/" ? "/" : clientPath + "/";
    for (const std::string& name : names) Walk(prefix + name, localPath + "/" + name);
  }

  std::string m_root;
  SimScanResult& m_result;
};

}  // namespace

std::string SimScanEscape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

SimScanResult SimScanContent(const std::string& root, const std::list<std::string>& content) {
  SimScanResult result;
  result.dirChange = kDirChangeHeader;
  result.failuresFile = kFailuresHeader;
  Scanner scanner(root, result);
  for (const std::string& entry : content) scanner.Entry(entry);
  return result;
}

std::string SimScanUnescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}
