// Simulated event log: one placeholder source, its entries recorded; the
// registry calls for its source only fail when told to.
#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

SimObject g_source;
std::string g_sourceName;               // guarded by Mu()
std::vector<sim::EventEntry> g_entries;   // guarded by Mu()
SimKey* const g_key = reinterpret_cast<SimKey*>(&g_source);

LONG RegistryCall(const char* function) {
  std::lock_guard<std::mutex> hold(Mu());
  return LONG(TakeFailureLocked(function));
}

}  // namespace

namespace sim {
namespace detail {
void ResetEventLog() {
  std::lock_guard<std::mutex> hold(Mu());
  g_entries.clear();
}
}  // namespace detail

std::vector<EventEntry> EventEntries() {
  std::lock_guard<std::mutex> hold(Mu());
  return g_entries;
}
}  // namespace sim

HANDLE RegisterEventSourceA(LPCSTR, LPCSTR source) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("RegisterEventSourceA")) return Fail(error, HANDLE());
  g_sourceName = source;
  return &g_source;
}

BOOL ReportEventA(HANDLE, WORD type, WORD, DWORD eventId, PSID, WORD stringCount, DWORD,
                  LPCSTR* strings, LPVOID) {
  std::lock_guard<std::mutex> hold(Mu());
  if (DWORD error = TakeFailureLocked("ReportEventA")) return Fail(error);
  g_entries.push_back({g_sourceName, type, eventId, stringCount > 0 ? strings[0] : ""});
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE) { return TRUE; }

LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY result, LPDWORD) {
  *result = g_key;
  return RegistryCall("RegCreateKeyExA");
}

LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) {
  return RegistryCall("RegSetValueExA");
}

LONG RegDeleteKeyA(HKEY, LPCSTR) { return RegistryCall("RegDeleteKeyA"); }

LONG RegCloseKey(HKEY) { return ERROR_SUCCESS; }
