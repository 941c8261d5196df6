// Texts and numbers that the whole system shares. The texts are defined here,
// inline: a unit that includes this header has them built before any object
// it defines itself, whatever order the units are initialised in.
#pragma once
#include <cstdint>
#include <string>

// Programs are numbered from 0; at most this many.
constexpr int32_t MaxProcesses = 127;

inline const std::string VersionText = "1.00.00 build 20261208.01";
inline const std::string ProductName = "(Quarn) Server Loader";   // also the default service name
inline const std::string DefaultDirectory = "c:\\";
inline const std::string FileBaseName = "QuarnLoader";
inline const std::string LogExtension = ".log", IniExtension = ".ini", ExeExtension = ".exe",
                         StatusExtension = ".status";
inline const std::string LogFileName = FileBaseName + LogExtension;
inline const std::string IniFileName = FileBaseName + IniExtension;
inline const std::string ExeFileName = FileBaseName + ExeExtension;
inline const std::string StatusFileName = FileBaseName + StatusExtension;
inline const std::string DefaultLogPath = DefaultDirectory + LogFileName;
inline const std::string DefaultIniPath = DefaultDirectory + IniFileName;
inline const std::string DefaultExePath = DefaultDirectory + ExeFileName;

// In the order they are compared.
inline const std::string PriorityWords[6] = {"real", "high", "above", "normal", "below", "low"};
inline const std::string DefaultPriorityWord = PriorityWords[3];
inline const std::string WindowWords[13] = {
    "forceminimize", "hide",          "maximize",        "minimize",  "restore",
    "show",          "showdefault",   "showmaximized",   "showminimized",
    "showminnoactive", "showna",      "shownoactive",    "shownormal"};
inline const std::string DefaultWindowWord = WindowWords[10];
// In the order of tclStopMethod.
inline const std::string StopMethodWords[4] = {"quit", "close", "ctrlc", "ctrlbreak"};
// In the order of tclHealthKind.
inline const std::string HealthCheckWords[3] = {"none", "tcp", "http"};

inline const std::string SettingsSection = "Settings", ProcessSectionPrefix = "Process_";
inline const std::string KeyServiceName = "ServiceName", KeyUserInterface = "UserInterface",
                         KeyRestartInterval = "RestartInterval";
inline const std::string KeyNumberOfProcesses = "NumberOfProcesses",
                         KeyServicePriority = "ServicePriority",
                         KeyGlobalFileLogging = "GlobblFileLogging";
inline const std::string KeyAppName = "AppName", KeyProcessName = "ProcessName",
                         KeyCommandLine = "CommandLine", KeyStartDir = "StartDir",
                         KeyPriority = "Priority", KeyWindow = "Window",
                         KeyAutoRestart = "AutoRestart", KeyPaused = "Paused",
                         KeyStartPause = "StartPause", KeyStopPause = "StopPause",
                         KeyNumOfRespChecks = "NumOfRespChecks",
                         KeyPrcFileLogging = "PrcFileLogging", KeyMinimize = "Minimize";
// Opt-in keys of a program section, echoed only when the file has them.
inline const std::string KeyMinUptime = "MinUptime", KeyMaxRestartDelay = "MaxRestartDelay",
                         KeyStopProcessTree = "StopProcessTree";
inline const std::string KeyHealthCheck = "HealthCheck", KeyHealthPort = "HealthPort",
                         KeyHealthPath = "HealthPath", KeyHealthInterval = "HealthInterval",
                         KeyHealthTimeout = "HealthTimeout", KeyHealthRetries = "HealthRetries",
                         KeyHealthStartPeriod = "HealthStartPeriod";
inline const std::string KeySuccessExitCodes = "SuccessExitCodes",
                         KeyMaxRestarts = "MaxRestarts", KeyRestartWindow = "RestartWindow",
                         KeyOnFailureTimeout = "OnFailureTimeout";
// The third AutoRestart word: restarted only after a failure.
inline const std::string OnFailureWord = "onfailure";
inline const std::string KeyOutputLog = "OutputLog", KeyErrorLog = "ErrorLog",
                         KeyOutputLogMaxSize = "OutputLogMaxSize",
                         KeyOutputLogBackups = "OutputLogBackups",
                         KeyOutputTimestamps = "OutputTimestamps";
// Opt-in in both: in the settings it is every program's default.
inline const std::string KeyStopMethod = "StopMethod", KeyOnFailure = "OnFailure";
// Opt-in in both, numbered from 0: variables set for the programs.
inline const std::string KeyEnvPrefix = "Env_";
// Opt-in keys of the settings section, echoed only when the file has them.
inline const std::string KeyLogMaxSize = "LogMaxSize", KeyLogBackups = "LogBackups";
inline const std::string KeyParallelStop = "ParallelStop", KeyStopOnShutdown = "StopOnShutdown";
inline const std::string KeyEventLog = "EventLog";

inline const std::string ConfirmationText =
    "The command was issued - see log entry to see if it succeeded.";

inline const std::string OptionInstall = "-install", OptionRemove = "-remove",
                         OptionStart = "-start", OptionStop = "-stop", OptionPause = "-pause",
                         OptionResume = "-resume", OptionHide = "-hide", OptionShow = "-show",
                         OptionReal = "-real", OptionHigh = "-high", OptionAbove = "-above",
                         OptionNormal = "-normal", OptionBelow = "-below", OptionLow = "-low",
                         OptionStatus = "-status", OptionReload = "-reload";
