// Arbitrary bytes as the configuration file: every reader, the list loading
// and the name look-up must cope, and the conversions must keep their rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/Loader.h"
#include "config/Words.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "supervision/tclPrcList.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::IniPath;
// A folder that does not exist: every log line takes the console fallback,
// which goes to /dev/null, instead of costing a file open and close.
const char* const LogPath = "C:\\NoLog\\QuarnLoader.log";

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "fuzz_config: %s\n", what);
    abort();
  }
}

void CheckLowered(const std::string& text) {
  std::string lower = ToLowerText(text);
  Check(lower.size() == text.size(), "ToLowerText changed the length");
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    char expected = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    Check(lower[i] == expected, "ToLowerText changed more than A to Z");
  }
}

// Short plain numbers must agree with the C library's conversion.
void CheckDecimal(const std::string& text) {
  int32_t value = DecimalValue(text);
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  size_t digitsFrom = i;
  if (digitsFrom < text.size() && (text[digitsFrom] == '+' || text[digitsFrom] == '-'))
    ++digitsFrom;
  size_t digitsTo = digitsFrom;
  while (digitsTo < text.size() && text[digitsTo] >= '0' && text[digitsTo] <= '9') ++digitsTo;
  if (digitsTo - digitsFrom <= 9) {
    std::string plain = text.substr(i, digitsTo - i);
    long long expected = digitsTo > digitsFrom ? strtoll(plain.c_str(), nullptr, 10) : 0;
    Check(value == expected, "DecimalValue disagrees with strtoll");
  }
}

void CheckValue(const std::string& value) {
  Check(value.size() <= 499, "a value longer than 499 characters");
  Check(value.find('\0') == std::string::npos, "a value holding a NUL");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sim::Reset();
  Log.SetPath(LogPath);
  Ini.SetPath(IniPath);
  if (!freopen("/dev/null", "w", stdout)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  sim::WriteFile(IniPath, bytes);
  Log.SetFileEnabled(true);

  CheckValue(Ini.ReadServiceName());
  Ini.ReadUserInterface();
  Check(Ini.ReadRestartInterval() >= 0, "a negative restart interval");
  for (int32_t n = 0; n < 3; ++n) {
    CheckValue(Ini.ReadAppName(n));
    CheckValue(Ini.ReadProcessName(n));
    CheckValue(Ini.ReadCommandLine(n));
    CheckValue(Ini.ReadStartDir(n));
    Ini.ReadPriority(n);
    Ini.ReadWindow(n);
    Ini.ReadAutoRestart(n);
    Ini.ReadPaused(n);
    Ini.ReadStartPause(n);
    Ini.ReadStopPause(n);
    Ini.ReadNumOfRespChecks(n);
    Ini.ReadPrcFileLogging(n);
  }
  int32_t count = CountSections(Ini);
  Check(count >= 0 && count <= MaxProcesses, "a count outside 0 to 127");
  Check(Log.FileEnabled(), "the file switch left off");

  Check(PrcList.LoadFromIni(), "a load that failed");
  Check(PrcList.Count == count, "a load of another count");
  for (int32_t i = 0; i < PrcList.Count; ++i) {
    const tclPrc& p = PrcList.Records[i];
    Check(!p.Settings.Launch.AppName.empty(), "a loaded record without AppName");
    Check(p.Settings.StartPause <= 0x7FFFFFFFu && p.Settings.StopPause <= 0x7FFFFFFFu,
          "a negative pause kept");
  }
  if (PrcList.Count > 0) {
    const std::string name = PrcList.Records[0].Settings.ProcessName;
    int32_t found = PrcList.FindByName(name);
    Check(name.empty() ? found == -1 : found == 0, "FindByName missed the first section");
  }
  PrcList.Clear();

  // The conversions on the raw bytes and on each line of them.
  CheckLowered(bytes);
  CheckDecimal(bytes);
  std::string word = ToLowerText(bytes.substr(0, 64));
  PriorityClassFromWord(word);
  ShowCommandFromWord(word);
  DirectoryOf(bytes);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    CheckDecimal(bytes.substr(start, end - start));
    start = end + 1;
  }
  return 0;
}
