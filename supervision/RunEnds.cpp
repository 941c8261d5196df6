#include "supervision/RunEnds.h"

#include <cstdio>

#include "log/tclEventLog.h"

namespace {

std::string Hex(uint32_t code) {
  char text[11];
  snprintf(text, sizeof text, "0x%08X", unsigned(code));
  return text;
}

// One answer per ended run: at most one entry and one command per pass.
void Answer(tclPrc& record, int32_t n, tclRunEnd end, uint32_t code, std::string failedLine) {
  const tclPrcSettings& settings = record.Settings;
  const tclFailurePolicy& policy = settings.Failure;
  const std::string& app = settings.Launch.AppName;
  std::string prefix = "Process (" + std::to_string(n) + "): ";
  std::string codeText = std::to_string(int32_t(code));
  bool exited = end == tclRunEnd::Exited;
  tclRestartVerdict verdict = record.JudgeEnd(end, code);
  if (verdict == tclRestartVerdict::NotRestarted) {
    LogProgramLine(settings.PrcFileLogging, prefix + "The program ended by itself with exit code " +
                                                codeText + "; it is not restarted: " + app);
    return;
  }
  bool failed = IsFailure(policy, end, code);
  if (exited)
    failedLine = prefix + "The program ended with exit code " + codeText + " (" + Hex(code) +
                 "): " + app;
  if (verdict == tclRestartVerdict::Restart) {
    if (exited && policy.Named) LogProgramLine(settings.PrcFileLogging, failedLine);
    if (failed) EventLog.Report(tclEventId::ProgramFailed, failedLine);
  } else {
    std::string line = prefix + "The program was restarted " + std::to_string(policy.MaxRestarts) +
                       " times within " + std::to_string(policy.RestartWindow) +
                       " ms; it is not restarted again until \"-start " + std::to_string(n) +
                       "\": " + app;
    LogProgramLine(settings.PrcFileLogging, line);
    EventLog.Report(tclEventId::GaveUp, line);
  }
  if (policy.Command.empty() || !(failed || verdict == tclRestartVerdict::GiveUp)) return;
  tclFailureFacts facts{EventWord(end, verdict), n, settings.ProcessName, app,
                        exited ? codeText : "", record.Facts().Restarts};
  record.FailureCommand.Run(policy, facts, prefix, settings.PrcFileLogging);
}

}  // namespace

bool MayRestart(tclPrc& record, int32_t n) {
  uint32_t code = 0;
  if (record.TakeExit(code)) Answer(record, n, tclRunEnd::Exited, code, "");
  return !record.IsRestartHeld();
}

void AnswerStop(tclPrc& record, int32_t n, tclRunEnd end, const std::string& line) {
  Answer(record, n, end, 0, line);
}
