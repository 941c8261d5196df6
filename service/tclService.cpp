#include "service/tclService.h"

#include <cstring>

#include "config/Constants.h"
#include "config/Globals.h"

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
