#include "log/Report.h"

bool tclService::Install() {
  std::string message;
  DWORD error = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) {
    error = GetLastError();
    message = ErrorText(error, " Could not open the Service Manager.");
  } else {
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    if (Interactive) {
      message = "*** The service will be Interactive ***";
      type |= SERVICE_INTERACTIVE_PROCESS;
    } else {
      message = "*** The service will not be interactive ***";
    }
    Log.ConsoleLine("", false);
    Report(message);
    Log.ConsoleLine("", false);
    message.clear();

    // Unquoted, a path with a blank lets the service manager run
    // C:\Program.exe in place of C:\Program Files\...\QuarnLoader.exe.
    std::string path = ExecutablePath.find(' ') == std::string::npos
                           ? ExecutablePath
                           : "\"" + ExecutablePath + "\"";
    SC_HANDLE service = CreateServiceA(manager, Name.c_str(), Name.c_str(), SERVICE_ALL_ACCESS,
                                       type, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
      error = GetLastError();
      message = error == ERROR_SERVICE_EXISTS
                    ? "The service is already installed."
                    : ErrorText(error, " Could not install the Service.");
    } else {
      Report("The service " + Name + " was successfully installed.");
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  if (!message.empty()) Report(message);
  return error == 0;
}
