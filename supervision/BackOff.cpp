// Restart back-off: a program whose runs keep ending early is restarted
// after a delay that doubles with each such run, up to a ceiling.
#include "supervision/tclPrc.h"

namespace {
const uint64_t FirstDelay = 1000;

uint32_t DelayAfter(uint32_t failedRuns, uint32_t ceiling) {
  if (failedRuns > 32) return ceiling;   // the doubling would overflow long before
  uint64_t delay = FirstDelay << (failedRuns - 1);
  return delay < ceiling ? uint32_t(delay) : ceiling;
}
}  // namespace

void tclPrc::BeginRunLocked() {
  RunOpen = true;
  RunStart = GetTickCount();
  RunLongEnough = false;
  RunStopped = false;
  WaitFor = 0;
}

// An administrator's stop is no failure of the program; the pass's stop of
// a hung one is judged by SettleExit, from the moment the child was gone.
void tclPrc::EndRunByStopLocked(bool byAdministrator) {
  if (byAdministrator) {
    JudgeRunLocked(false, GetTickCount());
  } else {
    RunEnd = GetTickCount();
    RunStopped = true;
  }
}

void tclPrc::JudgeRunLocked(bool mayFail, DWORD end) {
  if (!RunOpen) return;
  RunOpen = false;
  if (MinUptime == 0) return;
  if (RunLongEnough || DWORD(end - RunStart) >= MinUptime) {
    FailedRuns = 0;
    return;
  }
  if (!mayFail) return;
  ++FailedRuns;
  WaitFor = DelayAfter(FailedRuns, MaxRestartDelay);
  WaitFrom = end;
}

bool tclPrc::StopUnresponsive() { return StopChild(false, false); }

bool tclPrc::SettleExit(uint32_t& delay, uint32_t& ran) {
  if (MinUptime == 0 && !StopProcessTree) return false;
  if (!ClaimBusy()) return false;   // a launch or stop is under way: the next pass settles
  bool begins = false;
  {
    std::lock_guard<std::mutex> hold(Guard);
    if (!IsRunningLocked()) {
      EndJob();   // descendants of a program that ended by itself
      bool open = RunOpen;
      DWORD end = RunStopped ? RunEnd : GetTickCount();
      JudgeRunLocked(true, end);
      if (open && WaitFor > 0) {
        begins = true;
        delay = WaitFor;
        ran = DWORD(end - RunStart);
      }
    }
  }
  Busy = false;
  return begins;
}

bool tclPrc::IsWaitingToRestart(uint32_t* remainingMs) {
  std::lock_guard<std::mutex> hold(Guard);
  if (WaitFor == 0) return false;
  DWORD waited = GetTickCount() - WaitFrom;
  if (waited >= WaitFor) {
    WaitFor = 0;
    return false;
  }
  if (remainingMs != nullptr) *remainingMs = WaitFor - waited;
  return true;
}

void tclPrc::ForgetFailedRuns() {
  std::lock_guard<std::mutex> hold(Guard);
  FailedRuns = 0;
  WaitFor = 0;
}
