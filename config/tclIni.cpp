#include "config/tclIni.h"

#include "config/Constants.h"
#include "config/Words.h"
#include "log/tclLog.h"
#include "platform/win.h"

tclIni::tclIni(const std::string& path) : Path(path) {}

void tclIni::SetPath(const std::string& path) { Path = path; }

void tclIni::Error(const std::string& text) { Log.FileLine(LinePrefix + text, true); }

namespace {
// Room for the names of a section with every key and a long environment.
const DWORD KeyListSize = 32768;
}  // namespace

void tclIni::ListKeys(const std::string& section) {
  ForgetKeys();
  std::vector<char> buffer(KeyListSize, '\0');
  DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), KeyListSize,
                                     Path.c_str());
  if (n + 2 >= KeyListSize) return;   // cut short: every key is looked up
  // Walked to its length, not to the first empty name: a line "=v" lists one.
  for (DWORD at = 0; at < n;) {
    std::string name(&buffer[at]);
    at += DWORD(name.size()) + 1;
    if (!name.empty()) ListedKeys.push_back(ToLowerText(name));
  }
  ListedSection = section;
}

void tclIni::ForgetKeys() {
  ListedSection.clear();
  ListedKeys.clear();
}

bool tclIni::IsListedAbsent(const std::string& section, const std::string& key) const {
  if (ListedSection.empty() || section != ListedSection) return false;
  std::string wanted = ToLowerText(key);
  for (const std::string& name : ListedKeys)
    if (name == wanted) return false;
  return true;
}

std::string tclIni::ReadValue(const std::string& section, const std::string& key,
                              const std::string& defaultValue) {
  std::string value = defaultValue;   // what the reader gives for an absent key
  if (!IsListedAbsent(section, key)) {
    char buffer[SettingsBufferSize];
    buffer[0] = '\0';
    GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                             SettingsBufferSize, Path.c_str());
    buffer[SettingsBufferSize - 1] = '\0';
    value = buffer;
  }
  if (Echo) Log.FileLine("   " + key + " = " + value, true);
  return value.empty() ? defaultValue : value;
}

std::string tclIni::ReadWord(const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
  return ToLowerText(ReadValue(section, key, defaultValue));
}

int32_t tclIni::ReadInteger(const std::string& section, const std::string& key,
                            int32_t defaultValue) {
  return DecimalValue(ReadValue(section, key, std::to_string(defaultValue)));
}

bool tclIni::ReadYesNo(const std::string& section, const std::string& key, bool defaultValue) {
  return ReadWord(section, key, defaultValue ? "yes" : "no") == "yes";
}

// An empty value is a present key: the reader returns "" for it, never the
// default, so a default no file can hold tells the two apart.
bool tclIni::HasKey(const std::string& section, const std::string& key) {
  if (IsListedAbsent(section, key)) return false;
  const char absent[] = "\x01" "absent" "\x01";
  char buffer[sizeof absent + 1];
  buffer[0] = '\0';
  GetPrivateProfileStringA(section.c_str(), key.c_str(), absent, buffer, sizeof buffer,
                           Path.c_str());
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer) != absent;
}

int32_t tclIni::ReadOptionalInteger(const std::string& section, const std::string& key,
                                    int32_t defaultValue) {
  return HasKey(section, key) ? ReadInteger(section, key, defaultValue) : defaultValue;
}

bool tclIni::ReadOptionalYesNo(const std::string& section, const std::string& key,
                               bool defaultValue) {
  return HasKey(section, key) ? ReadYesNo(section, key, defaultValue) : defaultValue;
}

tclStopMethod tclIni::ReadOptionalStopMethod(const std::string& section,
                                             tclStopMethod fallback) {
  if (!HasKey(section, KeyStopMethod)) return fallback;
  return StopMethodFromWord(ReadWord(section, KeyStopMethod, StopMethodWords[int(fallback)]));
}

std::string tclIni::SectionName(int32_t n) { return ProcessSectionPrefix + std::to_string(n); }

std::string tclIni::ReadServiceName() {
  return ReadValue(SettingsSection, KeyServiceName, ProductName);
}

bool tclIni::ReadUserInterface() {
  FileSwitch quiet(Log, false);
  return ReadYesNo(SettingsSection, KeyUserInterface, true);
}

int32_t tclIni::ReadRestartInterval() {
  int32_t interval = ReadInteger(SettingsSection, KeyRestartInterval, 1000);
  return interval < 0 ? 0 : interval;
}

std::string tclIni::ReadAppName(int32_t n) { return ReadValue(SectionName(n), KeyAppName, ""); }

std::string tclIni::ReadProcessName(int32_t n) {
  return ReadValue(SectionName(n), KeyProcessName, "");
}

std::string tclIni::ReadCommandLine(int32_t n) {
  return ReadValue(SectionName(n), KeyCommandLine, "");
}

std::string tclIni::ReadStartDir(int32_t n) {
  std::string dir = ReadValue(SectionName(n), KeyStartDir, "");
  if (dir.empty()) {
    FileSwitch quiet(Log, false);
    dir = DirectoryOf(ReadAppName(n));
  }
  return dir;
}

uint32_t tclIni::ReadPriority(int32_t n) {
  return PriorityClassFromWord(ReadWord(SectionName(n), KeyPriority, DefaultPriorityWord));
}

uint32_t tclIni::ReadWindow(int32_t n) {
  return ShowCommandFromWord(ReadWord(SectionName(n), KeyWindow, DefaultWindowWord));
}

bool tclIni::ReadAutoRestart(int32_t n, bool* onFailureOnly) {
  std::string word = ReadWord(SectionName(n), KeyAutoRestart, "yes");
  if (onFailureOnly != nullptr) *onFailureOnly = word == OnFailureWord;
  return word == "yes" || word == OnFailureWord;
}

bool tclIni::ReadPaused(int32_t n) { return ReadYesNo(SectionName(n), KeyPaused, false); }

int32_t tclIni::ReadStartPause(int32_t n) {
  return ReadInteger(SectionName(n), KeyStartPause, 1000);
}

int32_t tclIni::ReadStopPause(int32_t n) { return ReadInteger(SectionName(n), KeyStopPause, 1000); }

int32_t tclIni::ReadNumOfRespChecks(int32_t n) {
  return ReadInteger(SectionName(n), KeyNumOfRespChecks, 0);
}

bool tclIni::ReadPrcFileLogging(int32_t n) {
  return ReadYesNo(SectionName(n), KeyPrcFileLogging, true);
}

int32_t tclIni::ReadLogMaxSize() {
  int32_t kib = ReadOptionalInteger(SettingsSection, KeyLogMaxSize, 0);
  return kib < 0 ? 0 : kib;
}

int32_t tclIni::ReadLogBackups() {
  int32_t backups = ReadOptionalInteger(SettingsSection, KeyLogBackups, 1);
  return backups < 1 ? 1 : backups > 9 ? 9 : backups;
}
