// The unit tests' and fuzz targets' kit: fresh global objects, the log file
// read back under one policy, console capture, one bounded wait, simulated
// programs, their launches and records, and a simulated service run.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "config/Constants.h"
#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/tclPrcList.h"

namespace kit {

using Lines = std::vector<std::string>;

// The simulated module's folder, where a fresh machine keeps its files.
const char* const ModuleFolder = "C:\\QuarnLoader\\";
const char* const LogPath = "C:\\QuarnLoader\\QuarnLoader.log";
const char* const IniPath = "C:\\QuarnLoader\\QuarnLoader.ini";

// ---- Fresh state -------------------------------------------------------------

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

// Only the log, written to the module's folder, for tests of single parts.
inline void FreshLog() {
  Log.SetPath(LogPath);
  Log.SetFileEnabled(true);
}

// An empty table of n default records with the flags cleared.
inline void FreshTable(int32_t n) {
  PrcList.StartsBlocked = false;
  PrcList.StartingAll = false;
  PrcList.RestartInterval = 1000;
  PrcList.Allocate(n);
}

// ---- The log file --------------------------------------------------------------

inline Lines Split(const std::string& text, const std::string& end) {
  Lines lines;
  std::string::size_type start = 0, at;
  while ((at = text.find(end, start)) != std::string::npos) {
    lines.push_back(text.substr(start, at - start));
    start = at + end.size();
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no line end>");
  return lines;
}

// The log's lines as written, stamps included, without their CR LF. Text
// after the last CR LF, or a lone CR or LF inside a line, fails the test.
// Tests poll the log while the service writes it, so a read may catch a line
// half copied into the file: an unended tail must stay so for a while before
// it counts as a fault.
inline Lines LogLines(const std::string& path = LogPath) {
  std::string text = sim::ReadFile(path);
  for (int tries = 0; tries < 200 && !text.empty() && text.back() != '\n'; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    text = sim::ReadFile(path);
  }
  Lines lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(start);
      break;
    }
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "lone CR or LF in " << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

// The messages of the log's lines from line `from` on, without their stamps.
// A line without its stamp fails the test and is kept whole.
inline Lines LogMessages(size_t from = 0, const std::string& path = LogPath) {
  static const std::regex stamp(
      "^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] [0-9]{4} :: ");
  Lines lines = LogLines(path), messages;
  for (size_t i = from; i < lines.size(); ++i) {
    std::smatch match;
    if (std::regex_search(lines[i], match, stamp)) {
      messages.push_back(match.suffix());
    } else {
      ADD_FAILURE() << "log line not stamped: " << lines[i];
      messages.push_back(lines[i]);
    }
  }
  return messages;
}

// As LogMessages, where the simulated clock stood still: every line must
// carry exactly this stamp.
inline Lines LogMessagesAt(const std::string& stamp) {
  Lines messages;
  for (const std::string& line : LogLines()) {
    if (line.compare(0, stamp.size(), stamp) == 0)
      messages.push_back(line.substr(stamp.size()));
    else
      ADD_FAILURE() << "log line without the stamp " << stamp << ": " << line;
  }
  return messages;
}

inline size_t Count(const Lines& lines, const std::string& line) {
  size_t n = 0;
  for (const std::string& l : lines) n += l == line;
  return n;
}

inline size_t CountPrefix(const Lines& lines, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& l : lines) n += l.compare(0, prefix.size(), prefix) == 0;
  return n;
}

// Index of the first line equal to text, or -1.
inline int IndexOf(const Lines& lines, const std::string& text) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i] == text) return int(i);
  return -1;
}

// ---- Console and waiting ---------------------------------------------------------

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

// Polls a condition for a bounded real time; false on time-out. The simulated
// threads run on their own, only their scheduling takes real time.
template <typename Condition>
bool WaitUntil(Condition condition, int realTimeoutMs = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(realTimeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// ---- Programs and their launches -------------------------------------------------

// A record for program `app` (registered with the simulator as `program`),
// settings as the loader would leave them, no start delay.
inline void Configure(tclPrc& record, const std::string& app, const sim::Program& program,
                      const std::string& arguments = "") {
  sim::AddProgram(app, program);
  record.Settings.Launch.AppName = app;
  record.Settings.Launch.CommandLine = arguments;
  record.Settings.Launch.FullCommandLine = app + " " + arguments;
  record.Settings.Launch.StartDir = "C:\\Srv";
  record.Settings.StartPause = 0;
  record.Settings.StopPause = 1000;
  record.Settings.PrcFileLogging = true;
  record.Settings.AutoRestart = true;
  record.Settings.NumOfRespChecks = 0;
  record.Paused = false;
  record.Settings.ShowCommand = SW_SHOWNA;
  record.PriorityClass = NORMAL_PRIORITY_CLASS;
}

// Process id of the last child started with a command line that begins with
// `commandLine`; 0 if none.
inline DWORD LastChildOf(const std::string& commandLine) {
  DWORD id = 0;
  for (const sim::LaunchRecord& launch : sim::Launches())
    if (launch.succeeded && launch.commandLine.compare(0, commandLine.size(), commandLine) == 0)
      id = launch.processId;
  return id;
}

// Launches tried, failed ones included, with a command line that begins with
// `commandLine`.
inline size_t LaunchCountOf(const std::string& commandLine) {
  size_t count = 0;
  for (const sim::LaunchRecord& launch : sim::Launches())
    count += launch.commandLine.compare(0, commandLine.size(), commandLine) == 0;
  return count;
}

// Programs that run until they are stopped, with a window and without.
inline sim::Program Steady() { return sim::Program(); }

inline sim::Program Windowless() {
  sim::Program p;
  p.hasWindow = false;
  return p;
}

// One supervised program's record on a fresh log; its tests live in more
// than one file, so the fixture is shared here.
class PrcTest : public testing::Test {
 protected:
  void SetUp() override { FreshLog(); }

  DWORD Child() { return LastChildOf(rec.Settings.Launch.FullCommandLine); }

  // A child that has exited by itself by the time the test goes on.
  void LaunchAChildThatExits() {
    sim::Program p;
    p.exitAfterMs = 10;
    Configure(rec, App, p);
    ASSERT_TRUE(rec.Launch());
    sim::Advance(20);
  }

  const char* const App = "C:\\Srv\\alpha.exe";
  tclPrc rec;
};

// ---- The service role --------------------------------------------------------------

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

}  // namespace kit
