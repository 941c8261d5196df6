#include "scm_client/ScmSession.h"
#include "service/tclService.h"

namespace {

const OpenFailureTexts SendOpenFailures = {": The service manager could not be opened.",
                                           ": The service could not be opened."};

}  // namespace

// The interrogate shares the operation's session, so it adds no message of
// its own: whatever makes it fail makes the operation fail and say why.
bool tclService::SendControl(DWORD code, bool opensCommand) {
  return WithService(Name, SendOpenFailures, [&](SC_HANDLE service, std::string& message) {
    if (opensCommand) ControlService(service, SERVICE_CONTROL_INTERROGATE, &Status);
    return ControlService(service, code, &Status) ||
           Failure(message, " The service could not execute the command.");
  });
}
