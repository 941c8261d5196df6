#include "log/Report.h"

bool tclService::SendControl(DWORD code) {
  DWORD error = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    error = GetLastError();
    Report(ErrorText(error, ": The service manager could not be opened."));
    return false;
  }
  SC_HANDLE service = OpenServiceA(manager, Name.c_str(), SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    error = GetLastError();
    Report(ErrorText(error, ": The service could not be opened."));
  } else {
    if (!ControlService(service, code, &Status)) {
      error = GetLastError();
      Report(ErrorText(error, " The service could not execute the command."));
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return error == 0;
}
