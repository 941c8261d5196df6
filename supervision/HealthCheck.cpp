#include "supervision/HealthCheck.h"

void tclHealthCount::LaunchBegins(DWORD now) {
  Launched = now;
  LastCheck = now;
  Starting = true;
  Failed = 0;
}

bool tclHealthCount::IsDue(const tclHealthCheck& check, DWORD now) const {
  return check.Kind != tclHealthKind::None && !IsUnhealthy(check) &&
         DWORD(now - LastCheck) >= check.Interval;
}

tclHealthVerdict tclHealthCount::Judge(const tclHealthCheck& check, bool passed, DWORD now) {
  if (passed) {
    Starting = false;
    bool again = Failed > 0;
    Failed = 0;
    return again ? tclHealthVerdict::PassedAgain : tclHealthVerdict::Passed;
  }
  if (Starting && DWORD(now - Launched) < check.StartPeriod) return tclHealthVerdict::Ignored;
  Starting = false;
  ++Failed;
  return tclHealthVerdict::Failed;
}
