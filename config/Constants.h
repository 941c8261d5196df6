// Texts that the whole system shares; built once before the global objects.
#pragma once
#include <string>

extern const std::string VersionText;
extern const std::string ProductName;       // also the default service name
extern const std::string DefaultDirectory;
extern const std::string FileBaseName;
extern const std::string LogExtension, IniExtension, ExeExtension, StatusExtension;
extern const std::string LogFileName, IniFileName, ExeFileName, StatusFileName;
extern const std::string DefaultLogPath, DefaultIniPath, DefaultExePath;

extern const std::string PriorityWords[6];   // in the order they are compared
extern const std::string DefaultPriorityWord;
extern const std::string WindowWords[13];
extern const std::string DefaultWindowWord;
extern const std::string StopMethodWords[4];   // in the order of tclStopMethod
extern const std::string HealthCheckWords[3];  // in the order of tclHealthKind

extern const std::string SettingsSection, ProcessSectionPrefix;
extern const std::string KeyServiceName, KeyUserInterface, KeyRestartInterval;
extern const std::string KeyNumberOfProcesses, KeyServicePriority, KeyGlobalFileLogging;
extern const std::string KeyAppName, KeyProcessName, KeyCommandLine, KeyStartDir, KeyPriority,
    KeyWindow, KeyAutoRestart, KeyPaused, KeyStartPause, KeyStopPause, KeyNumOfRespChecks,
    KeyPrcFileLogging, KeyMinimize;
// Opt-in keys of a program section, echoed only when the file has them.
extern const std::string KeyMinUptime, KeyMaxRestartDelay, KeyStopProcessTree;
extern const std::string KeyHealthCheck, KeyHealthPort, KeyHealthPath, KeyHealthInterval,
    KeyHealthTimeout, KeyHealthRetries, KeyHealthStartPeriod;
// Opt-in in both: in the settings it is every program's default.
extern const std::string KeyStopMethod;
// Opt-in in both, numbered from 0: variables set for the programs.
extern const std::string KeyEnvPrefix;
// Opt-in keys of the settings section, echoed only when the file has them.
extern const std::string KeyLogMaxSize, KeyLogBackups, KeyParallelStop, KeyStopOnShutdown;

extern const std::string ConfirmationText;

extern const std::string OptionInstall, OptionRemove, OptionStart, OptionStop, OptionPause,
    OptionResume, OptionHide, OptionShow, OptionReal, OptionHigh, OptionAbove, OptionNormal,
    OptionBelow, OptionLow, OptionStatus, OptionReload;
