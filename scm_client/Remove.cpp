#include "log/Report.h"

bool tclService::Remove() {
  std::string message;
  DWORD error = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    error = GetLastError();
    message = ErrorText(error, " Could not open the Service Manager.");
  } else {
    SC_HANDLE service = OpenServiceA(manager, Name.c_str(), SERVICE_ALL_ACCESS);
    if (service == nullptr) {
      error = GetLastError();
      message = ErrorText(error, " Could not open the Service.");
    } else {
      if (!QueryServiceStatus(service, &Status)) {
        error = GetLastError();
        message = ErrorText(error, " Could not query the Service.");
      } else if (Status.dwCurrentState != SERVICE_STOPPED &&
                 !ControlService(service, SERVICE_CONTROL_STOP, &Status)) {
        error = GetLastError();
        message = ErrorText(error, " Could not stop the Service.");
      } else if (!DeleteService(service)) {
        error = GetLastError();
        message = ErrorText(error, " Could not remove the service.") + " Reason: " +
                  (error == ERROR_SERVICE_MARKED_FOR_DELETE ? "The service is still running."
                                                            : "See error code.");
      } else {
        message = "The service " + Name + " was successfully removed.";
      }
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  if (!message.empty()) Report(message);
  return error == 0;
}
