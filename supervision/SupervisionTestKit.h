// Helpers shared by the supervision tests: the log as a list of messages,
// records set up for one simulated program, and a way to hold the simulated
// machine still while another thread is inside a launch.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "config/Globals.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace kit {

const char* const LogPath = "C:\\QL\\QuarnLoader.log";

inline void FreshLog() {
  sim::MakeDirectory("C:\\QL");
  Log.SetPath(LogPath);
  Log.SetFileEnabled(true);
}

// The log file's messages without their stamps. A line that is not stamped or
// not ended by CR LF fails the calling test.
inline std::vector<std::string> LogMessages() {
  static const std::regex stamped(
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} :: ([^\r\n]*)");
  std::string text = sim::ReadFile(LogPath);
  std::vector<std::string> messages;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(pos);
      break;
    }
    std::string line = text.substr(pos, end - pos);
    std::smatch match;
    if (std::regex_match(line, match, stamped)) {
      messages.push_back(match[3]);
    } else {
      ADD_FAILURE() << "log line not stamped: " << line;
      messages.push_back(line);
    }
    pos = end + 2;
  }
  return messages;
}

using Lines = std::vector<std::string>;

// A record for program `app` (registered with the simulator as `program`),
// settings as the loader would leave them, no start delay.
inline void Configure(tclPrc& record, const std::string& app, const sim::Program& program,
                      const std::string& arguments = "") {
  sim::AddProgram(app, program);
  record.AppName = app;
  record.CommandLine = arguments;
  record.FullCommandLine = app + " " + arguments;
  record.StartDir = "C:\\Srv";
  record.StartPause = 0;
  record.StopPause = 1000;
  record.PrcFileLogging = true;
  record.AutoRestart = true;
  record.NumOfRespChecks = 0;
  record.Paused = false;
  record.ShowCommand = SW_SHOWNA;
  record.PriorityClass = NORMAL_PRIORITY_CLASS;
}

// Process id of the last child started with this command line; 0 if none.
inline DWORD LastChildOf(const std::string& fullCommandLine) {
  DWORD id = 0;
  for (const sim::LaunchRecord& launch : sim::Launches())
    if (launch.succeeded && launch.commandLine == fullCommandLine) id = launch.processId;
  return id;
}

inline int LaunchCountOf(const std::string& fullCommandLine) {
  int count = 0;
  for (const sim::LaunchRecord& launch : sim::Launches())
    if (launch.commandLine == fullCommandLine) ++count;
  return count;
}

// An empty table of n default records with the flags cleared.
inline void FreshTable(int32_t n) {
  PrcList.StartsBlocked = false;
  PrcList.StartingAll = false;
  PrcList.RestartInterval = 1000;
  PrcList.Allocate(n);
}

// Spins (really, bounded) until the condition holds; false on time-out.
template <typename Condition>
bool SpinUntil(Condition condition, int realTimeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// While held, every simulated call from any thread waits, so another thread
// can be caught between two of its calls. The holder must make no simulated
// call itself (sim::Now() is fine) until Release.
class FrozenMachine {
 public:
  FrozenMachine() : hold_(sim::detail::Mu()) {}
  void Release() {
    if (hold_.owns_lock()) hold_.unlock();
  }

 private:
  std::unique_lock<std::mutex> hold_;
};

}  // namespace kit
