// Carries one per-process command from the console to the running service.
#include "config/Constants.h"
#include "config/Words.h"
#include "entry/Entry.h"
#include "log/NamedLock.h"
#include "log/tclLog.h"
#include "scm_client/Report.h"
#include "service/ControlCodes.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

namespace {

const char* const CommandFailed = "The command failed - see log entry for details.";

// A number outside the table's range would make a code that either stops the
// whole service (1 to 4) or is refused after the operation code was already
// delivered, leaving it pending to misroute the next command.
bool IsProcessNumber(int32_t n) { return n >= 0 && n < MaxProcesses; }

// Two consoles sending at once would interleave their codes and pair one
// command's operation with the other's process. Each command holds this
// lock over its sends; where it cannot be had, the command goes unguarded,
// as every command always did. Consoles of other services never wait on it.
class CommandLock {
 public:
  CommandLock() : Handle(MakeOrOpenLock(CommandLockName(Service.Name))) {
    if (Handle == nullptr) return;
    // An abandoned lock is ours: its console ended between its sends, and
    // our interrogate makes the service forget what it left pending.
    DWORD result = WaitForSingleObject(Handle, INFINITE);
    Held = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
  ~CommandLock() {
    if (Held) ReleaseMutex(Handle);
    if (Handle != nullptr) CloseHandle(Handle);
  }
  CommandLock(const CommandLock&) = delete;
  CommandLock& operator=(const CommandLock&) = delete;

 private:
  HANDLE Handle;
  bool Held = false;
};

}  // namespace

std::string CommandLockName(const std::string& serviceName) {
  return SharedLockName("command", serviceName);
}

bool SendProcessCommand(unsigned code, const std::string& processArgument) {
  const char* verb = VerbOfOperation(code);
  if (verb == nullptr) {
    Report("Unknown command.");
    return false;
  }
  Report(std::string("Attempting to ") + verb + "process " + processArgument + " ... ");

  int32_t number = DecimalValue(processArgument);
  if (number == 0 && processArgument != "0") number = PrcList.FindByName(processArgument);
  if (!IsProcessNumber(number)) {
    Report("Invalid process number or name: " + processArgument);
    return false;
  }
  CommandLock oneAtATime;
  if (!Service.SendControl(code, /*opensCommand=*/true) ||
      !Service.SendControl(ProcessCodeBase + DWORD(number))) {
    Report(CommandFailed);
    return false;
  }
  Log.ConsoleLine(ConfirmationText, false);
  return true;
}
