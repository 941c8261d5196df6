// One pass of the supervision loop.
#include "supervision/HealthPass.h"
#include "supervision/RunEnds.h"
#include "supervision/tclPrcList.h"

namespace {

void LogDelay(const tclPrc& record, const std::string& prefix, const tclRestartDelay& delay) {
  if (delay.Delay == 0) return;
  LogProgramLine(record.Settings.PrcFileLogging, prefix + "Restart delayed by " +
                                            std::to_string(delay.Delay) +
                                            " ms: the program ran only " +
                                            std::to_string(delay.Ran) + " ms.");
}

// Whether the pass may restart the program now. The pass that sees a run end
// too early begins its delay; later passes only pass it over until it runs out.
bool RestartDue(tclPrc& record, const std::string& prefix) {
  LogDelay(record, prefix, record.SettleExit());
  return !record.IsWaitingToRestart();
}

// The pass's own stop of a program it found hung or unhealthy: a restart
// follows in a later pass, after the delay this may begin, unless the
// program's restarts have run out.
void StopJudged(tclPrc& record, int32_t n, tclRunEnd end, const std::string& prefix,
                const std::string& why) {
  std::string line = prefix + why + record.Settings.Launch.AppName;
  LogProgramLine(record.Settings.PrcFileLogging, line);
  tclRestartDelay delay;
  if (!record.StopFailed(delay)) return;
  LogDelay(record, prefix, delay);
  AnswerStop(record, n, end, line);
}

}  // namespace

void tclPrcList::CheckAll() {
  if (Count < 1) {
    Sleep(DWORD(RestartInterval));
    return;
  }
  if (StartingAll) return;
  DWORD delay = DWORD(RestartInterval / Count);
  tclHealthPass health(*this);
  for (int32_t n = 0; n < Count && !ReloadAsked; ++n) {
    if (IsAutoRestart(n) && !IsPaused(n)) {
      std::string prefix = "Process (" + std::to_string(n) + "): ";
      if (IsNotResponding(n)) {
        StopJudged(Records[n], n, tclRunEnd::Hung, prefix, "Program is not responding: ");
      } else if (Records[n].IsUnhealthy()) {
        StopJudged(Records[n], n, tclRunEnd::Unhealthy, prefix,
                   "The program failed its health check " +
                       std::to_string(Records[n].Settings.Health.Retries) + " times in a row: ");
      } else if (!IsRunning(n) && Records[n].OutputSettled(prefix) && MayRestart(Records[n], n) &&
                 RestartDue(Records[n], prefix)) {
        LogProgramLine(IsLogging(n), prefix + "Attempting to restart program: " + AppName(n));
        if (!Start(n))
          LogProgramLine(IsLogging(n), "The program could not be restarted at this time.");
      }
    }
    health.Sleep(delay);
  }
  health.Finish();
}
