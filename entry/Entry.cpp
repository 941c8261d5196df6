#include "entry/Entry.h"

#include <vector>

#include "config/Words.h"
#include "config/tclIni.h"
#include "log/ErrorText.h"
#include "log/tclLog.h"
#include "scm_client/Report.h"
#include "service/Service.h"
#include "service/tclService.h"

namespace {

const int ExitSuccess = 0;
const int ExitFailure = -1;
// Long enough for the pass in progress (probes, launches) to finish.
const unsigned ServiceMainGrace = 120000;

int RunService(std::string& resultMessage) {
  SERVICE_TABLE_ENTRYA table[2] = {{Service.NameBuffer, ServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table)) {
    // The stop control reports stopped while the loop may still be in its
    // last pass; the global objects must outlive it.
    WaitForServiceMainToReturn(ServiceMainGrace);
    return ExitSuccess;
  }
  DWORD error = GetLastError();
  if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    PrintUsage();
  } else {
    resultMessage = ErrorText(error, ": The services event dispatcher could not be started.");
  }
  return ExitFailure;
}

int InvalidOption() {
  Report("Invalid command option.");
  PrintUsage();
  return ExitFailure;
}

}  // namespace

void tclService::LoadServiceSettings() {
  std::string name;
  {
    FileSwitch quiet(Log, false);
    name = Ini.ReadServiceName();
    // Before UserInterface, whose own silent read switches the file back on.
    LoadLogLimits();
    Interactive = Ini.ReadUserInterface();
  }
  if (name.size() > MaxServiceNameLength) {
    Log.FileLine("Error: The service name exceeds the maximum length allowed.", true);
    return;
  }
  SetName(name);
}

int Entry(int argc, char** argv) {
  Service.SetUpPaths();
  Service.LoadServiceSettings();
  PrintBanner();

  if (argc > 3) {
    Log.ConsoleLine("Too many command options.", false);
    PrintUsage();
    return ExitFailure;
  }
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(ToLowerText(argv[i] ? argv[i] : ""));

  std::string resultMessage;
  int exitStatus = ExitFailure;
  if (argc == 2) {
    if (!RunServiceCommand(args[1], exitStatus, resultMessage)) return InvalidOption();
  } else if (argc == 3) {
    if (!RunProcessCommand(args[1], args[2], exitStatus)) return InvalidOption();
  } else {
    exitStatus = RunService(resultMessage);
  }

  if (!resultMessage.empty()) {
    if (exitStatus == ExitSuccess)
      Log.ConsoleLine(resultMessage, false);
    else
      Report(resultMessage);
  }
  return exitStatus;
}
