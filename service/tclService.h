// The one service descriptor: its name and paths, and the status that both
// the service's own reports and the console's control calls use.
#pragma once
#include <mutex>
#include <string>

#include "platform/win.h"

constexpr size_t MaxServiceNameLength = 500;

class tclService {
 public:
  tclService();

  // Start-up of both roles.
  void SetUpPaths();
  void LoadServiceSettings();
  // Hands the log its size limit; the service calls it again to echo it and
  // to name a limit that rotation cannot keep, as a backup's path is too long.
  void LoadLogLimits(bool checkBackupPath = false);
  void CheckLogBackupPath(int32_t backups);

  // Console side. A per-process command opens with an interrogate, which
  // tells the service that any operation still pending lost its process code.
  bool SendControl(DWORD code, bool opensCommand = false);
  bool Install();
  bool Remove();
  bool Start();
  bool Stop();
  // The state and process id the service manager reports; false (reported)
  // when it cannot be asked. Not installed: true with installed false.
  bool QueryProcessStatus(bool& installed, SERVICE_STATUS_PROCESS& status);

  // Service side: the run state is read by the supervision loop while the
  // control handler changes it, so every access to Status takes StatusLock.
  DWORD CurrentState();
  void SetState(DWORD state);
  // Sets the state (and exit codes) and reports the whole status; false with
  // the error in GetLastError when the report fails.
  bool ReportState(DWORD state);
  bool ReportStopped(DWORD win32ExitCode, DWORD specificExitCode);
  bool ReportCurrent();
  // Stop pending, the check point one further, the time still needed.
  bool ReportStopPending(DWORD waitHint);

  // At service start: how the programs are stopped, echoed when set.
  void LoadStopSettings();

  // Sets Name and the terminated copy that the service manager's calls take.
  void SetName(const std::string& name);
  std::string Name;
  char NameBuffer[MaxServiceNameLength + 1];
  bool Interactive = true;
  // All programs stopped at once, on a thread of their own (opt-in).
  bool ParallelStop = false;
  // The system's shutdown stops them as ParallelStop does (opt-in).
  bool StopOnShutdown = false;
  std::string Directory;
  std::string ExecutablePath;
  std::string StatusPath;   // what the service last saw, for "-status"
  SERVICE_STATUS Status;
  SERVICE_STATUS_HANDLE StatusHandle = nullptr;

 private:
  std::mutex StatusLock;
};

// The service descriptor of the run.
extern tclService Service;
