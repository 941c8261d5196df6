#include "config/Loader.h"

#include "config/Constants.h"
#include "config/Environment.h"
#include "config/OutputPaths.h"
#include "config/Words.h"
#include "log/tclLog.h"
#include "platform/win.h"

namespace {

const int32_t HighestPort = 65535;

// One program section being read: the keys' rows fill Prc in turn.
struct tclSectionRead {
  tclIni& Ini;
  int32_t Number;
  std::string Section;
  tclStopMethod Fallback;
  const std::string& CommonFailureCommand;   // the settings' OnFailure
  tclPrcSettings Prc;
  int32_t Port = 0;   // checked once the kind is known
};

// A key of the failure policy that the section has: restarts then log the
// exit code.
bool HasFailureKey(tclSectionRead& r, const std::string& key) {
  bool has = r.Ini.HasKey(r.Section, key);
  if (has) r.Prc.Failure.Named = true;
  return has;
}

uint32_t ReadFailureNumber(tclSectionRead& r, const std::string& key, int32_t defaultValue) {
  return HasFailureKey(r, key) ? Milliseconds(r.Ini.ReadInteger(r.Section, key, defaultValue))
                               : uint32_t(defaultValue);
}

// Where a key is present, its value; else none.
std::string OptionalValue(tclSectionRead& r, const std::string& key) {
  return r.Ini.HasKey(r.Section, key) ? r.Ini.ReadValue(r.Section, key, "") : "";
}

using tclKeyReader = void (*)(tclSectionRead& r, const std::string& key);

struct tclKeyRow {
  const std::string& Key;
  tclKeyReader Read;
};

// In the order of the start's account; keys added beyond the original set
// are read as optional, so a file without them gives the account it gave.
const tclKeyRow KeyRows[] = {
    {KeyAppName, [](tclSectionRead& r, const std::string&) {
       r.Prc.Launch.AppName = r.Ini.ReadAppName(r.Number);
     }},
    {KeyProcessName, [](tclSectionRead& r, const std::string&) {
       r.Prc.ProcessName = r.Ini.ReadProcessName(r.Number);
     }},
    {KeyCommandLine, [](tclSectionRead& r, const std::string&) {
       r.Prc.Launch.CommandLine = r.Ini.ReadCommandLine(r.Number);
     }},
    {KeyStartDir, [](tclSectionRead& r, const std::string&) {
       r.Prc.Launch.StartDir = r.Ini.ReadStartDir(r.Number);
     }},
    {KeyPriority, [](tclSectionRead& r, const std::string&) {
       r.Prc.Priority = r.Ini.ReadPriority(r.Number);
     }},
    {KeyWindow, [](tclSectionRead& r, const std::string&) {
       r.Prc.ShowCommand = int32_t(r.Ini.ReadWindow(r.Number));
     }},
    {KeyAutoRestart, [](tclSectionRead& r, const std::string&) {
       r.Prc.AutoRestart = r.Ini.ReadAutoRestart(r.Number, &r.Prc.Failure.OnFailureOnly);
       if (r.Prc.Failure.OnFailureOnly) r.Prc.Failure.Named = true;
     }},
    {KeyPaused, [](tclSectionRead& r, const std::string&) {
       r.Prc.Paused = r.Ini.ReadPaused(r.Number);
     }},
    {KeyStartPause, [](tclSectionRead& r, const std::string&) {
       r.Prc.StartPause = Milliseconds(r.Ini.ReadStartPause(r.Number));
     }},
    {KeyStopPause, [](tclSectionRead& r, const std::string&) {
       r.Prc.StopPause = Milliseconds(r.Ini.ReadStopPause(r.Number));
     }},
    {KeyNumOfRespChecks, [](tclSectionRead& r, const std::string&) {
       r.Prc.NumOfRespChecks = r.Ini.ReadNumOfRespChecks(r.Number);
     }},
    {KeyPrcFileLogging, [](tclSectionRead& r, const std::string&) {
       r.Prc.PrcFileLogging = r.Ini.ReadPrcFileLogging(r.Number);
     }},
    {KeyMinUptime, [](tclSectionRead& r, const std::string& key) {
       r.Prc.MinUptime = Milliseconds(r.Ini.ReadOptionalInteger(r.Section, key, 0));
     }},
    {KeyMaxRestartDelay, [](tclSectionRead& r, const std::string& key) {
       r.Prc.MaxRestartDelay = Milliseconds(r.Ini.ReadOptionalInteger(r.Section, key, 60000));
     }},
    {KeyStopProcessTree, [](tclSectionRead& r, const std::string& key) {
       r.Prc.StopProcessTree = r.Ini.ReadOptionalYesNo(r.Section, key, false);
     }},
    {KeyStopMethod, [](tclSectionRead& r, const std::string&) {
       r.Prc.StopMethod = r.Ini.ReadOptionalStopMethod(r.Section, r.Fallback);
     }},
    {KeyHealthCheck, [](tclSectionRead& r, const std::string& key) {
       if (r.Ini.HasKey(r.Section, key))
         r.Prc.Health.Kind =
             HealthKindFromWord(r.Ini.ReadWord(r.Section, key, HealthCheckWords[0]));
     }},
    {KeyHealthPort, [](tclSectionRead& r, const std::string& key) {
       r.Port = r.Ini.ReadOptionalInteger(r.Section, key, 0);
     }},
    {KeyHealthPath, [](tclSectionRead& r, const std::string& key) {
       if (r.Ini.HasKey(r.Section, key))
         r.Prc.Health.Path = r.Ini.ReadValue(r.Section, key, r.Prc.Health.Path);
     }},
    {KeyHealthInterval, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Health.Interval = Milliseconds(r.Ini.ReadOptionalInteger(r.Section, key, 10000));
     }},
    {KeyHealthTimeout, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Health.Timeout = Milliseconds(r.Ini.ReadOptionalInteger(r.Section, key, 2000));
     }},
    {KeyHealthRetries, [](tclSectionRead& r, const std::string& key) {
       int32_t retries = r.Ini.ReadOptionalInteger(r.Section, key, 3);
       r.Prc.Health.Retries = retries < 1 ? 1u : uint32_t(retries);
     }},
    {KeyHealthStartPeriod, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Health.StartPeriod = Milliseconds(r.Ini.ReadOptionalInteger(r.Section, key, 60000));
     }},
    {KeySuccessExitCodes, [](tclSectionRead& r, const std::string& key) {
       if (!HasFailureKey(r, key)) return;
       std::string codes = r.Ini.ReadValue(r.Section, key, "0");
       if (!ParseExitCodes(codes, r.Prc.Failure.SuccessCodes))
         r.Ini.Error("Error: Invalid Setting = " + codes);
     }},
    {KeyMaxRestarts, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Failure.MaxRestarts = ReadFailureNumber(r, key, 0);
     }},
    {KeyRestartWindow, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Failure.RestartWindow = ReadFailureNumber(r, key, 3600000);
     }},
    {KeyOnFailure, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Failure.Command = HasFailureKey(r, key) ? r.Ini.ReadValue(r.Section, key, "")
                                                     : r.CommonFailureCommand;
       if (!r.Prc.Failure.Command.empty()) r.Prc.Failure.Named = true;
     }},
    {KeyOnFailureTimeout, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Failure.CommandTimeout = ReadFailureNumber(r, key, 30000);
     }},
    // As written; made full paths once the program's environment is known.
    {KeyOutputLog, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Launch.OutputLog = OptionalValue(r, key);
     }},
    {KeyErrorLog, [](tclSectionRead& r, const std::string& key) {
       r.Prc.Launch.ErrorLog = OptionalValue(r, key);
     }},
    {KeyOutputLogMaxSize, [](tclSectionRead& r, const std::string& key) {
       int32_t kib = r.Ini.ReadOptionalInteger(r.Section, key, 10240);
       r.Prc.OutputLogMaxSize = kib < 0 ? 0u : uint32_t(kib);
     }},
    {KeyOutputLogBackups, [](tclSectionRead& r, const std::string& key) {
       int32_t backups = r.Ini.ReadOptionalInteger(r.Section, key, 5);
       r.Prc.OutputLogBackups = uint32_t(backups < 1 ? 1 : backups > 99 ? 99 : backups);
     }},
    {KeyOutputTimestamps, [](tclSectionRead& r, const std::string& key) {
       r.Prc.OutputTimestamps = r.Ini.ReadOptionalYesNo(r.Section, key, false);
     }},
};

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

tclPrcSettings ReadSection(tclIni& ini, int32_t n, tclStopMethod fallback,
                           const std::string& failureCommand,
                           const std::vector<std::string>& commonEnvironment) {
  tclSectionRead read{ini, n, tclIni::SectionName(n), fallback, failureCommand, tclPrcSettings()};
  tclIniKeyList keys(ini, read.Section);
  for (const tclKeyRow& row : KeyRows) row.Read(read, row.Key);
  tclPrcSettings& prc = read.Prc;
  if (prc.Health.Kind != tclHealthKind::None && (read.Port < 1 || read.Port > HighestPort)) {
    ini.Error("Error: The health check is not run: HealthPort must be from 1 to 65535.");
    prc.Health.Kind = tclHealthKind::None;
  }
  prc.Health.Port = uint16_t(read.Port);
  std::vector<std::string> entries =
      MergeEnvironment(commonEnvironment, ReadEnvironmentEntries(read.Section));
  prc.Launch.Environment = ProgramEnvironment(entries);
  ResolveOutputLogs(ini, prc.Launch, entries);
  prc.Launch.FullCommandLine = ProgramForCommandLine(prc.Launch.AppName) + " " +
                               prc.Launch.CommandLine;
  return prc;
}

}  // namespace

uint32_t Milliseconds(int32_t value) { return value < 0 ? 0u : uint32_t(value); }

int32_t CountSections(tclIni& ini) {
  int32_t count = 0;
  {
    tclIniQuiet quiet(ini);
    while (count < MaxProcesses && !ini.ReadAppName(count).empty()) ++count;
  }
  if (count == MaxProcesses && ini.Echo)
    Log.FileLine("The maximum number of processes has been reached.", true);
  return count;
}

tclFileSettings ReadFileSettings(tclIni& ini) {
  tclFileSettings file;
  int32_t count = CountSections(ini);
  file.RestartInterval = ini.ReadRestartInterval();
  if (ini.Echo) Log.FileLine("Loading process values from ini file ...", true);
  {
    tclIniQuiet quiet(ini);
    file.ServiceName = ini.ReadServiceName();
    file.UserInterface = ini.ReadUserInterface();
    file.ParallelStop = ini.ReadOptionalYesNo(SettingsSection, KeyParallelStop, false);
    file.StopOnShutdown = ini.ReadOptionalYesNo(SettingsSection, KeyStopOnShutdown, false);
  }
  tclStopMethod fallback = ini.ReadOptionalStopMethod(SettingsSection, tclStopMethod::Quit);
  std::string failureCommand = ini.HasKey(SettingsSection, KeyOnFailure)
                                   ? ini.ReadValue(SettingsSection, KeyOnFailure, "")
                                   : std::string();
  std::vector<std::string> commonEnvironment = ReadEnvironmentEntries(SettingsSection);
  for (int32_t n = 0; n < count; ++n) {
    if (ini.Echo) {
      Log.FileLine("", true);
      Log.FileLine("[" + tclIni::SectionName(n) + "]", true);
    }
    tclIniLinePrefix prefix(ini, "Process (" + std::to_string(n) + "): ");
    file.Programs.push_back(ReadSection(ini, n, fallback, failureCommand, commonEnvironment));
  }
  return file;
}
