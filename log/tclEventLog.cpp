#include "log/tclEventLog.h"

#include "log/tclLog.h"

WORD EventTypeOf(tclEventId id) {
  switch (id) {
    case tclEventId::ServiceStarted:
    case tclEventId::ServiceStopped:
      return EVENTLOG_INFORMATION_TYPE;
    case tclEventId::GaveUp:
      return EVENTLOG_ERROR_TYPE;
    default:
      return EVENTLOG_WARNING_TYPE;
  }
}

std::string NoteReport(uint32_t& lost, bool written, DWORD error) {
  if (!written)
    return lost++ == 0 ? "Warning (" + std::to_string(int32_t(error)) +
                             "): The event log cannot be written."
                       : "";
  if (lost == 0) return "";
  std::string line =
      "The event log can be written again (entries lost: " + std::to_string(lost) + ").";
  lost = 0;
  return line;
}

void tclEventLog::Enable(const std::string& source, bool on) {
  std::lock_guard<std::mutex> hold(Lock);
  if (!on) Lost = 0;   // nothing is written, so nothing is lost either
  Source = source;
  On = on;
}

bool tclEventLog::Enabled() {
  std::lock_guard<std::mutex> hold(Lock);
  return On;
}

void tclEventLog::Report(tclEventId id, const std::string& text) {
  std::string line;
  {
    std::lock_guard<std::mutex> hold(Lock);
    if (!On) return;
    // A source that could not be registered is tried again with the next
    // entry, never at once.
    if (Handle == nullptr) Handle = RegisterEventSourceA(nullptr, Source.c_str());
    LPCSTR strings[1] = {text.c_str()};
    bool written = Handle != nullptr && ReportEventA(Handle, EventTypeOf(id), 0, DWORD(id),
                                                     nullptr, 1, 0, strings, nullptr) != 0;
    line = NoteReport(Lost, written, written ? 0 : GetLastError());
  }
  if (!line.empty()) Log.FileLine(line, true);
}
