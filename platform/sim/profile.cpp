// The profile-file reader over the simulated drives. Each rule of the file
// format sits in one small function so that it can be matched to the real
// reader's behaviour rule by rule.
#include <cstring>

#include "platform/sim/sim_internal.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Names match without regard to ASCII letter case.
bool SameName(const std::string& a, const std::string& b) {
  return sim::detail::Lower(a) == sim::detail::Lower(b);
}

// Splits the file into lines: LF or CR LF ends a line (the CR is trimmed as a
// blank), a missing final line end is fine, and a NUL ends the line's text.
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool IsComment(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == ';'; }

// "[name]": the text up to the first ']'; a line without ']' is no header.
bool SectionHeader(const std::string& trimmed, std::string* name) {
  if (trimmed.empty() || trimmed[0] != '[') return false;
  size_t close = trimmed.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(trimmed.substr(1, close - 1));
  return true;
}

// "key=value" at the first '='; lines without one are ignored.
bool KeyValue(const std::string& trimmed, std::string* key, std::string* value) {
  size_t eq = trimmed.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(trimmed.substr(0, eq));
  *value = Trim(trimmed.substr(eq + 1));
  return true;
}

// A value wrapped in a matching pair of double or single quotes loses them.
std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

// Only the first section of a name is searched; within it the first key wins.
// Lines before any section header belong to no section.
bool FindValue(const std::string& bytes, const std::string& section, const std::string& key,
               std::string* value) {
  bool inSection = false;
  bool sectionSeen = false;
  for (const std::string& raw : Lines(bytes)) {
    std::string line = Trim(raw);
    if (line.empty() || IsComment(line)) continue;
    std::string name;
    if (SectionHeader(line, &name)) {
      if (inSection) return false;
      inSection = !sectionSeen && SameName(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    std::string k, v;
    if (KeyValue(line, &k, &v) && SameName(k, key)) {
      *value = Unquoted(v);
      return true;
    }
  }
  return false;
}

// Trailing blanks of the default are dropped, as the real reader does.
std::string DefaultText(LPCSTR defaultValue) {
  std::string text = defaultValue != nullptr ? defaultValue : "";
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
  DWORD n = text.size() < size ? DWORD(text.size()) : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
  if (buffer == nullptr || size == 0) return 0;
  std::string value = DefaultText(defaultValue);
  if (section != nullptr && key != nullptr && fileName != nullptr) {
    std::string found;
    if (FindValue(sim::ReadFile(fileName), section, key, &found)) value = found;
  }
  return CopyOut(value, buffer, size);
}
