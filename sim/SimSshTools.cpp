#include "SimSshTools.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "FXErrorUtil.h"
#include "SimSshd.h"

namespace {

const char kSshf[] = R"SH(#!/bin/sh
# The product's password wrapper, as the tests need it.
here=$(cd "$(dirname "$0")" && pwd)
state="$here/client"
[ "$1" = "-p" ] || { echo "sshf: expected -p" >&2; exit 2; }
pass=$2
shift 2
[ "$1" = "--" ] || { echo "sshf: expected --" >&2; exit 2; }
shift
i=0
while [ -e "$state/sshf.$i" ]; do i=$((i+1)); done
printf '%s\0' "$pass" "$@" > "$state/sshf.$i"
SSHPASS=$pass PATH="$here/fakebin:$PATH" exec "$@"
)SH";

const char kSsh[] = R"SH(#!/bin/sh
# The client machine's end of the ssh hop.
state="$(cd "$(dirname "$0")/.." && pwd)/client"
i=0
while [ -e "$state/ssh.$i" ]; do i=$((i+1)); done
printf '%s\0' "${SSHPASS-}" "$@" > "$state/ssh.$i"
if [ -e "$state/unreachable" ]; then
  echo "ssh: connect to host port 22: Connection refused" >&2
  exit 255
fi
if ! printf '%s' "${SSHPASS-}" | cmp -s - "$state/password"; then
  echo "Permission denied, please try again." >&2
  exit 255
fi
for last; do :; done
printf '%s' "$last" > "$state/command.$i"
[ -e "$state/hang" ] && sleep 30
# Replies by command: the first rule whose text is in the command answers.
for rule in "$state"/rules/*; do
  [ -e "$rule/pattern" ] || continue
  pattern=$(cat "$rule/pattern")
  case "$last" in
    *"$pattern"*)
      cat "$rule/out"
      cat "$rule/err" >&2
      exit 0;;
  esac
done
[ -e "$state/reply.out" ] && cat "$state/reply.out"
[ -e "$state/reply.err" ] && cat "$state/reply.err" >&2
exit "$(cat "$state/reply.rc" 2>/dev/null || echo 0)"
)SH";

const char kCopy[] = R"SH(#!/bin/sh
# The product's copy tool: -q [--] LOCAL USER@HOST:PATH
here=$(cd "$(dirname "$0")" && pwd)
state="$here/client"
i=0
while [ -e "$state/scp.$i" ]; do i=$((i+1)); done
printf '%s\0' "${KX_PUTTY_PASS-<unset>}" "${SSHPASS-<unset>}" "$@" > "$state/scp.$i"
[ -e "$state/unreachable" ] && { echo "lost connection" >&2; exit 255; }
pass=${SSHPASS-${KX_PUTTY_PASS-}}
printf '%s' "$pass" | cmp -s - "$state/password" || { echo "Permission denied" >&2; exit 255; }
shift
[ "$1" = "--" ] && shift
dest=${2#*:}
mkdir -p "$state/files$(dirname "$dest")" && cp -- "$1" "$state/files$dest"
)SH";

const char kPkgcrc[] = R"SH(#!/bin/sh
# CRC-32 (zlib's) and name of each regular file named.
state="$(cd "$(dirname "$0")" && pwd)/client"
[ -e "$state/pkgcrc32.fail" ] && { echo "pkgcrc32: cannot read" >&2; exit 3; }
end='\n'
[ -e "$state/pkgcrc32.crlf" ] && end='\r\n'
for f in "$@"; do
  [ -f "$f" ] || continue
  crc=$(gzip -c < "$f" | tail -c 8 | od -An -tu4 -N4 | tr -d ' ')
  printf "%s %s$end" "$crc" "$f"
done
exit 0
)SH";

// The real hop's tools. @BIN@ is the SimSshd's wrapper folder.
const char kRealSshf[] = R"SH(#!/bin/sh
# The product's password wrapper: sshf -p PASSWORD -- PROGRAM ARGS runs
# PROGRAM under sshpass with the password in its environment.
here=$(cd "$(dirname "$0")" && pwd)
state="$here/client"
[ "$1" = "-p" ] || { echo "sshf: expected -p" >&2; exit 2; }
pass=$2
shift 2
[ "$1" = "--" ] || { echo "sshf: expected --" >&2; exit 2; }
shift
i=0
while [ -e "$state/sshf.$i" ]; do i=$((i+1)); done
printf '%s\0' "$pass" "$@" > "$state/sshf.$i"
hop="$state/hop.$$"
rm -f "$hop"
SSHPASS=$pass SIM_SSH_STATUS=$hop SIM_SSH_RECORDS=$state PATH="@BIN@:$PATH" sshpass -e "$@"
rc=$?
ssh_rc=$(cat "$hop" 2>/dev/null)
rm -f "$hop"
# ssh never ran or ended with 255: the hop failed, whatever sshpass said.
if [ -z "$ssh_rc" ] || [ "$ssh_rc" = 255 ]; then exit 255; fi
exit $rc
)SH";

const char kRealCopy[] = R"SH(#!/bin/sh
# The product's copy tool: -q [--] LOCAL USER@HOST:PATH with scp's legacy
# protocol. Run alone it takes the password from KX_PUTTY_PASS; under sshf
# the password prompt is already sshpass's.
here=$(cd "$(dirname "$0")" && pwd)
state="$here/client"
i=0
while [ -e "$state/scp.$i" ]; do i=$((i+1)); done
printf '%s\0' "${KX_PUTTY_PASS-<unset>}" "${SSHPASS-<unset>}" "$@" > "$state/scp.$i"
own=
if [ -z "${SIM_SSH_STATUS-}" ]; then
  SIM_SSH_STATUS="$state/copy.$$"
  own=1
fi
rm -f "$SIM_SSH_STATUS"
SIM_SSH_RECORDS=$state
PATH="@BIN@:$PATH"
export SIM_SSH_STATUS SIM_SSH_RECORDS PATH
if [ -n "${KX_PUTTY_PASS+set}" ]; then
  SSHPASS=$KX_PUTTY_PASS
  export SSHPASS
  unset KX_PUTTY_PASS
  sshpass -e scp -O "$@"
else
  scp -O "$@"
fi
rc=$?
ssh_rc=$(cat "$SIM_SSH_STATUS" 2>/dev/null)
[ -n "$own" ] && rm -f "$SIM_SSH_STATUS"
if [ -z "$ssh_rc" ] || [ "$ssh_rc" = 255 ]; then exit 255; fi
exit $rc
)SH";

bool MakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The host-built tool where there is one.
bool InstallPkgcrc(const std::string& path) {
  const std::string built = SimSshd::HostToolsFolder() + "/pkgcrc32";
  if (!SimSshd::HostToolsFolder().empty() && ::access(built.c_str(), X_OK) == 0)
    return SimSshTools::WriteFile(path, ReadAll(built), 0755);
  return SimSshTools::WriteFile(path, kPkgcrc, 0755);
}

}  // namespace

void SimSshTools::RemoveTree(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    ::chmod(path.c_str(), 0755);
    if (DIR* dir = ::opendir(path.c_str())) {
      std::vector<std::string> names;
      while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
      for (const std::string& name : names) RemoveTree(path + "/" + name);
    }
    ::rmdir(path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

SimSshTools::SimSshTools() {}

SimSshTools::~SimSshTools() {
  if (!m_sRoot.empty()) RemoveTree(m_sRoot);
}

bool SimSshTools::WriteFile(const std::string& path, const std::string& content, int mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << content;
    if (!out) return false;
  }
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

CWqError SimSshTools::Install() {
  if (!m_sRoot.empty()) RemoveTree(m_sRoot);
  m_sRoot.clear();
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/sim-ssh-XXXXXX";
  if (!mkdtemp(&pattern[0])) return FXErrorUtil::ErrorErrNo(FX_HERE, errno, "Cannot make a scratch folder");
  m_sRoot = pattern;
  const std::string base = BaseHome();
  bool ok = MakeDir(base) && MakeDir(base + "/fakebin") && MakeDir(base + "/client") &&
            MakeDir(base + "/client/files") && MakeDir(HomeDirectory()) &&
            MakeDir(HomeDirectory() + "/ProxyPackage") && MakeDir(PackageFolder("OpenVMS")) &&
            MakeDir(PackageFolder("iSeries"));
  ok = ok && WriteFile(base + "/sshf", kSshf, 0755) && WriteFile(base + "/fakebin/ssh", kSsh, 0755) &&
       WriteFile(base + "/kxpscp.exe", kCopy, 0755) && InstallPkgcrc(base + "/pkgcrc32") &&
       WriteFile(base + "/client/password", "");
  if (!ok) return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot write the tools under [%s]", m_sRoot.c_str());
  return CWqError::Success();
}

CWqError SimSshTools::InstallThrough(const SimSshd& sshd) {
  CWqError result = Install();
  if (result.IsError()) return result.Push(FX_HERE);
  const std::string base = BaseHome();
  std::string sshf = kRealSshf, copy = kRealCopy;
  for (std::string* text : {&sshf, &copy}) {
    const size_t at = text->find("@BIN@");
    text->replace(at, 5, sshd.BinFolder());
  }
  RemoveTree(base + "/fakebin");
  if (!WriteFile(base + "/sshf", sshf, 0755) || !WriteFile(base + "/kxpscp.exe", copy, 0755))
    return FXErrorUtil::ErrorErrNo(FX_HERE, EIO, "Cannot write the tools under [%s]", m_sRoot.c_str());
  return CWqError::Success();
}

std::string SimSshTools::PackageFolder(const std::string& platform) const {
  return HomeDirectory() + "/ProxyPackage/" + platform;
}

void SimSshTools::Flag(const std::string& name, bool on) const {
  const std::string path = BaseHome() + "/client/" + name;
  if (on)
    WriteFile(path, "");
  else
    ::unlink(path.c_str());
}

void SimSshTools::SetPassword(const std::string& password) { WriteFile(BaseHome() + "/client/password", password); }
void SimSshTools::SetUnreachable(bool unreachable) { Flag("unreachable", unreachable); }
void SimSshTools::SetPkgcrcFailure(bool fail) { Flag("pkgcrc32.fail", fail); }
void SimSshTools::SetPkgcrcCrlf(bool crlf) { Flag("pkgcrc32.crlf", crlf); }
void SimSshTools::SetHang(bool hang) { Flag("hang", hang); }

void SimSshTools::AddCommandReply(const std::string& pattern, const std::string& out, const std::string& err) {
  const std::string rules = BaseHome() + "/client/rules";
  MakeDir(rules);
  int index = 0;
  while (::access((rules + "/" + std::to_string(100000 + index)).c_str(), F_OK) == 0) ++index;
  const std::string rule = rules + "/" + std::to_string(100000 + index);
  MakeDir(rule);
  WriteFile(rule + "/pattern", pattern);
  WriteFile(rule + "/out", out);
  WriteFile(rule + "/err", err);
}

void SimSshTools::ClearCommandReplies() { RemoveTree(BaseHome() + "/client/rules"); }

void SimSshTools::SetReply(const std::string& out, const std::string& err, int status) {
  const std::string state = BaseHome() + "/client/";
  WriteFile(state + "reply.out", out);
  WriteFile(state + "reply.err", err);
  WriteFile(state + "reply.rc", std::to_string(status));
}

std::vector<std::vector<std::string>> SimSshTools::Records(const std::string& prefix) const {
  std::vector<std::vector<std::string>> calls;
  for (int i = 0;; ++i) {
    const std::string path = BaseHome() + "/client/" + prefix + "." + std::to_string(i);
    if (::access(path.c_str(), F_OK) != 0) break;
    const std::string text = ReadAll(path);
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', start)) {
      fields.push_back(text.substr(start, at - start));
      start = at + 1;
    }
    calls.push_back(fields);
  }
  return calls;
}

std::vector<std::vector<std::string>> SimSshTools::SshfCalls() const { return Records("sshf"); }
std::vector<std::vector<std::string>> SimSshTools::SshCalls() const { return Records("ssh"); }
std::vector<std::vector<std::string>> SimSshTools::CopyCalls() const { return Records("scp"); }

std::vector<std::string> SimSshTools::Commands() const {
  std::vector<std::string> commands;
  const size_t calls = SshCalls().size();
  for (size_t i = 0; i < calls; ++i) {
    const std::string path = BaseHome() + "/client/command." + std::to_string(i);
    commands.push_back(::access(path.c_str(), F_OK) == 0 ? ReadAll(path) : std::string());
  }
  return commands;
}

std::string SimSshTools::CopiedFile(const std::string& remotePath) const {
  return ReadAll(BaseHome() + "/client/files" + remotePath);
}
