// What the service manager knows of the installed service, for "-status":
// asking needs no administrator rights.
#include "scm_client/ScmSession.h"
#include "service/tclService.h"

bool tclService::QueryProcessStatus(bool& installed, SERVICE_STATUS_PROCESS& status) {
  installed = true;
  status = SERVICE_STATUS_PROCESS();
  return WithManager(SC_MANAGER_CONNECT, CouldNotOpen.manager,
                     [&](SC_HANDLE manager, std::string& message) {
    SC_HANDLE service = OpenServiceA(manager, Name.c_str(), SERVICE_QUERY_STATUS);
    if (service == nullptr) {
      if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
        return Failure(message, CouldNotOpen.service);
      installed = false;
      return true;
    }
    DWORD needed = 0;
    bool ok = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                   reinterpret_cast<LPBYTE>(&status), sizeof status, &needed) != 0;
    if (!ok) Failure(message, " Could not query the Service.");
    CloseServiceHandle(service);
    return ok;
  });
}
