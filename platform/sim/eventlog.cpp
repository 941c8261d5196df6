// Simulated event log, as Wine has it: a placeholder source whose entries
// are taken and kept nowhere (ReportEventA is the dispatcher's). The
// registry calls for a source's key succeed and keep nothing.
#include "platform/sim/sim_internal.h"

HANDLE RegisterEventSourceA(LPCSTR, LPCSTR) {
  static SimObject source;
  return &source;
}

LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                     HKEY* result, LPDWORD) {
  *result = nullptr;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_SUCCESS; }
LONG RegDeleteKeyA(HKEY, LPCSTR) { return ERROR_SUCCESS; }
LONG RegCloseKey(HKEY) { return ERROR_SUCCESS; }
