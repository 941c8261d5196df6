// The profile-file reader over the simulated drives. Each rule of the file
// format sits in one small function; every rule that is not obvious says how
// the real reader behaves, as observed by running it on a corpus of files.
#include <cstdint>
#include <cstring>

#include "platform/sim/sim_internal.h"

namespace {

// --- Text of the file ---

// Windows-1252, the ANSI code page the real reader converts through: code
// points of the bytes 0x80 to 0x9F. The five bytes the page leaves undefined
// stand for the code points of the same number, both ways.
const char16_t HighAnsi[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A code point as an ANSI byte; one the page cannot show becomes '?'. (The
// real reader gives a look-alike for some of them, "A" for U+0100; text
// outside the page is not modelled further.)
char AnsiByte(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) return char(codePoint);
  for (int i = 0; i < 32; ++i)
    if (HighAnsi[i] == codePoint) return char(0x80 + i);
  return '?';
}

// UTF-16 after its byte-order mark. An odd last byte is a code unit of its
// own, the byte's code point, in either byte order, as the real reader takes
// it.
std::string FromUtf16(const std::string& bytes, bool bigEndian) {
  std::string text;
  for (size_t i = 2; i < bytes.size(); i += 2) {
    unsigned first = (unsigned char)bytes[i];
    if (i + 1 == bytes.size()) {
      text += AnsiByte(first);
      break;
    }
    unsigned second = (unsigned char)bytes[i + 1];
    text += AnsiByte(bigEndian ? (first << 8 | second) : (second << 8 | first));
  }
  return text;
}

const uint32_t NoCharacter = 0xFFFFFFFF;

// Continuation bytes that a UTF-8 lead byte announces; 0 also for bytes
// that lead nothing (continuation bytes, C0, C1, F5 to FF).
size_t Continuations(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return 0;
}

// One character of UTF-8 at *at, read as the real reader reads it: a
// sequence that would run past the end of the file swallows the rest; else
// its bytes are taken one by one, and a byte that is no continuation stops
// it unread, as does one that would pass U+10FFFF, while one that makes the
// form overlong or a surrogate stops it after being read. A stopped sequence
// is NoCharacter.
uint32_t NextUtf8(const std::string& bytes, size_t* at) {
  unsigned char lead = bytes[(*at)++];
  if (lead < 0x80) return lead;
  size_t more = Continuations(lead);
  if (more == 0) return NoCharacter;
  if (*at + more > bytes.size()) {
    *at = bytes.size();
    return NoCharacter;
  }
  uint32_t cp = lead & (0x3F >> more);
  for (size_t left = more; left-- > 0;) {
    unsigned char next = bytes[*at];
    if ((next & 0xC0) != 0x80) return NoCharacter;
    cp = cp << 6 | (next & 0x3F);
    if (left == 1 && cp >= (0x110000 >> 6)) return NoCharacter;
    ++*at;
    bool overlong = (left == 2 && cp < 0x10) || (left == 1 && cp < 0x20) ||
                    (left == 0 && cp < 0x80);
    bool surrogate = left == 1 && cp >= (0xD800 >> 6) && cp <= (0xDFFF >> 6);
    if (overlong || surrogate) return NoCharacter;
  }
  return cp;
}

// UTF-8 after its byte-order mark. What cannot be read gives one '?', and a
// code point beyond the 16-bit range two (one per UTF-16 unit).
std::string FromUtf8(const std::string& bytes) {
  std::string text;
  size_t at = 3;
  while (at < bytes.size()) {
    uint32_t cp = NextUtf8(bytes, &at);
    text += cp == NoCharacter ? std::string("?")
            : cp > 0xFFFF     ? std::string("??")
                              : std::string(1, AnsiByte(cp));
  }
  return text;
}

bool StartsWith(const std::string& bytes, const char* mark) {
  return bytes.compare(0, std::strlen(mark), mark) == 0;
}

// The file as ANSI text. Only a byte-order mark makes it Unicode; without
// one even UTF-16 text is read byte by byte, as the real reader does.
std::string AnsiText(const std::string& bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return FromUtf8(bytes);
  if (StartsWith(bytes, "\xFF\xFE")) return FromUtf16(bytes, false);
  if (StartsWith(bytes, "\xFE\xFF")) return FromUtf16(bytes, true);
  return bytes;
}

// --- Lines, names and values ---

// Blanks are tab, LF, VT, FF, CR, space and ^Z (the old end-of-file mark);
// the real reader trims no other byte, the no-break space included.
bool IsBlank(char c) { return (c >= '\t' && c <= '\r') || c == ' ' || c == '\x1a'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A name or value ends at its first NUL; this comes after trimming, so
// blanks before the NUL stay, as with the real reader.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

// Every CR and every LF ends a line, also a lone CR in a file whose other
// lines end in LF (CR LF leaves an empty line between, which is skipped).
// A NUL does not end a line; the last line needs no line end.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Names match with only A to Z folded: the real reader treats other letters
// (bytes from 0x80) as distinct in each case.
char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

// "[name]": a trimmed line that starts with '['; the name runs to the LAST
// ']' on the line ("[a]b]" is "a]b", "[x] text" is "x") and is trimmed. A
// line without ']' is no header but an entry.
bool SectionHeader(const std::string& line, std::string* name) {
  if (line.empty() || line[0] != '[') return false;
  size_t close = line.rfind(']');
  if (close == 0 || close == std::string::npos) return false;
  *name = UpToNul(Trim(line.substr(1, close - 1)));
  return true;
}

// One entry of a section: every other non-blank line, comment lines
// included (";k=v" is the key ";k"), since the real reader knows no
// comments. The name ends at the first '='; a line without '=' is a name
// without a value, and "=v" is a value with an empty name.
struct Entry {
  std::string name;
  bool hasValue = false;
  std::string value;
};

Entry EntryOf(const std::string& line) {
  Entry entry;
  size_t eq = line.find('=');
  entry.name = UpToNul(Trim(line.substr(0, eq)));
  if (eq != std::string::npos) {
    entry.hasValue = true;
    entry.value = UpToNul(Trim(line.substr(eq + 1)));
  }
  return entry;
}

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

// Entries before the first header belong to a section with an empty name.
// It is there even when they are not, so a "[]" section is never searched.
std::vector<Section> Parse(const std::string& text) {
  std::vector<Section> sections(1);
  for (const std::string& raw : Lines(text)) {
    std::string line = Trim(raw);
    if (line.empty()) continue;
    std::string name;
    if (SectionHeader(line, &name))
      sections.push_back(Section{name, {}});
    else
      sections.back().entries.push_back(EntryOf(line));
  }
  return sections;
}

// Only the first section of a name is searched. The section and key asked
// for are trimmed first.
const Section* FindSection(const std::vector<Section>& sections, const std::string& section) {
  std::string wanted = Trim(section);
  for (const Section& s : sections)
    if (SameName(s.name, wanted)) return &s;
  return nullptr;
}

// The first entry of the name decides, even one without '=' (it gives the
// default).
const Entry* Find(const std::vector<Section>& sections, const std::string& section,
                  const std::string& key) {
  const Section* s = FindSection(sections, section);
  std::string wanted = Trim(key);
  if (s != nullptr)
    for (const Entry& e : s->entries)
      if (SameName(e.name, wanted)) return &e;
  return nullptr;
}

// The names of a section, each ended by a NUL and the list by one more; a
// comment's name and a blank name without '=' are left out, but "=v" gives
// an empty name. A list cut short by the buffer returns size - 2.
DWORD CopyNames(const Section* s, LPSTR buffer, DWORD size) {
  std::string list;
  if (s != nullptr)
    for (const Entry& e : s->entries)
      if ((!e.name.empty() || e.hasValue) && (e.name.empty() || e.name[0] != ';'))
        list += e.name + '\0';
  if (size < 2) return 0;
  DWORD n = list.size() + 1 < size ? DWORD(list.size()) : size - 2;
  std::memcpy(buffer, list.data(), n);
  buffer[n] = '\0';
  buffer[n + 1] = '\0';
  return n;
}

// --- What is returned ---

bool IsQuoted(const std::string& value) {
  return value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
}

// Trailing spaces of the default are dropped, but never its first
// character: a default of blanks only gives one blank, as the real reader.
std::string DefaultText(LPCSTR defaultValue) {
  std::string text = defaultValue != nullptr ? defaultValue : "";
  while (text.size() > 1 && text.back() == ' ') text.pop_back();
  return text;
}

// Cut to the buffer, which keeps room for the terminator. A value (or
// default) of two or more characters in matching double or single quotes
// loses them; as in the real reader, the opening quote goes first, then the
// rest is cut to the buffer, then the last character copied is dropped if
// the rest fitted the buffer with its terminator's place. So a value whose
// text between the quotes is size - 1 characters long loses its last
// character of text, not the quote.
DWORD CopyOut(const std::string& value, LPSTR buffer, DWORD size) {
  bool quoted = IsQuoted(value);
  std::string text = quoted ? value.substr(1) : value;
  DWORD n = text.size() < size ? DWORD(text.size()) : size - 1;
  if (quoted && text.size() <= size && n > 0) --n;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

}  // namespace

// A null section (the list of sections) is not used by the system and gives
// the default here; a null key gives the section's names.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
  if (buffer == nullptr || size == 0) return 0;
  if (section != nullptr && key == nullptr) {
    std::vector<Section> sections;
    if (fileName != nullptr && sim::FileExists(fileName))
      sections = Parse(AnsiText(sim::ReadFile(fileName)));
    return CopyNames(FindSection(sections, section), buffer, size);
  }
  std::string value = DefaultText(defaultValue);
  if (section != nullptr && key != nullptr && fileName != nullptr && sim::FileExists(fileName)) {
    const std::vector<Section> sections = Parse(AnsiText(sim::ReadFile(fileName)));
    const Entry* entry = Find(sections, section, key);
    if (entry != nullptr && entry->hasValue) value = entry->value;
  }
  return CopyOut(value, buffer, size);
}
