#include "config/Constants.h"
#include "supervision/Reload.h"

namespace {

template <typename Value>
void Take(Value& running, const Value& file, const std::string& key,
          std::vector<std::string>& changed) {
  if (running == file) return;
  running = file;
  changed.push_back(key);
}

}  // namespace

bool SameLaunchSettings(const tclPrc& running, const tclPrc& file) {
  return running.AppName == file.AppName && running.CommandLine == file.CommandLine &&
         running.StartDir == file.StartDir && running.Environment == file.Environment;
}

void TakeLaunchSettings(tclPrc& running, const tclPrc& file) {
  running.AppName = file.AppName;
  running.CommandLine = file.CommandLine;
  running.StartDir = file.StartDir;
  running.Environment = file.Environment;
  running.FullCommandLine = file.FullCommandLine;
}

std::vector<std::string> TakeOtherSettings(tclPrc& running, const tclPrc& file) {
  std::vector<std::string> changed;
  Take(running.ProcessName, file.ProcessName, KeyProcessName, changed);
  // A class or a pause set at the console stays until the file's own changes.
  if (running.FilePriorityClass != file.FilePriorityClass) {
    running.FilePriorityClass = file.FilePriorityClass;
    changed.push_back(KeyPriority);
    if (!running.SetPriority(file.FilePriorityClass))
      LogProgramLine(file.PrcFileLogging, "The process priority could not be set.");
  }
  Take(running.ShowCommand, file.ShowCommand, KeyWindow, changed);
  Take(running.AutoRestart, file.AutoRestart, KeyAutoRestart, changed);
  if (running.FilePaused != file.FilePaused) {
    running.FilePaused = file.FilePaused;
    running.Paused = file.FilePaused;
    changed.push_back(KeyPaused);
  }
  Take(running.StartPause, file.StartPause, KeyStartPause, changed);
  Take(running.StopPause, file.StopPause, KeyStopPause, changed);
  Take(running.NumOfRespChecks, file.NumOfRespChecks, KeyNumOfRespChecks, changed);
  Take(running.PrcFileLogging, file.PrcFileLogging, KeyPrcFileLogging, changed);
  Take(running.MinUptime, file.MinUptime, KeyMinUptime, changed);
  Take(running.MaxRestartDelay, file.MaxRestartDelay, KeyMaxRestartDelay, changed);
  Take(running.StopProcessTree, file.StopProcessTree, KeyStopProcessTree, changed);
  Take(running.StopMethod, file.StopMethod, KeyStopMethod, changed);
  Take(running.Health.Kind, file.Health.Kind, KeyHealthCheck, changed);
  Take(running.Health.Port, file.Health.Port, KeyHealthPort, changed);
  Take(running.Health.Path, file.Health.Path, KeyHealthPath, changed);
  Take(running.Health.Interval, file.Health.Interval, KeyHealthInterval, changed);
  Take(running.Health.Timeout, file.Health.Timeout, KeyHealthTimeout, changed);
  Take(running.Health.Retries, file.Health.Retries, KeyHealthRetries, changed);
  Take(running.Health.StartPeriod, file.Health.StartPeriod, KeyHealthStartPeriod, changed);
  return changed;
}
