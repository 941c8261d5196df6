#include "supervision/BackOff.h"

namespace {
const uint64_t FirstDelay = 1000;

uint32_t DelayAfter(uint32_t failedRuns, uint32_t ceiling) {
  if (failedRuns > 32) return ceiling;   // the doubling would overflow long before
  uint64_t delay = FirstDelay << (failedRuns - 1);
  return delay < ceiling ? uint32_t(delay) : ceiling;
}
}  // namespace

void tclBackOff::RunBegins(DWORD now) {
  RunOpen = true;
  RunStart = now;
  RunLongEnough = false;
  WaitFor = 0;
}

void tclBackOff::SeenAlive(DWORD now, uint32_t minUptime) {
  if (RunOpen && !RunLongEnough && minUptime > 0)
    RunLongEnough = DWORD(now - RunStart) >= minUptime;
}

tclRestartDelay tclBackOff::RunEnds(const uint32_t* lifetime, bool mayFail, DWORD now,
                                    uint32_t minUptime, uint32_t maxDelay) {
  tclRestartDelay verdict;
  if (!RunOpen) return verdict;
  RunOpen = false;
  if (minUptime == 0) return verdict;
  verdict.Ran = lifetime != nullptr ? *lifetime : DWORD(now - RunStart);
  if (RunLongEnough || verdict.Ran >= minUptime) {
    FailedRuns = 0;
    return verdict;
  }
  if (!mayFail) return verdict;
  ++FailedRuns;
  WaitFor = DelayAfter(FailedRuns, maxDelay);
  WaitFrom = now;
  verdict.Delay = WaitFor;
  return verdict;
}

bool tclBackOff::IsWaiting(DWORD now, uint32_t* remainingMs) {
  if (WaitFor == 0) return false;
  DWORD waited = now - WaitFrom;
  if (waited >= WaitFor) {
    WaitFor = 0;
    return false;
  }
  if (remainingMs != nullptr) *remainingMs = WaitFor - waited;
  return true;
}

void tclBackOff::Forget() {
  FailedRuns = 0;
  WaitFor = 0;
}
