#include "service/tclService.h"

#include <cstring>

#include "config/Constants.h"
#include "config/Locations.h"
#include "config/tclIni.h"
#include "log/tclLog.h"

tclService::tclService()
    : Directory(DefaultDirectory),
      ExecutablePath(DefaultExePath),
      StatusPath(DefaultDirectory + StatusFileName) {
  SetName(ProductName);
  memset(&Status, 0, sizeof Status);
}

void tclService::SetName(const std::string& name) {
  Name = name;
  memset(NameBuffer, 0, sizeof NameBuffer);
  name.copy(NameBuffer, MaxServiceNameLength);
}

DWORD tclService::CurrentState() {
  std::lock_guard<std::mutex> hold(StatusLock);
  return Status.dwCurrentState;
}

void tclService::SetState(DWORD state) {
  std::lock_guard<std::mutex> hold(StatusLock);
  Status.dwCurrentState = state;
  Status.dwCheckPoint = 0;
  Status.dwWaitHint = 0;
}

bool tclService::ReportState(DWORD state) {
  std::lock_guard<std::mutex> hold(StatusLock);
  Status.dwCurrentState = state;
  Status.dwCheckPoint = 0;
  Status.dwWaitHint = 0;
  return SetServiceStatus(StatusHandle, &Status) != 0;
}

bool tclService::ReportStopped(DWORD win32ExitCode, DWORD specificExitCode) {
  std::lock_guard<std::mutex> hold(StatusLock);
  Status.dwCurrentState = SERVICE_STOPPED;
  Status.dwCheckPoint = 0;
  Status.dwWaitHint = 0;
  Status.dwWin32ExitCode = win32ExitCode;
  Status.dwServiceSpecificExitCode = specificExitCode;
  return SetServiceStatus(StatusHandle, &Status) != 0;
}

bool tclService::ReportCurrent() {
  std::lock_guard<std::mutex> hold(StatusLock);
  return SetServiceStatus(StatusHandle, &Status) != 0;
}

bool tclService::ReportStopPending(DWORD waitHint) {
  std::lock_guard<std::mutex> hold(StatusLock);
  Status.dwCurrentState = SERVICE_STOP_PENDING;
  ++Status.dwCheckPoint;
  Status.dwWaitHint = waitHint;
  return SetServiceStatus(StatusHandle, &Status) != 0;
}

void tclService::LoadStopSettings() {
  ParallelStop = Ini.ReadOptionalYesNo(SettingsSection, KeyParallelStop, false);
  StopOnShutdown = Ini.ReadOptionalYesNo(SettingsSection, KeyStopOnShutdown, false);
}

void tclService::SetUpPaths() {
  Directory = ModuleDirectory();
  ExecutablePath = Directory + ExeFileName;
  Log.SetPath(Directory + LogFileName);
  Ini.SetPath(Directory + IniFileName);
  StatusPath = Directory + StatusFileName;
}

void tclService::LoadLogLimits(bool checkBackupPath) {
  int32_t kib = Ini.ReadLogMaxSize();
  int32_t backups = Ini.ReadLogBackups();
  Log.SetRotation(uint64_t(kib) * 1024, backups);
  if (checkBackupPath && kib > 0) CheckLogBackupPath(backups);
}

// A backup the platform cannot rename to stops the rotation for good, and
// the log then grows without bound. All backup names have the same length.
void tclService::CheckLogBackupPath(int32_t backups) {
  std::string backup = tclLog::BackupPathOf(Log.GetPath(), backups);
  if (!FitsPathLimit(backup))
    Log.FileLine("Warning: The log cannot be kept within " + KeyLogMaxSize +
                     ": this path is too long: " + backup,
                 true);
}
