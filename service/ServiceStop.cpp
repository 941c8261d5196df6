// The service's stop when the manager must not be kept waiting: the handler
// only begins it; a thread of its own stops every program at once and tells
// the manager how far it has got.
#include <mutex>
#include <system_error>
#include <thread>

#include "log/ErrorText.h"
#include "log/tclLog.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

namespace {

// Beyond the longest grace: a terminated program may take up to 5 s to end,
// and the summary and the last report need a moment.
const DWORD StopAllowance = 6000;
// Reports come about every second; a hint never runs out before the next.
const DWORD ShortestHint = 2000;
const DWORD StartingAllPoll = 1000;

std::mutex StopLock;
std::thread Stopper;   // both guarded by StopLock
DWORD StopBegan = 0;
DWORD StopBudget = 0;

std::string StatusError() {
  return ErrorText(GetLastError(), ": The service status could not be set.");
}

DWORD TimeStillNeeded() {
  DWORD spent = GetTickCount() - StopBegan;
  return spent + ShortestHint < StopBudget ? StopBudget - spent : ShortestHint;
}

void ReportProgress() { Service.ReportStopPending(TimeStillNeeded()); }

void StopEveryProgram() {
  WaitForStartUp(ReportProgress);
  uint32_t terminated = PrcList.StopTogether(ReportProgress);
  PrcList.Capture.Finish(OutputDrainBound);
  // "-status" trusts the file of a stopped service only when it says so.
  Service.SetState(SERVICE_STOPPED);
  WriteStatus();   // final before stopped is reported
  Log.FileLine("All programs stopped in " + std::to_string(GetTickCount() - StopBegan) +
                   " ms (" + std::to_string(terminated) + " terminated).",
               true);
  if (!Service.ReportStopped(0, 0)) Log.FileLine(StatusError(), true);
}

}  // namespace

void WaitForStartUp(void (*meanwhile)()) {
  while (PrcList.StartingAll) {
    Sleep(StartingAllPoll);
    if (meanwhile != nullptr) meanwhile();
  }
}

DWORD ServiceStopBudget() { return PrcList.LongestStopPause() + StopAllowance; }

void BeginServiceStop(std::string& message) {
  std::lock_guard<std::mutex> hold(StopLock);
  DWORD state = Service.CurrentState();
  if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED) return;   // begun already
  PrcList.StartsBlocked = true;
  StopBegan = GetTickCount();
  StopBudget = ServiceStopBudget();
  if (!Service.ReportStopPending(StopBudget)) message = StatusError();
  try {
    Stopper = std::thread(StopEveryProgram);
  } catch (const std::system_error&) {
    StopEveryProgram();   // no thread to be had: the handler stops them itself
  }
}

void EndServiceStop() {
  std::thread stopper;
  {
    std::lock_guard<std::mutex> hold(StopLock);
    stopper = std::move(Stopper);
  }
  if (stopper.joinable()) stopper.join();
}

bool AskForShutdownTime() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager != nullptr ? OpenServiceA(manager, Service.NameBuffer, SERVICE_CHANGE_CONFIG) : nullptr;
  SERVICE_PRESHUTDOWN_INFO info = {ServiceStopBudget()};
  bool asked = service != nullptr &&
               ChangeServiceConfig2A(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info) != 0;
  DWORD error = GetLastError();
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  if (!asked)
    Log.FileLine("Warning (" + std::to_string(int32_t(error)) +
                     "): No time could be asked for before the shutdown; the programs are "
                     "stopped at the shutdown itself.",
                 true);
  return asked;
}
