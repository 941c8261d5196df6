#include <chrono>
#include <condition_variable>
#include <mutex>

#include "config/Constants.h"
#include "config/tclIni.h"
#include "log/ErrorText.h"
#include "log/tclEventLog.h"
#include "log/tclLog.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

namespace {
std::mutex MainLock;
std::condition_variable MainReturned;
bool MainRunning = false;

void SetMainRunning(bool running) {
  std::lock_guard<std::mutex> hold(MainLock);
  MainRunning = running;
  if (!running) MainReturned.notify_all();
}

// After the programs are loaded: the time asked for depends on their pauses.
void AcceptShutdownNotice(bool takesPreshutdown) {
  DWORD accepted = SERVICE_ACCEPT_SHUTDOWN;
  if (takesPreshutdown && AskForShutdownTime()) accepted |= SERVICE_ACCEPT_PRESHUTDOWN;
  Service.Status.dwControlsAccepted |= accepted;
}

void Supervise() {
  Log.FileLine("The service is now running the main thread.", true);
  Log.FileLine("Attempting to start processes ...", true);
  PrcList.StartAll();
  Sleep(1000);
  for (DWORD state = Service.CurrentState();
       state != SERVICE_STOPPED && state != SERVICE_STOP_PENDING; state = Service.CurrentState()) {
    ReloadIfAsked();
    WriteStatus();
    // Lines kept while the file was held go out within a pass, not only
    // with the next line that happens to be written.
    Log.WriteKeptLines();
    if (state == SERVICE_RUNNING)
      PrcList.CheckAll();
    else
      Sleep(1000);
  }
}
}  // namespace

bool WaitForServiceMainToReturn(unsigned milliseconds) {
  std::unique_lock<std::mutex> hold(MainLock);
  return MainReturned.wait_for(hold, std::chrono::milliseconds(milliseconds),
                               [] { return !MainRunning; });
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  SetMainRunning(true);
  BeginStatus();
  Log.KeepUnwrittenLines(true);
  Service.Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
  Service.Status.dwControlsAccepted =
      SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_PARAMCHANGE;
  Service.Status.dwWin32ExitCode = 0;
  Service.Status.dwServiceSpecificExitCode = 0;
  Service.SetState(SERVICE_START_PENDING);

  bool takesPreshutdown;
  {
    FileSwitch quiet(Log, false);   // echoed with the other settings
    takesPreshutdown = Ini.ReadOptionalYesNo(SettingsSection, KeyStopOnShutdown, false);
  }
  Service.StatusHandle =
      takesPreshutdown
          ? RegisterServiceCtrlHandlerExA(Service.NameBuffer, ControlHandlerEx, nullptr)
          : RegisterServiceCtrlHandlerA(Service.NameBuffer, ControlHandler);
  if (Service.StatusHandle == nullptr) {
    Log.FileLine(ErrorText(GetLastError(), ": The service could not be registered."), true);
    SetMainRunning(false);
    return;
  }
  Log.FileLine("   ServiceName = " + Service.Name, true);
  Log.FileLine(std::string("   UserInterface = ") + (Service.Interactive ? "Yes" : "No"), true);
  Service.LoadLogLimits(true);
  Service.LoadStopSettings();
  EventLog.Enable(Service.Name, Ini.ReadOptionalYesNo(SettingsSection, KeyEventLog, false));

  if (!PrcList.LoadFromIni()) {
    Service.ReportStopped(1, 0x0FFFFFFF);
    SetMainRunning(false);
    return;
  }
  // Before running is reported: a console that sees this run running finds
  // this run's file.
  WriteStatus();
  if (Service.StopOnShutdown) AcceptShutdownNotice(takesPreshutdown);
  if (!Service.ReportState(SERVICE_RUNNING))
    Log.FileLine(ErrorText(GetLastError(), ": The service status could not be set."), true);
  EventLog.Report(tclEventId::ServiceStarted, "The service has started.");
  Supervise();
  EndServiceStop();
  EventLog.Report(tclEventId::ServiceStopped, "The service has stopped.");
  Log.WriteKeptLines();
  SetMainRunning(false);
}
