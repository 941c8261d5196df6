#include "log/ErrorText.h"
#include "log/tclLog.h"
#include "scm_client/EventSource.h"
#include "scm_client/Report.h"
#include "scm_client/ScmSession.h"
#include "service/tclService.h"

bool tclService::Install() {
  auto create = [this](SC_HANDLE manager, std::string& message) {
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    if (Interactive) type |= SERVICE_INTERACTIVE_PROCESS;
    Log.ConsoleLine("", false);
    Report(Interactive ? "*** The service will be Interactive ***"
                       : "*** The service will not be interactive ***");
    Log.ConsoleLine("", false);

    // Unquoted, a path with a blank lets the service manager run
    // C:\Program.exe in place of C:\Program Files\...\QuarnLoader.exe.
    std::string path = ExecutablePath.find(' ') == std::string::npos
                           ? ExecutablePath
                           : "\"" + ExecutablePath + "\"";
    SC_HANDLE service = CreateServiceA(manager, Name.c_str(), Name.c_str(), SERVICE_ALL_ACCESS,
                                       type, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
      DWORD error = GetLastError();
      message = error == ERROR_SERVICE_EXISTS
                    ? "The service is already installed."
                    : ErrorText(error, " Could not install the Service.");
      return false;
    }
    Report("The service " + Name + " was successfully installed.");
    AddEventSource(Name, ExecutablePath);
    CloseServiceHandle(service);
    return true;
  };
  return WithManager(SC_MANAGER_CREATE_SERVICE, CouldNotOpen.manager, create);
}
