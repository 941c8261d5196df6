// Test-only helpers shared by the service, console-client and entry tests:
// fresh global objects, the log file as messages, captured console lines, and
// a simulated service run on its own dispatcher thread.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "config/Constants.h"
#include "config/Globals.h"
#include "platform/sim/sim.h"
#include "service/Service.h"

namespace qltest {

const char* const ModuleFolder = "C:\\QuarnLoader\\";
const char* const LogPath = "C:\\QuarnLoader\\QuarnLoader.log";
const char* const IniPath = "C:\\QuarnLoader\\QuarnLoader.ini";

// The global objects outlive every test; put back what a new process has and
// point them at the simulated module's folder.
inline void FreshGlobals() {
  PrcList.Clear();
  PrcList.StartsBlocked = false;
  PrcList.StartingAll = false;
  PrcList.RestartInterval = 1000;
  PendingCommand = 0;
  Service.SetName(ProductName);
  Service.Interactive = true;
  memset(&Service.Status, 0, sizeof Service.Status);
  Service.StatusHandle = nullptr;
  Log.SetFileEnabled(true);
  Service.SetUpPaths();
}

inline std::vector<std::string> Split(const std::string& text, const std::string& end) {
  std::vector<std::string> lines;
  std::string::size_type start = 0, at;
  while ((at = text.find(end, start)) != std::string::npos) {
    lines.push_back(text.substr(start, at - start));
    start = at + end.size();
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no line end>");
  return lines;
}

inline bool HasStamp(const std::string& line) {
  static const std::regex stamp(
      "^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] [0-9]{4} :: ");
  return std::regex_search(line, stamp);
}

// The log file's lines as written (CR LF ends).
inline std::vector<std::string> LogLines() { return Split(sim::ReadFile(LogPath), "\r\n"); }

// The log file's messages without their stamps; an unstamped line is kept
// whole behind "[unstamped] " so that a missing stamp shows in comparisons.
inline std::vector<std::string> LogMessages(size_t from = 0) {
  std::vector<std::string> all = LogLines(), out;
  for (size_t i = from; i < all.size(); ++i)
    out.push_back(HasStamp(all[i]) ? all[i].substr(28) : "[unstamped] " + all[i]);
  return out;
}

inline size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  size_t n = 0;
  for (const std::string& l : lines) n += l == line;
  return n;
}

inline size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
  return n;
}

// Index of the first line equal to text, or -1.
inline int IndexOf(const std::vector<std::string>& lines, const std::string& text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == text) return int(i);
  return -1;
}

// Console output of one stretch of a test, as lines.
class Console {
 public:
  Console() { testing::internal::CaptureStdout(); }
  ~Console() {
    if (!taken_) testing::internal::GetCapturedStdout();
  }
  std::vector<std::string> Lines() {
    taken_ = true;
    return Split(testing::internal::GetCapturedStdout(), "\n");
  }

 private:
  bool taken_ = false;
};

// Polls a condition for a bounded real time; the simulated threads run on
// their own, only their scheduling takes real time.
inline bool WaitUntil(const std::function<bool()>& condition, int realTimeoutMs = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

inline size_t ReportsWithState(DWORD state) {
  size_t n = 0;
  for (const SERVICE_STATUS& s : sim::StatusReports()) n += s.dwCurrentState == state;
  return n;
}

// The service role on the simulated service manager: the dispatcher on a
// thread of this object, the service main on the simulated manager's thread.
class ServiceRun {
 public:
  void Start() {
    sim::SetStartedByServiceManager(true);
    thread_ = std::thread([this] {
      SERVICE_TABLE_ENTRYA table[2] = {{Service.NameBuffer, ServiceMain}, {nullptr, nullptr}};
      result_ = StartServiceCtrlDispatcherA(table);
      error_ = GetLastError();
      returned_ = true;
    });
  }
  // Running reported and the start-up sequence over.
  bool WaitRunning() {
    return WaitUntil([] {
      return ReportsWithState(SERVICE_RUNNING) > 0 &&
             IndexOf(LogMessages(), "Attempting to start processes ...") >= 0 &&
             !PrcList.StartingAll;
    });
  }
  bool Stop() {
    if (!thread_.joinable()) return false;
    bool delivered = sim::DeliverControl(SERVICE_CONTROL_STOP);
    Join();
    return delivered;
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool Returned() const { return returned_; }
  BOOL Result() const { return result_; }
  DWORD Error() const { return error_; }
  ~ServiceRun() {
    if (thread_.joinable()) {
      sim::DeliverControl(SERVICE_CONTROL_STOP);
      thread_.join();
    }
    sim::WaitServiceMainReturned(10000);
    // The simulated manager keeps the service main's thread until its next
    // reset; left joinable at program exit it would abort the test program.
    sim::Reset();
  }

 private:
  std::thread thread_;
  std::atomic<bool> returned_{false};
  BOOL result_ = FALSE;
  DWORD error_ = 0;
};

}  // namespace qltest
