#include "supervision/PrcSettings.h"

#include "config/Constants.h"

std::vector<std::string> DifferingKeys(const tclPrcSettings& a, const tclPrcSettings& b) {
  std::vector<std::string> keys;
  auto note = [&keys](bool differs, const std::string& key) {
    if (differs) keys.push_back(key);
  };
  note(a.Launch.AppName != b.Launch.AppName, KeyAppName);
  note(a.Launch.CommandLine != b.Launch.CommandLine, KeyCommandLine);
  note(a.Launch.StartDir != b.Launch.StartDir, KeyStartDir);
  note(a.Launch.Environment != b.Launch.Environment, KeyEnvPrefix);
  note(a.Launch.OutputLog != b.Launch.OutputLog, KeyOutputLog);
  note(a.Launch.ErrorLog != b.Launch.ErrorLog, KeyErrorLog);
  note(a.ProcessName != b.ProcessName, KeyProcessName);
  note(a.Priority != b.Priority, KeyPriority);
  note(a.ShowCommand != b.ShowCommand, KeyWindow);
  note(a.AutoRestart != b.AutoRestart || a.Failure.OnFailureOnly != b.Failure.OnFailureOnly,
       KeyAutoRestart);
  note(a.Paused != b.Paused, KeyPaused);
  note(a.StartPause != b.StartPause, KeyStartPause);
  note(a.StopPause != b.StopPause, KeyStopPause);
  note(a.NumOfRespChecks != b.NumOfRespChecks, KeyNumOfRespChecks);
  note(a.PrcFileLogging != b.PrcFileLogging, KeyPrcFileLogging);
  note(a.MinUptime != b.MinUptime, KeyMinUptime);
  note(a.MaxRestartDelay != b.MaxRestartDelay, KeyMaxRestartDelay);
  note(a.StopProcessTree != b.StopProcessTree, KeyStopProcessTree);
  note(a.StopMethod != b.StopMethod, KeyStopMethod);
  note(a.Health.Kind != b.Health.Kind, KeyHealthCheck);
  note(a.Health.Port != b.Health.Port, KeyHealthPort);
  note(a.Health.Path != b.Health.Path, KeyHealthPath);
  note(a.Health.Interval != b.Health.Interval, KeyHealthInterval);
  note(a.Health.Timeout != b.Health.Timeout, KeyHealthTimeout);
  note(a.Health.Retries != b.Health.Retries, KeyHealthRetries);
  note(a.Health.StartPeriod != b.Health.StartPeriod, KeyHealthStartPeriod);
  note(a.Failure.SuccessCodes != b.Failure.SuccessCodes, KeySuccessExitCodes);
  note(a.Failure.MaxRestarts != b.Failure.MaxRestarts, KeyMaxRestarts);
  note(a.Failure.RestartWindow != b.Failure.RestartWindow, KeyRestartWindow);
  note(a.Failure.Command != b.Failure.Command, KeyOnFailure);
  note(a.Failure.CommandTimeout != b.Failure.CommandTimeout, KeyOnFailureTimeout);
  note(a.OutputLogMaxSize != b.OutputLogMaxSize, KeyOutputLogMaxSize);
  note(a.OutputLogBackups != b.OutputLogBackups, KeyOutputLogBackups);
  note(a.OutputTimestamps != b.OutputTimestamps, KeyOutputTimestamps);
  return keys;
}
