// The shared texts and the four global objects, in one unit so that their
// order of construction is fixed: texts first, then log, configuration,
// process table and service descriptor (destroyed in reverse).
#include "config/Constants.h"
#include "config/Globals.h"

const std::string VersionText = "1.00.00 build 20261208.01";
const std::string ProductName = "(Quarn) Server Loader";
const std::string DefaultDirectory = "c:\\";
const std::string FileBaseName = "QuarnLoader";
const std::string LogExtension = ".log", IniExtension = ".ini", ExeExtension = ".exe",
                  StatusExtension = ".status";
const std::string LogFileName = FileBaseName + LogExtension;
const std::string IniFileName = FileBaseName + IniExtension;
const std::string ExeFileName = FileBaseName + ExeExtension;
const std::string StatusFileName = FileBaseName + StatusExtension;
const std::string DefaultLogPath = DefaultDirectory + LogFileName;
const std::string DefaultIniPath = DefaultDirectory + IniFileName;
const std::string DefaultExePath = DefaultDirectory + ExeFileName;

const std::string PriorityWords[6] = {"real", "high", "above", "normal", "below", "low"};
const std::string DefaultPriorityWord = PriorityWords[3];
const std::string WindowWords[13] = {
    "forceminimize", "hide",          "maximize",        "minimize",  "restore",
    "show",          "showdefault",   "showmaximized",   "showminimized",
    "showminnoactive", "showna",      "shownoactive",    "shownormal"};
const std::string DefaultWindowWord = WindowWords[10];
const std::string StopMethodWords[4] = {"quit", "close", "ctrlc", "ctrlbreak"};
const std::string HealthCheckWords[3] = {"none", "tcp", "http"};

const std::string SettingsSection = "Settings", ProcessSectionPrefix = "Process_";
const std::string KeyServiceName = "ServiceName", KeyUserInterface = "UserInterface",
                  KeyRestartInterval = "RestartInterval";
const std::string KeyNumberOfProcesses = "NumberOfProcesses",
                  KeyServicePriority = "ServicePriority",
                  KeyGlobalFileLogging = "GlobblFileLogging";
const std::string KeyAppName = "AppName", KeyProcessName = "ProcessName",
                  KeyCommandLine = "CommandLine", KeyStartDir = "StartDir",
                  KeyPriority = "Priority", KeyWindow = "Window", KeyAutoRestart = "AutoRestart",
                  KeyPaused = "Paused", KeyStartPause = "StartPause", KeyStopPause = "StopPause",
                  KeyNumOfRespChecks = "NumOfRespChecks", KeyPrcFileLogging = "PrcFileLogging",
                  KeyMinimize = "Minimize";
const std::string KeyMinUptime = "MinUptime", KeyMaxRestartDelay = "MaxRestartDelay",
                  KeyStopProcessTree = "StopProcessTree";
const std::string KeyStopMethod = "StopMethod";
const std::string KeyHealthCheck = "HealthCheck", KeyHealthPort = "HealthPort",
                  KeyHealthPath = "HealthPath", KeyHealthInterval = "HealthInterval",
                  KeyHealthTimeout = "HealthTimeout", KeyHealthRetries = "HealthRetries",
                  KeyHealthStartPeriod = "HealthStartPeriod";
const std::string KeyEnvPrefix = "Env_";
const std::string KeyLogMaxSize = "LogMaxSize", KeyLogBackups = "LogBackups";
const std::string KeyParallelStop = "ParallelStop", KeyStopOnShutdown = "StopOnShutdown";

const std::string ConfirmationText =
    "The command was issued - see log entry to see if it succeeded.";

const std::string OptionInstall = "-install", OptionRemove = "-remove", OptionStart = "-start",
                  OptionStop = "-stop", OptionPause = "-pause", OptionResume = "-resume",
                  OptionHide = "-hide", OptionShow = "-show", OptionReal = "-real",
                  OptionHigh = "-high", OptionAbove = "-above", OptionNormal = "-normal",
                  OptionBelow = "-below", OptionLow = "-low", OptionStatus = "-status",
                  OptionReload = "-reload";

tclLog Log(DefaultLogPath);
tclIni Ini(DefaultIniPath);
tclPrcList PrcList;
tclService Service;
