// The administrator's command run when a program fails: hidden, in a job of
// its own, never waited for by the loop, at most one at a time per program.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "supervision/ProcessTree.h"
#include "supervision/RestartPolicy.h"

// What the command is told about the failure.
struct tclFailureFacts {
  std::string Event;      // exit, hung, unhealthy or gaveup
  int32_t Number = 0;
  std::string Name;       // ProcessName, or empty
  std::string App;
  std::string ExitCode;   // empty unless it ended by itself
  uint32_t Restarts = 0;
};

// The QL_ variables, each NAME=value.
std::vector<std::string> FailureVariables(const tclFailureFacts& facts, uint32_t missed);
// The service's entries with the variables set (a name replaces one of any
// letter case), sorted as Windows wants them, as a block with its final NUL.
std::string FailureEnvironment(std::vector<std::string> entries,
                               const std::vector<std::string>& variables);

class tclFailureCommand {
 public:
  // Starts the command and returns; while an earlier one still runs the
  // failure is only counted, and passed on with the next run.
  void Run(const tclFailurePolicy& policy, const tclFailureFacts& facts, const std::string& prefix,
           bool fileLogging);

 private:
  // Shared with the thread that waits for the command, which may outlive
  // the record.
  struct tclRunning {
    std::atomic<bool> Busy{false};
    tclProcessTree Job;
  };
  std::shared_ptr<tclRunning> Running = std::make_shared<tclRunning>();
  uint32_t Missed = 0;
};
