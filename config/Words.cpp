#include "config/Words.h"

#include "config/Constants.h"
#include "config/tclIni.h"
#include "platform/win.h"

std::string ToLowerText(const std::string& text) {
  std::string lower = text;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return lower;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type i = path.rfind('\\');
  if (i == std::string::npos || i < 2) return "";
  return path.substr(0, i + 1);
}

int32_t DecimalValue(const std::string& text) {
  std::string::size_type i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10u + uint32_t(text[i] - '0');
  if (negative) value = 0u - value;
  return int32_t(value);
}

namespace {
void LogInvalidSetting(const std::string& word) {
  Ini.Error("Error: Invalid Setting = " + word);
}
}  // namespace

uint32_t PriorityClassFromWord(const std::string& word) {
  static const uint32_t classes[6] = {REALTIME_PRIORITY_CLASS,     HIGH_PRIORITY_CLASS,
                                      ABOVE_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
                                      BELOW_NORMAL_PRIORITY_CLASS, IDLE_PRIORITY_CLASS};
  for (int i = 0; i < 6; ++i)
    if (word == PriorityWords[i]) return classes[i];
  return NORMAL_PRIORITY_CLASS;
}

uint32_t ShowCommandFromWord(const std::string& word) {
  static const uint32_t commands[13] = {
      SW_FORCEMINIMIZE, SW_HIDE,          SW_MAXIMIZE,      SW_MINIMIZE,         SW_RESTORE,
      SW_SHOW,          SW_SHOWDEFAULT,   SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED,    SW_SHOWMINNOACTIVE,
      SW_SHOWNA,        SW_SHOWNOACTIVATE, SW_SHOWNORMAL};
  for (int i = 0; i < 13; ++i)
    if (word == WindowWords[i]) return commands[i];
  LogInvalidSetting(word);
  return SW_SHOWNA;
}

tclStopMethod StopMethodFromWord(const std::string& word) {
  for (int i = 0; i < 4; ++i)
    if (word == StopMethodWords[i]) return tclStopMethod(i);
  LogInvalidSetting(word);
  return tclStopMethod::Quit;
}

tclHealthKind HealthKindFromWord(const std::string& word) {
  for (int i = 0; i < 3; ++i)
    if (word == HealthCheckWords[i]) return tclHealthKind(i);
  LogInvalidSetting(word);
  return tclHealthKind::None;
}
