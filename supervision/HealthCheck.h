// The health check of a program that has no window to probe: whether it
// still answers on its port, and how failed checks in a row are counted.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win.h"

// In the order of their words in the configuration.
enum class tclHealthKind { None, Tcp, Http };

// A program's health check settings, as loaded.
struct tclHealthCheck {
  tclHealthKind Kind = tclHealthKind::None;
  uint16_t Port = 0;
  std::string Path = "/";
  uint32_t Interval = 10000;
  uint32_t Timeout = 2000;
  uint32_t Retries = 3;
  uint32_t StartPeriod = 60000;
};

// What one finished check means for the program.
enum class tclHealthVerdict {
  Ignored,       // a failure within the start period
  Passed,
  PassedAgain,   // after failures that did not reach the count
  Failed,        // counted
};

// Failed checks in a row, counted from each launch. Times are GetTickCount
// milliseconds passed in by the caller.
class tclHealthCount {
 public:
  void LaunchBegins(DWORD now);
  bool IsDue(const tclHealthCheck& check, DWORD now) const;
  void CheckBegins(DWORD now) { LastCheck = now; }
  tclHealthVerdict Judge(const tclHealthCheck& check, bool passed, DWORD now);
  uint32_t Failures() const { return Failed; }
  // The count was reached: the program is to be stopped.
  bool IsUnhealthy(const tclHealthCheck& check) const { return Failed >= check.Retries; }

 private:
  DWORD Launched = 0;
  DWORD LastCheck = 0;
  bool Starting = false;   // in the start period: failures do not count
  uint32_t Failed = 0;     // counted failures in a row
};
