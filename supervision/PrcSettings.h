// Everything a program section of the configuration file says, parsed: what
// the loader makes, what a record runs with, what a reload compares.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win.h"
#include "supervision/HealthCheck.h"
#include "supervision/RestartPolicy.h"
#include "supervision/StopMethod.h"

// What the child is created with: where two programs agree on these, one may
// keep the other's child.
struct tclLaunchSettings {
  std::string AppName;
  std::string CommandLine;
  std::string StartDir;      // the effective one: the program's own folder when unset
  std::string Environment;   // the whole block; empty: it inherits ours
  // Full paths of the files its output goes to; both empty: not captured.
  std::string OutputLog;
  std::string ErrorLog;
  std::string FullCommandLine;   // derived from the others, not compared

  bool operator==(const tclLaunchSettings& other) const {
    return AppName == other.AppName && CommandLine == other.CommandLine &&
           StartDir == other.StartDir && Environment == other.Environment &&
           OutputLog == other.OutputLog && ErrorLog == other.ErrorLog;
  }
  bool operator!=(const tclLaunchSettings& other) const { return !(*this == other); }
  bool IsCaptured() const { return !OutputLog.empty() || !ErrorLog.empty(); }
};

struct tclPrcSettings {
  tclLaunchSettings Launch;
  std::string ProcessName;
  // The file's own Priority and Paused; the console may set the running ones.
  uint32_t Priority = NORMAL_PRIORITY_CLASS;
  bool Paused = false;
  int32_t ShowCommand = SW_SHOWNA;
  bool AutoRestart = false;   // the loop watches it: yes or onfailure
  uint32_t StartPause = 1000;
  uint32_t StopPause = 1000;
  int32_t NumOfRespChecks = 0;
  bool PrcFileLogging = true;
  uint32_t MinUptime = 0;   // 0: restarts are never delayed
  uint32_t MaxRestartDelay = 60000;
  bool StopProcessTree = false;
  tclStopMethod StopMethod = tclStopMethod::Quit;
  tclHealthCheck Health;
  tclFailurePolicy Failure;
  uint32_t OutputLogMaxSize = 10240;   // KiB; 0: no limit
  uint32_t OutputLogBackups = 5;
  bool OutputTimestamps = false;
};

// The names of the keys whose values differ, in the order of the file's
// account; the launch keys first.
std::vector<std::string> DifferingKeys(const tclPrcSettings& a, const tclPrcSettings& b);
