// Carries one per-process command from the console to the running service.
#include "config/Constants.h"
#include "config/Globals.h"
#include "config/Words.h"
#include "entry/Entry.h"
#include "scm_client/Report.h"
#include "service/ControlCodes.h"

namespace {

const char* const CommandFailed = "The command failed - see log entry for details.";

// A number outside the table's range would make a code that either stops the
// whole service (1 to 4) or is refused after the operation code was already
// delivered, leaving it pending to misroute the next command.
bool IsProcessNumber(int32_t n) { return n >= 0 && n < MaxProcesses; }

}  // namespace

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
  if (!Service.SendControl(code) || !Service.SendControl(ProcessCodeBase + DWORD(number))) {
    Report(CommandFailed);
    return false;
  }
  Log.ConsoleLine(ConfirmationText, false);
  return true;
}
