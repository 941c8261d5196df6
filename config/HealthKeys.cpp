// Reading a program's health check keys, each echoed only when present.
#include "config/Constants.h"
#include "config/Words.h"
#include "config/tclIni.h"
#include "log/tclLog.h"

namespace {
const int32_t HighestPort = 65535;

// A negative time would stand for weeks.
uint32_t Milliseconds(int32_t value) { return value < 0 ? 0u : uint32_t(value); }
}  // namespace

tclHealthCheck tclIni::ReadOptionalHealthCheck(const std::string& section) {
  tclHealthCheck check;
  if (HasKey(section, KeyHealthCheck))
    check.Kind = HealthKindFromWord(ReadWord(section, KeyHealthCheck, HealthCheckWords[0]));
  int32_t port = ReadOptionalInteger(section, KeyHealthPort, 0);
  if (HasKey(section, KeyHealthPath)) check.Path = ReadValue(section, KeyHealthPath, check.Path);
  check.Interval = Milliseconds(ReadOptionalInteger(section, KeyHealthInterval, 10000));
  check.Timeout = Milliseconds(ReadOptionalInteger(section, KeyHealthTimeout, 2000));
  int32_t retries = ReadOptionalInteger(section, KeyHealthRetries, 3);
  check.Retries = retries < 1 ? 1u : uint32_t(retries);
  check.StartPeriod = Milliseconds(ReadOptionalInteger(section, KeyHealthStartPeriod, 60000));
  if (check.Kind != tclHealthKind::None && (port < 1 || port > HighestPort)) {
    Log.FileLine("Error: The health check is not run: HealthPort must be from 1 to 65535.", true);
    check.Kind = tclHealthKind::None;
  }
  check.Port = uint16_t(port);
  return check;
}
