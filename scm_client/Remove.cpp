#include "log/ErrorText.h"
#include "scm_client/EventSource.h"
#include "scm_client/ScmSession.h"
#include "service/tclService.h"

bool tclService::Remove() {
  return WithService(Name, CouldNotOpen, [this](SC_HANDLE service, std::string& message) {
    if (!QueryServiceStatus(service, &Status))
      return Failure(message, " Could not query the Service.");
    if (Status.dwCurrentState != SERVICE_STOPPED &&
        !ControlService(service, SERVICE_CONTROL_STOP, &Status))
      return Failure(message, " Could not stop the Service.");
    if (!DeleteService(service)) {
      DWORD error = GetLastError();
      message = ErrorText(error, " Could not remove the service.") + " Reason: " +
                (error == ERROR_SERVICE_MARKED_FOR_DELETE ? "The service is still running."
                                                          : "See error code.");
      return false;
    }
    RemoveEventSource(Name);
    message = "The service " + Name + " was successfully removed.";
    return true;
  });
}
