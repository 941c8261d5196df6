#include "scm_client/ScmSession.h"

#include "log/ErrorText.h"
#include "scm_client/Report.h"
#include "service/tclService.h"

const OpenFailureTexts CouldNotOpen = {" Could not open the Service Manager.",
                                       " Could not open the Service."};

bool Failure(std::string& message, const char* text) {
  message = ErrorText(GetLastError(), text);
  return false;
}

bool WithManager(DWORD access, const char* openFailure, const ManagerAction& act) {
  std::string message;
  bool ok;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, access);
  if (manager == nullptr) {
    ok = Failure(message, openFailure);
  } else {
    ok = act(manager, message);
    CloseServiceHandle(manager);
  }
  if (!message.empty()) Report(message);
  return ok;
}

bool WithService(const std::string& name, const OpenFailureTexts& openFailures,
                 const ServiceAction& act) {
  auto open = [&](SC_HANDLE manager, std::string& message) {
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (service == nullptr) return Failure(message, openFailures.service);
    bool ok = act(service, message);
    CloseServiceHandle(service);
    return ok;
  };
  return WithManager(SC_MANAGER_ALL_ACCESS, openFailures.manager, open);
}
