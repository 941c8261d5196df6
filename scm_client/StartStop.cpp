// Starting and stopping the installed service, with a bounded wait for it to
// reach the new state.
#include "log/Report.h"

namespace {

const DWORD PollInterval = 1000;

struct Transition {
  DWORD pendingState;
  DWORD wantedState;
  int32_t budget;  // milliseconds of sleeping before giving up
  const char* success;
  const char* timeout;
};

const Transition Starting = {SERVICE_START_PENDING, SERVICE_RUNNING, 3000,
                             "The service was successfully started.",
                             "The service failed to start within the allowed time interval."};
const Transition Stopping = {SERVICE_STOP_PENDING, SERVICE_STOPPED, 4000,
                             "The service was successfully stopped.",
                             "The service failed to stop within the allowed time interval."};

// Makes the request after the first query. False when there is nothing to
// wait for: the state needs no request (result stays 0) or the request failed
// (result is its error); either way the message says which.
typedef bool (*Request)(SC_HANDLE service, SERVICE_STATUS& status, std::string& message,
                        int32_t& result);

bool RequestStart(SC_HANDLE service, SERVICE_STATUS& status, std::string& message,
                  int32_t& result) {
  if (status.dwCurrentState == SERVICE_RUNNING) {
    message = "The service is running.";
    return false;
  }
  if (status.dwCurrentState == SERVICE_PAUSED) {
    message = "The service is paused.";
    return false;
  }
  if (!StartServiceA(service, 0, nullptr)) {
    result = int32_t(GetLastError());
    message = ErrorText(DWORD(result), " The service failed to start.");
    return false;
  }
  return true;
}

bool RequestStop(SC_HANDLE service, SERVICE_STATUS& status, std::string& message,
                 int32_t& result) {
  if (status.dwCurrentState == SERVICE_STOPPED) {
    message = "The service is not running.";
    return false;
  }
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    result = int32_t(GetLastError());
    message = ErrorText(DWORD(result), " Could not control the Service.");
    return false;
  }
  return true;
}

// Status result: 0 success, a Windows error, or -1 for a wait that ran out.
int32_t Change(const std::string& name, SERVICE_STATUS& status, Request request,
               const Transition& transition) {
  std::string message;
  int32_t result = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    result = int32_t(GetLastError());
    message = ErrorText(DWORD(result), " Could not open the Service Manager.");
  } else {
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (service == nullptr) {
      result = int32_t(GetLastError());
      message = ErrorText(DWORD(result), " Could not open the Service.");
    } else {
      if (!QueryServiceStatus(service, &status)) {
        result = int32_t(GetLastError());
        message = ErrorText(DWORD(result), " Could not query the Service.");
      } else if (request(service, status, message, result)) {
        int32_t elapsed = 0;
        bool queried;
        while ((queried = QueryServiceStatus(service, &status) != 0) &&
               elapsed < transition.budget && status.dwCurrentState == transition.pendingState) {
          Sleep(PollInterval);
          elapsed += int32_t(PollInterval);
        }
        if (!queried) {
          result = int32_t(GetLastError());
          message = ErrorText(DWORD(result), " Could not query the Service.");
        } else if (status.dwCurrentState == transition.wantedState) {
          message = transition.success;
        } else {
          result = -1;
          message = transition.timeout;
        }
      }
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  if (!message.empty()) Report(message);
  return result;
}

}  // namespace

bool tclService::Start() { return Change(Name, Status, RequestStart, Starting) == 0; }

bool tclService::Stop() { return Change(Name, Status, RequestStop, Stopping) == 0; }
