// Turning the program sections of the configuration file into the table.
#include "config/Constants.h"
#include "config/Environment.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "platform/win.h"
#include "supervision/tclPrcList.h"

namespace {

// A negative pause would stand for a wait of weeks.
uint32_t Duration(int32_t milliseconds) { return milliseconds < 0 ? 0u : uint32_t(milliseconds); }

bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Unquoted, "C:\Program Files\Srv\srv.exe" would let Windows run
// C:\Program.exe first. Only a path that is one existing file gets quotes, so
// settings that put arguments into AppName keep working.
std::string ProgramForCommandLine(const std::string& appName) {
  bool quoted = !appName.empty() && appName.front() == '"';
  if (!quoted && appName.find(' ') != std::string::npos && IsExistingFile(appName))
    return "\"" + appName + "\"";
  return appName;
}

}  // namespace

int32_t tclIni::CountProcesses() {
  int32_t count = 0;
  {
    FileSwitch quiet(Log, false);
    while (count < MaxProcesses && !ReadAppName(count).empty()) ++count;
  }
  if (count == MaxProcesses) Log.FileLine("The maximum number of processes has been reached.", true);
  return count;
}

bool tclPrcList::LoadFromIni() {
  int32_t count = Ini.CountProcesses();
  RestartInterval = Ini.ReadRestartInterval();
  Log.FileLine("Loading process values from ini file ...", true);
  if (count > 0) {
    if (!Allocate(count)) {
      Log.FileLine("Could not allocate enough memory.", true);
      return false;
    }
    if (!LoadProcessValues()) {
      Log.FileLine("The process list could not be successfully loaded.", true);
      return false;
    }
  } else {
    Clear();  // no sections: the table is empty, whatever an earlier load left
  }
  Log.FileLine("", true);
  Log.FileLine("Load completed.", true);
  return true;
}

bool tclPrcList::LoadProcessValues() {
  tclStopMethod stopMethod = Ini.ReadOptionalStopMethod(SettingsSection, tclStopMethod::Quit);
  std::vector<std::string> commonEnvironment = ReadEnvironmentEntries(SettingsSection);
  for (int32_t i = 0; i < Count; ++i) {
    Log.FileLine("", true);
    Log.FileLine("[" + tclIni::SectionName(i) + "]", true);
    ReadRecord(i, stopMethod, commonEnvironment, Records[i]);
  }
  return true;
}

void tclPrcList::ReadRecord(int32_t i, tclStopMethod fallback,
                            const std::vector<std::string>& commonEnvironment, tclPrc& record) {
  record.AppName = Ini.ReadAppName(i);
  record.ProcessName = Ini.ReadProcessName(i);
  record.CommandLine = Ini.ReadCommandLine(i);
  record.StartDir = Ini.ReadStartDir(i);
  record.FilePriorityClass = Ini.ReadPriority(i);
  record.PriorityClass = record.FilePriorityClass;
  record.ShowCommand = int32_t(Ini.ReadWindow(i));
  record.AutoRestart = Ini.ReadAutoRestart(i);
  record.FilePaused = Ini.ReadPaused(i);
  record.Paused = record.FilePaused;
  record.StartPause = Duration(Ini.ReadStartPause(i));
  record.StopPause = Duration(Ini.ReadStopPause(i));
  record.NumOfRespChecks = Ini.ReadNumOfRespChecks(i);
  record.PrcFileLogging = Ini.ReadPrcFileLogging(i);
  std::string section = tclIni::SectionName(i);
  record.MinUptime = Duration(Ini.ReadOptionalInteger(section, KeyMinUptime, 0));
  record.MaxRestartDelay = Duration(Ini.ReadOptionalInteger(section, KeyMaxRestartDelay, 60000));
  record.StopProcessTree = Ini.ReadOptionalYesNo(section, KeyStopProcessTree, false);
  record.StopMethod = Ini.ReadOptionalStopMethod(section, fallback);
  record.Health = Ini.ReadOptionalHealthCheck(section);
  record.Environment =
      ProgramEnvironment(MergeEnvironment(commonEnvironment, ReadEnvironmentEntries(section)));
  record.FullCommandLine = ProgramForCommandLine(record.AppName) + " " + record.CommandLine;
}

int32_t tclPrcList::FindByName(const std::string& name) {
  if (name.empty()) return -1;
  int32_t count = Ini.CountProcesses();
  FileSwitch quiet(Log, false);
  for (int32_t i = 0; i < count; ++i)
    if (Ini.ReadProcessName(i) == name) return i;
  return -1;
}
