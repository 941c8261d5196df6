// How a record judges the runs of its child: the restart back-off and policy.
#include "supervision/tclPrc.h"

#include <algorithm>

namespace {

uint64_t Units(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// The child's own lifetime, from its creation to its exit, as the platform
// keeps them with the process; false where it tells none. Timing it from the
// launch to the pass that noticed the exit would count Settings.StartPause and up to a
// whole pass, so a program that dies at once would pass for one that ran.
bool LifetimeOf(HANDLE process, uint32_t& ms) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
  uint64_t from = Units(created), to = Units(exited);
  if (from == 0 || to < from) return false;
  uint64_t lifetime = (to - from) / 10000;
  ms = lifetime > UINT32_MAX ? UINT32_MAX : uint32_t(lifetime);
  return true;
}

}  // namespace

tclRestartDelay tclPrc::EndRunLocked(bool mayFail) {
  uint32_t lifetime = 0;
  bool known = Settings.MinUptime > 0 && BackOff.IsRunOpen() && ProcessInfo.hProcess != nullptr &&
               LifetimeOf(ProcessInfo.hProcess, lifetime);
  return BackOff.RunEnds(known ? &lifetime : nullptr, mayFail, GetTickCount(), Settings.MinUptime,
                         Settings.MaxRestartDelay);
}

tclRestartDelay tclPrc::SettleExit() {
  if (Settings.MinUptime == 0 && !Settings.StopProcessTree) return {};
  tclBusyClaim claim(Busy, false);
  if (!claim || IsRunning()) return {};   // a launch or stop under way: a later pass settles
  Tree.End();   // descendants of a program that ended by itself
  std::lock_guard<std::mutex> hold(Guard);
  return EndRunLocked(true);
}

bool tclPrc::IsWaitingToRestart(uint32_t* remainingMs) {
  std::lock_guard<std::mutex> hold(Guard);
  return BackOff.IsWaiting(GetTickCount(), remainingMs);
}

void tclPrc::ForgetFailedRuns() {
  ForgetRestarts();
  std::lock_guard<std::mutex> hold(Guard);
  BackOff.Forget();
}

bool tclPrc::TakeExit(uint32_t& exitCode) {
  std::lock_guard<std::mutex> hold(Guard);
  if (EndJudged || ProcessInfo.hProcess == nullptr || IsRunningLocked()) return false;
  EndJudged = true;
  DWORD code = 0;
  GetExitCodeProcess(ProcessInfo.hProcess, &code);
  exitCode = code;
  return true;
}

tclRestartVerdict tclPrc::JudgeEnd(tclRunEnd end, uint32_t exitCode) {
  std::lock_guard<std::mutex> hold(Guard);
  DWORD now = GetTickCount();
  const tclFailurePolicy& policy = Settings.Failure;
  auto old = [&](DWORD at) { return DWORD(now - at) >= policy.RestartWindow; };
  RestartTimes.erase(std::remove_if(RestartTimes.begin(), RestartTimes.end(), old),
                     RestartTimes.end());
  tclRestartVerdict verdict = DecideRestart(policy, end, exitCode, RestartTimes, now);
  if (verdict == tclRestartVerdict::Restart && policy.MaxRestarts > 0) RestartTimes.push_back(now);
  if (verdict == tclRestartVerdict::NotRestarted) Held = Hold::Ended;
  if (verdict == tclRestartVerdict::GiveUp) Held = Hold::GaveUp;
  return verdict;
}

bool tclPrc::IsRestartHeld() {
  std::lock_guard<std::mutex> hold(Guard);
  return Held != Hold::None;
}

void tclPrc::ForgetRestarts() {
  std::lock_guard<std::mutex> hold(Guard);
  Held = Hold::None;
  RestartTimes.clear();
}
