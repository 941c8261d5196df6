#include "scm_client/ScmSession.h"
#include "service/tclService.h"

namespace {

const OpenFailureTexts SendOpenFailures = {": The service manager could not be opened.",
                                           ": The service could not be opened."};

}  // namespace

bool tclService::SendControl(DWORD code) {
  return WithService(Name, SendOpenFailures, [&](SC_HANDLE service, std::string& message) {
    return ControlService(service, code, &Status) ||
           Failure(message, " The service could not execute the command.");
  });
}
