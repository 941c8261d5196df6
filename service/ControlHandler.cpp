#include "log/ErrorText.h"
#include "log/tclLog.h"
#include "service/ControlCodes.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

int32_t PendingCommand = 0;

namespace {

std::string StatusError() {
  return ErrorText(GetLastError(), ": The service status could not be set.");
}

void StopService(std::string& message) {
  PrcList.StartsBlocked = true;
  Service.Status.dwWin32ExitCode = 0;
  Service.SetState(SERVICE_STOPPED);
  WaitForStartUp(nullptr);
  PrcList.StopAll(true);
  PrcList.Capture.Finish(OutputDrainBound);
  WriteStatus();   // final before stopped is reported
  if (!Service.ReportCurrent()) message = StatusError();
}

// The second code of a pair names the process; the first, kept pending,
// names what to do with it. Each operation pins its record rather than hold
// the table: a start or a stop waits on its program for seconds.
std::string CarryOut(DWORD operation, DWORD processCode) {
  int32_t n = int32_t(processCode) - int32_t(ProcessCodeBase);
  switch (operation) {
    case OpStop:
      return PrcList.Stop(n, false) ? "" : "The process could not be stopped.";
    case OpStart:
      return PrcList.StartNow(n) ? "" : "The process could not be started.";
    case OpPause:
      return PrcList.Pause(n) ? "" : "The process could not be paused.";
    case OpResume:
      return PrcList.Resume(n) ? "" : "The process could not be resumed.";
    case OpHide:
      return PrcList.ShowHide(n, true) ? "" : "The process window could not be hidden.";
    case OpShow:
      return PrcList.ShowHide(n, false) ? "" : "The process window could not be shown.";
    default:
      break;
  }
  if (uint32_t priorityClass = PriorityClassOfOperation(operation))
    return PrcList.SetPriority(n, priorityClass) ? "The process priority was set."
                                                 : "The process priority could not be set.";
  return "Error: Unrecognized service control code (" + std::to_string(int32_t(processCode)) +
         ").";
}

// Codes alone cannot tell a late process code from the next command's
// operation code, so no age can decide. The console opens every command with
// an interrogate instead: what is still pending then lost its process code.
void ForgetPending() {
  if (PendingCommand == 0) return;
  Log.FileLine("Warning: The operation code (" + std::to_string(PendingCommand) +
                   ") was dropped: its process code did not arrive.",
               true);
  PendingCommand = 0;
}

}  // namespace

void WINAPI ControlHandler(DWORD control) {
  std::string message;
  switch (control) {
    case SERVICE_CONTROL_STOP:
      if (Service.ParallelStop)
        BeginServiceStop(message);
      else
        StopService(message);
      break;
    case SERVICE_CONTROL_SHUTDOWN:
    case SERVICE_CONTROL_PRESHUTDOWN:
      BeginServiceStop(message);   // accepted only with StopOnShutdown
      break;
    case SERVICE_CONTROL_PAUSE:
      PrcList.StartsBlocked = true;
      Service.SetState(SERVICE_PAUSED);
      message = Service.ReportCurrent() ? "The service has been paused." : StatusError();
      WriteStatus();
      break;
    case SERVICE_CONTROL_CONTINUE:
      PrcList.StartsBlocked = false;
      Service.SetState(SERVICE_RUNNING);
      message = Service.ReportCurrent() ? "The service has been resumed." : StatusError();
      WriteStatus();
      break;
    case SERVICE_CONTROL_PARAMCHANGE:
      // Counted before the loop can take it, and written before the console
      // that asked reads the file.
      NoteReloadAsked();
      AskForReload();   // the supervision loop applies it between two passes
      WriteStatus();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      ForgetPending();
      if (!Service.ReportCurrent()) message = StatusError();
      break;
    default:
      if (Service.CurrentState() == SERVICE_STOPPED ||
          Service.CurrentState() == SERVICE_STOP_PENDING) {
        if (PendingCommand == 0) message = "The service is not running.";
        break;
      }
      if (PendingCommand == 0) {
        PendingCommand = int32_t(control);
      } else {
        DWORD operation = DWORD(PendingCommand);
        PendingCommand = 0;
        message = CarryOut(operation, control);
        // A "-status" right after the command must not show the state before it.
        WriteStatus();
      }
      break;
  }
  if (!message.empty()) Log.FileLine(message, true);
}

DWORD WINAPI ControlHandlerEx(DWORD control, DWORD, LPVOID, LPVOID) {
  ControlHandler(control);
  return NO_ERROR;
}
