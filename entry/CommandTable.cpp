#include "config/Constants.h"
#include "config/tclIni.h"
#include "entry/Entry.h"
#include "log/tclLog.h"
#include "scm_client/Report.h"
#include "service/ControlCodes.h"
#include "service/tclService.h"

namespace {

int ExitOf(bool ok) { return ok ? 0 : -1; }

// Pause and resume only deliver the code; the service logs the outcome.
int Deliver(DWORD control, const char* failure, std::string& resultMessage) {
  bool ok = Service.SendControl(control);
  resultMessage = ok ? ConfirmationText : failure;
  return ExitOf(ok);
}

struct ProcessOption {
  const std::string& option;
  DWORD code;
};

const ProcessOption ProcessOptions[] = {
    {OptionStop, OpStop},     {OptionStart, OpStart},   {OptionPause, OpPause},
    {OptionResume, OpResume}, {OptionHide, OpHide},     {OptionShow, OpShow},
    {OptionReal, OpReal},     {OptionHigh, OpHigh},     {OptionAbove, OpAbove},
    {OptionNormal, OpNormal}, {OptionBelow, OpBelow},   {OptionLow, OpLow},
};

}  // namespace

bool RunServiceCommand(const std::string& option, int& exitStatus, std::string& resultMessage) {
  if (option == OptionRemove) {
    Report("Attempting to remove service " + Service.Name + " ....");
    exitStatus = ExitOf(Service.Remove());
  } else if (option == OptionInstall) {
    Log.ConsoleLine("", false);
    Report("Attempting to install the service ...");
    Log.FileLine("Version is " + VersionText, true);
    Service.Interactive = Ini.ReadUserInterface();
    exitStatus = ExitOf(Service.Install());
  } else if (option == OptionStart) {
    Report("Attempting to start the service ...");
    exitStatus = ExitOf(Service.Start());
  } else if (option == OptionStop) {
    Report("Attempting to stop the service ...");
    exitStatus = ExitOf(Service.Stop());
  } else if (option == OptionPause) {
    Report("Attempting to pause the service ...");
    exitStatus = Deliver(SERVICE_CONTROL_PAUSE, "The service could not be paused.", resultMessage);
  } else if (option == OptionResume) {
    Report("Attempting to resume the service ...");
    exitStatus =
        Deliver(SERVICE_CONTROL_CONTINUE, "The service could not be resumed.", resultMessage);
  } else if (option == OptionStatus) {
    exitStatus = ShowStatus();
  } else if (option == OptionReload) {
    exitStatus = ReloadConfiguration();
  } else {
    return false;
  }
  return true;
}

bool RunProcessCommand(const std::string& option, const std::string& argument, int& exitStatus) {
  for (const ProcessOption& row : ProcessOptions) {
    if (option == row.option) {
      exitStatus = ExitOf(SendProcessCommand(row.code, argument));
      return true;
    }
  }
  return false;
}
