// The product's package check tool: zlib's CRC-32 and the name of each
// regular file named on the command line, one "CRC NAME" line each (other
// names are passed over). For the tests, files next to the installed tool
// switch on faults: client/pkgcrc32.fail makes it fail, client/pkgcrc32.crlf
// ends its lines with CR LF.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::string StateFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return std::string();
  std::string self(path, static_cast<size_t>(n));
  return self.substr(0, self.rfind('/')) + "/client/";
}

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

int main(int argc, char** argv) {
  const std::string state = StateFolder();
  if (!state.empty() && Exists(state + "pkgcrc32.fail")) {
    std::fprintf(stderr, "pkgcrc32: cannot read\n");
    return 3;
  }
  const char* end = !state.empty() && Exists(state + "pkgcrc32.crlf") ? "\r\n" : "\n";
  for (int i = 1; i < argc; ++i) {
    struct stat st;
    if (::stat(argv[i], &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) continue;
    uLong crc = crc32(0L, Z_NULL, 0);
    char buffer[65536];
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0)
      crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer), static_cast<uInt>(in.gcount()));
    std::printf("%lu %s%s", static_cast<unsigned long>(crc), argv[i], end);
  }
  return 0;
}
