// Entries in the Windows Event Log, for whoever watches the machine. Written
// only when the configuration asks for them; a failed report never blocks or
// repeats.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/win.h"

// Fixed: monitoring rules are written against them, the message table
// (log/EventMessages.mc) has one message for each, and the README lists them.
enum class tclEventId : uint32_t {
  ServiceStarted = 100,         // information
  ServiceStopped = 101,         // information
  ProgramFailed = 200,          // warning
  FailureCommandFailed = 202,   // warning
  ReloadRefused = 102,          // warning
  GaveUp = 201,                 // error
};

// The type an entry of this event is reported with.
WORD EventTypeOf(tclEventId id);

// Reports that fail one after another are one outage, `lost` entries long:
// the log hears of its start and of its end, and of nothing between. The
// line due after a report (written, or failed with `error`), else "".
std::string NoteReport(uint32_t& lost, bool written, DWORD error);

class tclEventLog {
 public:
  // Whether entries are written at all, and under which source name (the
  // service's, which a run keeps).
  void Enable(const std::string& source, bool on);
  bool Enabled();
  // One entry with this text.
  void Report(tclEventId id, const std::string& text);

 private:
  // Guards the rest. Held across the platform's calls alone, never while
  // anything waits on a program.
  std::mutex Lock;
  bool On = false;
  std::string Source;
  HANDLE Handle = nullptr;   // registered at the first entry, kept for the run
  uint32_t Lost = 0;
};

extern tclEventLog EventLog;
