// Lines are cut where the program ended them; only a runaway line is cut
// elsewhere, so that one program cannot make the service hold its whole
// output in memory.
#include "supervision/OutputLines.h"

#include <cstring>

void tclLineAssembler::Take(const char* data, size_t size, std::vector<std::string>& lines) {
  const char* end = data + size;
  while (data < end) {
    const char* feed = static_cast<const char*>(std::memchr(data, '\n', size_t(end - data)));
    const char* stop = feed != nullptr ? feed + 1 : end;
    Partial.append(data, stop);
    data = stop;
    CutLong(feed != nullptr, lines);
    if (feed == nullptr) continue;
    lines.push_back(std::move(Partial));
    Partial.clear();
  }
}

// A CR at the end of an unended piece may be the first half of a CR LF.
void tclLineAssembler::CutLong(bool ended, std::vector<std::string>& lines) {
  size_t tail = ended ? LineEndOf(Partial).size() : (Partial.back() == '\r' ? 1 : 0);
  size_t taken = 0;
  while (Partial.size() - taken - tail > MaxLine) {
    lines.push_back(Partial.substr(taken, MaxLine) + "\r\n");
    taken += MaxLine;
  }
  if (taken > 0) Partial.erase(0, taken);
}

void tclLineAssembler::Finish(std::vector<std::string>& lines) {
  if (Partial.empty()) return;
  Partial += Partial.back() == '\r' ? "\n" : "\r\n";
  lines.push_back(std::move(Partial));
  Partial.clear();
}

std::string LineEndOf(const std::string& line) {
  if (line.empty() || line.back() != '\n') return "";
  return line.size() >= 2 && line[line.size() - 2] == '\r' ? "\r\n" : "\n";
}

// Only the last name's dot counts: a folder's dot is no extension.
std::string BackupName(const std::string& path, uint32_t k) {
  size_t name = path.find_last_of("\\/");
  name = name == std::string::npos ? 0 : name + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name) dot = path.size();
  return path.substr(0, dot) + "." + std::to_string(k) + path.substr(dot);
}
