// How a record counts the health checks of its child.
#include "supervision/tclPrc.h"

// Not while a launch or a stop is under way: the child may not be listening
// yet, or no longer.
bool tclPrc::HealthCheckDue(uint32_t& child) {
  if (Settings.Health.Kind == tclHealthKind::None || Busy) return false;
  std::lock_guard<std::mutex> hold(Guard);
  DWORD now = GetTickCount();
  if (!IsRunningLocked() || !HealthCount.IsDue(Settings.Health, now)) return false;
  HealthCount.CheckBegins(now);
  child = Generation;
  return true;
}

tclHealthVerdict tclPrc::CountHealthCheck(uint32_t child, bool passed, uint32_t& failures) {
  std::lock_guard<std::mutex> hold(Guard);
  if (child != Generation) return tclHealthVerdict::Ignored;
  tclHealthVerdict verdict = HealthCount.Judge(Settings.Health, passed, GetTickCount());
  failures = HealthCount.Failures();
  return verdict;
}

bool tclPrc::IsUnhealthy() {
  if (Settings.Health.Kind == tclHealthKind::None) return false;
  std::lock_guard<std::mutex> hold(Guard);
  return IsRunningLocked() && HealthCount.IsUnhealthy(Settings.Health);
}

void tclPrc::ForgetHealthChecks() {
  std::lock_guard<std::mutex> hold(Guard);
  HealthCount.LaunchBegins(GetTickCount());
}
