// "-reload": asks the running service to read its configuration file again
// and prints the outcome the service records in its status file.
#include "config/Locations.h"
#include "config/tclIni.h"
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

// False while the file cannot be read: a reader can meet it being replaced.
bool ReadStatusHeader(StatusHeader& header) {
  std::string text;
  std::vector<ProgramStatus> rows;
  return ReadWholeFile(Service.StatusPath, text) && ParseStatus(text, header, rows);
}

int CannotTell() {
  Report("The reload was asked for, but its outcome cannot be told from the status file: " +
         Service.StatusPath);
  return -1;
}

}  // namespace

// Only a reload that began after the request was counted read the file as
// the console left it; an earlier one's outcome is never this request's.
ReloadWait JudgeReloadWait(const StatusHeader& file, uint32_t request, DWORD waited,
                           DWORD& limit) {
  if (file.ReloadBudget > limit) limit = file.ReloadBudget;
  if (request > 0 && file.ReloadBudget == 0 && file.ReloadsCovered >= request)
    return ReloadWait::Answered;
  return waited >= limit ? ReloadWait::GaveUp : ReloadWait::Waiting;
}

int ReloadConfiguration() {
  Report("Attempting to reload the configuration ...");
  // The service name read from a missing file is the default one: the
  // service asked would not be this file's.
  std::string reason;
  if (!CanReadFile(Ini.FilePath(), reason)) {
    Report("The configuration was not reloaded: " + reason);
    return -1;
  }
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
  // The handler counts the request in the file before the control returns;
  // a count that did not rise was never written, and tells nothing.
  StatusHeader file;
  const DWORD writer = scm.dwProcessId;
  uint32_t before = ReadStatusHeader(file) && file.WriterId == writer ? file.ReloadsAsked : 0;
  if (!Service.SendControl(SERVICE_CONTROL_PARAMCHANGE)) return -1;
  uint32_t request = 0;   // known from the first read after the control
  DWORD limit = AnswerWait;
  for (DWORD waited = 0;; waited += PollStep) {
    StatusHeader now;
    if (ReadStatusHeader(now)) {   // else the last one read stands
      if (now.WriterId != writer || (request == 0 && now.ReloadsAsked <= before))
        return CannotTell();
      if (request == 0) request = now.ReloadsAsked;
      file = now;
    }
    ReloadWait verdict =
        JudgeReloadWait(request == 0 ? StatusHeader() : file, request, waited, limit);
    if (verdict == ReloadWait::Answered) {
      Log.ConsoleLine(file.ReloadOutcome, false);
      return file.ReloadOutcome.rfind(Reloaded, 0) == 0 ? 0 : -1;
    }
    if (verdict == ReloadWait::GaveUp) {
      if (request == 0) return CannotTell();
      Report("The service gave no answer within 10 seconds; its log may tell why.");
      return -1;
    }
    Sleep(PollStep);
  }
}
