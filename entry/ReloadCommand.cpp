// "-reload": asks the running service to read its configuration file again
// and prints the outcome the service records in its status file.
#include "entry/Entry.h"
#include "log/tclLog.h"
#include "scm_client/Report.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/StatusFile.h"

namespace {

const DWORD AnswerWait = 10000;
const DWORD PollStep = 250;
const char* const Reloaded = "The configuration was reloaded:";

// The reloads recorded by the service process `writer`; none for a file
// another run left, or none at all.
uint32_t ReloadsRecorded(DWORD writer, std::string& outcome) {
  std::string text;
  StatusHeader header;
  std::vector<ProgramStatus> rows;
  if (!ReadWholeFile(Service.StatusPath, text) || !ParseStatus(text, header, rows) ||
      header.WriterId != writer)
    return 0;
  outcome = header.ReloadOutcome;
  return header.Reloads;
}

}  // namespace

int ReloadConfiguration() {
  Report("Attempting to reload the configuration ...");
  bool installed = false;
  SERVICE_STATUS_PROCESS scm;
  if (!Service.QueryProcessStatus(installed, scm)) return -1;
  if (!installed) {
    Report("The service is not installed.");
    return -1;
  }
  if (scm.dwCurrentState != SERVICE_RUNNING && scm.dwCurrentState != SERVICE_PAUSED) {
    Report("The service is not running.");
    return -1;
  }
  // Read before asking, so that only a later outcome counts as the answer.
  std::string outcome;
  uint32_t before = ReloadsRecorded(scm.dwProcessId, outcome);
  if (!Service.SendControl(SERVICE_CONTROL_PARAMCHANGE)) return -1;
  for (DWORD waited = 0; waited < AnswerWait; waited += PollStep) {
    Sleep(PollStep);
    if (ReloadsRecorded(scm.dwProcessId, outcome) > before) {
      Log.ConsoleLine(outcome, false);
      return outcome.rfind(Reloaded, 0) == 0 ? 0 : -1;
    }
  }
  Report("The service gave no answer within 10 seconds; its log may tell why.");
  return -1;
}
