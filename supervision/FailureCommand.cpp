#include "supervision/FailureCommand.h"

#include <algorithm>
#include <thread>

#include "log/tclEventLog.h"
#include "supervision/StopMethod.h"
#include "supervision/tclPrc.h"

namespace {

std::string UpperName(const std::string& entry) {
  // "=C:=C:\dir" names "=C:": the first '=' is part of such a name.
  std::string name = entry.substr(0, entry.find('=', 1));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return name;
}

std::vector<std::string> ServiceEnvironment() {
  std::vector<std::string> entries;
  LPCH block = GetEnvironmentStringsA();
  if (block == nullptr) return entries;
  for (const char* at = block; *at != '\0'; at += entries.back().size() + 1)
    entries.emplace_back(at);
  FreeEnvironmentStringsA(block);
  return entries;
}

// On a thread of its own: the loop and the controls never wait for a command.
void WaitFor(tclProcessTree& job, std::atomic<bool>& busy, HANDLE process, uint32_t timeout,
             const std::string& prefix, bool fileLogging) {
  bool ended = WaitForSingleObject(process, timeout) == WAIT_TIMEOUT;
  if (ended && !job.End()) TerminateProcess(process, 1);
  DWORD code = 0;
  if (!ended) GetExitCodeProcess(process, &code);
  job = tclProcessTree();   // what it left running ends with the job
  CloseHandle(process);
  // The next failure may run its command once this one is gone, not only
  // once its end is told.
  busy = false;
  if (ended) {
    std::string line =
        prefix + "The failure command was ended after " + std::to_string(timeout) + " ms";
    LogProgramLine(fileLogging, line);
    EventLog.Report(tclEventId::FailureCommandFailed, line);
  } else {
    LogProgramLine(fileLogging, prefix + "The failure command ended with exit code " +
                                    std::to_string(int32_t(code)));
  }
}

}  // namespace

std::vector<std::string> FailureVariables(const tclFailureFacts& facts, uint32_t missed) {
  return {"QL_EVENT=" + facts.Event,
          "QL_NUMBER=" + std::to_string(facts.Number),
          "QL_NAME=" + facts.Name,
          "QL_APP=" + facts.App,
          "QL_EXITCODE=" + facts.ExitCode,
          "QL_RESTARTS=" + std::to_string(facts.Restarts),
          "QL_MISSED=" + std::to_string(missed)};
}

std::string FailureEnvironment(std::vector<std::string> entries,
                               const std::vector<std::string>& variables) {
  for (const std::string& variable : variables) {
    std::string name = UpperName(variable);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const std::string& e) { return UpperName(e) == name; }),
                  entries.end());
    entries.push_back(variable);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return UpperName(a) < UpperName(b);
  });
  std::string block;
  for (const std::string& entry : entries) block += entry + '\0';
  return block + '\0';
}

void tclFailureCommand::Run(const tclFailurePolicy& policy, const tclFailureFacts& facts,
                            const std::string& prefix, bool fileLogging) {
  if (Running->Busy) {
    ++Missed;
    return;
  }
  std::string environment =
      FailureEnvironment(ServiceEnvironment(), FailureVariables(facts, Missed));
  // Ended with the service's process at the latest, whatever its waiter does.
  Running->Job.Create(true);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  std::vector<char> commandLine(policy.Command.begin(), policy.Command.end());
  commandLine.push_back('\0');
  PROCESS_INFORMATION created = {};
  DWORD flags = CREATE_NO_WINDOW | (Running->Job.Holds() ? CREATE_SUSPENDED : 0);
  std::unique_lock<std::mutex> console = ExcludeConsoleAttach();
  BOOL ok = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags,
                           &environment[0], nullptr, &startup, &created);
  DWORD error = ok ? 0 : GetLastError();
  console.unlock();
  if (!ok) {
    Running->Job = tclProcessTree();
    ++Missed;
    std::string line = prefix + "Error ( " + std::to_string(int32_t(error)) +
                       " ): The failure command could not be started: " + policy.Command;
    LogProgramLine(fileLogging, line);
    EventLog.Report(tclEventId::FailureCommandFailed, line);
    return;
  }
  if (Running->Job.Holds()) Running->Job.Join(created);   // one that cannot join runs without
  CloseHandle(created.hThread);
  Missed = 0;
  Running->Busy = true;
  LogProgramLine(fileLogging,
                 prefix + "Ran the failure command (" + facts.Event + "): " + policy.Command);
  std::thread([running = Running, process = created.hProcess, timeout = policy.CommandTimeout,
               prefix, fileLogging] {
    WaitFor(running->Job, running->Busy, process, timeout, prefix, fileLogging);
  }).detach();
}
