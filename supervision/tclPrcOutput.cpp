// How a record captures its child's output: the pipes of a launch, the run
// they feed, and the run's last words.
#include "log/tclLog.h"
#include "supervision/tclPrc.h"

namespace {

tclOutputOptions OptionsOf(const tclPrcSettings& settings, int32_t number) {
  tclOutputOptions options;
  options.MaxBytes = uint64_t(settings.OutputLogMaxSize) * 1024;
  options.Backups = settings.OutputLogBackups;
  options.Timestamps = settings.OutputTimestamps;
  options.LogPrefix = "Process (" + std::to_string(number) + "): ";
  options.FileLogging = settings.PrcFileLogging;
  return options;
}

}  // namespace

bool tclPrc::PrepareCapture(tclChildStreams& streams, STARTUPINFOEXA& startup) {
  DWORD error = streams.Make(Settings.Launch, startup);
  if (error != 0)
    LogProgramLine(Settings.PrcFileLogging, "Warning ( " + std::to_string(int32_t(error)) +
                                                " ): The output cannot be captured for program " +
                                                Settings.Launch.AppName);
  return error == 0;
}

std::shared_ptr<tclCaptureRun> tclPrc::BeginCapture(tclChildStreams& streams) {
  std::shared_ptr<tclCaptureRun> run = std::make_shared<tclCaptureRun>();
  tclOutputOptions options = OptionsOf(Settings, Number);
  if (!Settings.Launch.OutputLog.empty())
    run->Output.reset(new tclOutputFile(Settings.Launch.OutputLog, options));
  if (!Settings.Launch.ErrorLog.empty())
    run->Error.reset(new tclOutputFile(Settings.Launch.ErrorLog, options));
  HANDLE outputEnd = streams.TakeOutputEnd(), errorEnd = streams.TakeErrorEnd();
  if (Capture == nullptr || !Capture->Add(run, outputEnd, errorEnd))
    LogProgramLine(Settings.PrcFileLogging, "Warning: The output cannot be read for program " +
                                                Settings.Launch.AppName);
  return run;
}

void tclPrc::ApplyOutputOptions() {
  std::shared_ptr<tclCaptureRun> run;
  {
    std::lock_guard<std::mutex> hold(Guard);
    run = Output;
  }
  if (run) run->SetOptions(OptionsOf(Settings, Number));
}

// A stop under way is no end by itself; its run is marked once it is done.
bool tclPrc::OutputSettled(const std::string& prefix) {
  std::shared_ptr<tclCaptureRun> run;
  {
    std::lock_guard<std::mutex> hold(Guard);
    run = Output;
  }
  if (!run || run->Stopped || run->LastWordsTold || Busy) return true;
  if (!run->Drain.Over(run->OpenStreams > 0, GetTickCount())) return false;
  run->LastWordsTold = true;
  std::string line = run->LastWords()->LastLine();
  if (!line.empty()) LogProgramLine(Settings.PrcFileLogging, prefix + "Last output: " + line);
  return true;
}
