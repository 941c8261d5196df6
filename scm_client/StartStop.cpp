// Starting and stopping the installed service, with a bounded wait for it to
// reach the new state.
#include "scm_client/ScmSession.h"
#include "service/tclService.h"

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

// What the request after the first query leaves: a state to wait for, or an
// end already (the state needed no request, or the request failed), which
// the message names.
enum class Next { Wait, Succeeded, Failed };
typedef Next (*Request)(SC_HANDLE service, SERVICE_STATUS& status, std::string& message);

Next RequestStart(SC_HANDLE service, SERVICE_STATUS& status, std::string& message) {
  if (status.dwCurrentState == SERVICE_RUNNING) {
    message = "The service is running.";
    return Next::Succeeded;
  }
  if (status.dwCurrentState == SERVICE_PAUSED) {
    message = "The service is paused.";
    return Next::Succeeded;
  }
  if (!StartServiceA(service, 0, nullptr)) {
    Failure(message, " The service failed to start.");
    return Next::Failed;
  }
  return Next::Wait;
}

Next RequestStop(SC_HANDLE service, SERVICE_STATUS& status, std::string& message) {
  if (status.dwCurrentState == SERVICE_STOPPED) {
    message = "The service is not running.";
    return Next::Succeeded;
  }
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    Failure(message, " Could not control the Service.");
    return Next::Failed;
  }
  return Next::Wait;
}

bool Change(const std::string& name, SERVICE_STATUS& status, Request request,
            const Transition& transition) {
  return WithService(name, CouldNotOpen, [&](SC_HANDLE service, std::string& message) {
    if (!QueryServiceStatus(service, &status))
      return Failure(message, " Could not query the Service.");
    Next next = request(service, status, message);
    if (next != Next::Wait) return next == Next::Succeeded;
    int32_t elapsed = 0;
    bool queried;
    while ((queried = QueryServiceStatus(service, &status) != 0) && elapsed < transition.budget &&
           status.dwCurrentState == transition.pendingState) {
      Sleep(PollInterval);
      elapsed += int32_t(PollInterval);
    }
    if (!queried) return Failure(message, " Could not query the Service.");
    if (status.dwCurrentState != transition.wantedState) {
      message = transition.timeout;
      return false;
    }
    message = transition.success;
    return true;
  });
}

}  // namespace

bool tclService::Start() { return Change(Name, Status, RequestStart, Starting); }

bool tclService::Stop() { return Change(Name, Status, RequestStop, Stopping); }
