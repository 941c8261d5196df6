// Entries in the Windows Event Log, for whoever watches the machine. Written
// only when the configuration asks for them; a failed report never blocks or
// repeats.
#pragma once
#include <cstdint>
#include <string>

// Fixed: monitoring rules are written against them, and the README lists them.
enum class tclEventId : uint32_t {
  ServiceStarted,         // information
  ServiceStopped,         // information
  ProgramFailed,          // warning
  FailureCommandFailed,   // warning
  ReloadRefused,          // warning
  GaveUp,                 // error
};

class tclEventLog {
 public:
  // Whether entries are written at all, and under which source name.
  void Enable(const std::string& source, bool on);
  // One entry with this text.
  void Report(tclEventId id, const std::string& text);

 private:
  bool On = false;
};

extern tclEventLog EventLog;
