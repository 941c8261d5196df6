// The simulated platform's GetPrivateProfileStringA on real files, with the
// query format and output of the Windows tool profdump.exe, so that both can
// be run on one corpus and their outputs compared byte for byte.
//
//   profdump_native [--drive-c DIR] QUERYFILE
//
// QUERYFILE is a host path. The ini paths inside it are Windows paths: C:\x
// is DIR/x (default $WINEPREFIX/drive_c), Z:\x is /x. Each file is copied into
// the simulated drive under its Windows path before it is first asked about;
// a file that does not exist stays missing there too.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace {

// Same escaping as profdump.exe.
std::string Escape(const char* p, DWORD n) {
  std::string out;
  for (DWORD i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts;
  std::string::size_type pos = 0;
  for (;;) {
    auto tab = line.find('\t', pos);
    if (tab == std::string::npos) {
      parts.push_back(line.substr(pos));
      return parts;
    }
    parts.push_back(line.substr(pos, tab - pos));
    pos = tab + 1;
  }
}

const char* Arg(const std::string& s) { return s == "<null>" ? nullptr : s.c_str(); }

// Host file of a Windows path; empty when the drive has no mapping.
std::string HostFile(const std::string& windowsPath, const std::string& driveC) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return "";
  std::string rest = windowsPath.substr(2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  if (rest.empty() || rest[0] != '/') rest = "/" + rest;
  char drive = char(windowsPath[0] | 0x20);
  if (drive == 'c') return driveC + rest;
  if (drive == 'z') return rest;
  return "";
}

// Puts the host file into the simulated drive, once per path.
void Mirror(const std::string& windowsPath, const std::string& driveC,
            std::set<std::string>* done) {
  if (!done->insert(windowsPath).second) return;
  std::string host = HostFile(windowsPath, driveC);
  if (host.empty()) return;
  std::ifstream in(host, std::ios::binary);
  if (!in) return;
  std::ostringstream content;
  content << in.rdbuf();
  sim::WriteFile(windowsPath, content.str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string driveC;
  if (const char* prefix = std::getenv("WINEPREFIX")) driveC = std::string(prefix) + "/drive_c";
  int argi = 1;
  if (argi + 1 < argc && std::string(argv[argi]) == "--drive-c") {
    driveC = argv[argi + 1];
    argi += 2;
  }
  // Line ends as the Windows tool's text-mode output writes them.
  if (argi >= argc) {
    std::printf("usage: profdump QUERYFILE\r\n");
    return 1;
  }
  std::ifstream in(argv[argi], std::ios::binary);
  if (!in) {
    std::printf("error=cannot open %s\r\n", argv[argi]);
    return 1;
  }
  sim::Reset();
  std::set<std::string> mirrored;
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> f = Split(line);
    while (f.size() < 4) f.push_back("");
    Mirror(f[0], driveC, &mirrored);
    char buf[500] = {};
    DWORD n = GetPrivateProfileStringA(Arg(f[1]), Arg(f[2]), Arg(f[3]), buf, sizeof buf,
                                       f[0].c_str());
    if (n > sizeof buf) n = sizeof buf;
    std::printf("%s\r\n", Escape(buf, n).c_str());
  }
  std::fflush(stdout);
  return 0;
}
