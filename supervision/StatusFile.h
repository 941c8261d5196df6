// The status file: what the service last saw of each program, replaced whole
// so that the console's "-status" never reads half of it. Supervision knows
// no service: whoever writes passes the service's facts in.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "supervision/tclPrc.h"

class tclPrcList;

struct ProgramStatus {
  int32_t Number = 0;
  std::string Name;       // ProcessName, "-" when it has none
  std::string State;      // running, stopped, paused, waiting, hung, unhealthy or failed
  std::string ProcessId;  // "-" while no child runs
  std::string Since;
  uint32_t Restarts = 0;
  int32_t HangCount = 0;
};

struct StatusHeader {
  DWORD WriterId = 0;     // process id of the service that wrote the file
  std::string Started;    // when that service started
  std::string Written;
  std::string Service;    // that service's own state when it wrote
  uint32_t Reloads = 0;   // reloads done by that service; none: no such line
  std::string ReloadOutcome;
  // Reload requests: how many were asked for, how many of them the last
  // reload begun covers, and the ms that reload may take while it is being
  // applied (0 otherwise). None asked: no such line.
  uint32_t ReloadsAsked = 0;
  uint32_t ReloadsCovered = 0;
  uint32_t ReloadBudget = 0;
};

ProgramStatus ProgramStatusOf(int32_t number, const std::string& processName,
                              const tclPrcFacts& facts, bool waiting);
std::vector<ProgramStatus> ProgramStatuses(tclPrcList& list);

std::string FormatStatus(const StatusHeader& header, const std::vector<ProgramStatus>& rows);
// False for a file that is not a status file of this version.
bool ParseStatus(const std::string& text, StatusHeader& header, std::vector<ProgramStatus>& rows);

// Writes the file when anything but its time of writing changed. A failure
// is logged once; supervision goes on whatever happens to the file.
class tclStatusWriter {
 public:
  // A new service run: nothing written yet. A path whose temporary name is
  // too long for the platform fails every write alike: that is logged now.
  void Begin(const std::string& path, DWORD writerId, const std::string& started);
  // The name the file is written under before it is renamed over the old one.
  static std::string TemporaryPathOf(const std::string& path);
  // The state and the rows are read under the writer's lock, so that the
  // last file written holds the latest facts, whichever thread wrote it.
  void Write(std::string (*serviceState)(), tclPrcList& list);
  // One more reload request, counted before the loop can take it.
  void NoteReloadAsked();
  // The loop took the requests asked so far; applying them may take up to
  // `budgetMs`.
  void NoteReloadBegun(uint32_t budgetMs);
  // The next write carries this outcome under the next reload number; the
  // reload is no longer being applied.
  void NoteReload(const std::string& outcome);

 private:
  std::mutex Lock;   // the pass and the control handler both write
  std::string Path;
  StatusHeader Header;
  std::string LastBody;
  bool FailureLogged = false;
};
