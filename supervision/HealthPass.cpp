#include "supervision/HealthPass.h"

#include "supervision/tclPrcList.h"

namespace {

// The supervision loop's alone, as the checks are.
bool OwnOutage = false;

// The service's own failure to run a check is not the program's: it is not
// counted, and logged once until a check can be run again.
void NoteOwnFault(int error, const std::string& what) {
  if (OwnOutage) return;
  OwnOutage = true;
  LogProgramLine(true, "Warning (" + std::to_string(error) +
                           "): The health check could not be run: " + what + ".");
}

}  // namespace

tclHealthPass::tclHealthPass(tclPrcList& list) : List(list) {
  for (int32_t n = 0; n < List.Count; ++n) {
    tclPrc& record = List.Records[n];
    uint32_t child;
    // Only where the loop watches the program, whatever its window does.
    if (!record.Settings.AutoRestart || record.Paused || !record.HealthCheckDue(child)) continue;
    // Winsock only for a pass that checks: without checks the service behaves
    // as it did before they existed. Started anew by each such pass, so a
    // failure is tried again at a later check.
    if (!SocketsStarted) {
      WSADATA data;
      if (int error = WSAStartup(MAKEWORD(2, 2), &data)) {
        NoteOwnFault(error, "the sockets could not be started");
        return;
      }
      SocketsStarted = true;
    }
    Checks.push_back({n, child, std::make_unique<tclHealthProbe>(record.Settings.Health,
                                                             GetTickCount())});
  }
  Poll(0);   // a check that failed at once, or connected at once, is judged now
}

tclHealthPass::~tclHealthPass() {
  Checks.clear();   // their sockets before Winsock
  if (SocketsStarted) WSACleanup();
}

void tclHealthPass::Sleep(DWORD milliseconds) {
  if (Checks.empty()) return ::Sleep(milliseconds);
  DWORD from = GetTickCount();
  for (DWORD spent = 0; spent < milliseconds; spent = GetTickCount() - from) {
    if (Checks.empty()) return ::Sleep(milliseconds - spent);
    Poll(milliseconds - spent);
  }
}

void tclHealthPass::Finish() {
  while (!Checks.empty()) Poll(INFINITE);
}

void tclHealthPass::Poll(DWORD milliseconds) {
  fd_set read, write, except;
  FD_ZERO(&read);
  FD_ZERO(&write);
  FD_ZERO(&except);
  DWORD now = GetTickCount();
  for (const InFlight& check : Checks) {
    check.Probe->Watch(read, write, except);
    DWORD left = check.Probe->Deadline() - now;
    if (int32_t(left) < 0) left = 0;
    if (left < milliseconds) milliseconds = left;
  }
  if (!Checks.empty() && SelectSockets(&read, &write, &except, milliseconds) <= 0) {
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&except);
  }
  now = GetTickCount();
  for (size_t i = 0; i < Checks.size();) {
    Checks[i].Probe->Step(read, write, except, now);
    if (!Checks[i].Probe->Done()) {
      ++i;
      continue;
    }
    Judge(Checks[i]);
    Checks.erase(Checks.begin() + long(i));
  }
}

void tclHealthPass::Judge(const InFlight& check) {
  if (int error = check.Probe->OwnFault()) return NoteOwnFault(error, check.Probe->What());
  OwnOutage = false;
  tclPrc& record = List.Records[check.Number];
  std::string prefix = "Process (" + std::to_string(check.Number) + "): ";
  uint32_t failures = 0;
  tclHealthVerdict verdict = record.CountHealthCheck(check.Child, check.Probe->Passed(), failures);
  if (verdict == tclHealthVerdict::PassedAgain)
    LogProgramLine(record.Settings.PrcFileLogging, prefix + "Health check passed again.");
  else if (verdict == tclHealthVerdict::Failed)
    LogProgramLine(record.Settings.PrcFileLogging,
                   prefix + "Health check failed (" + std::to_string(failures) + " of " +
                       std::to_string(record.Settings.Health.Retries) +
                       "): " + check.Probe->What());
}
