// "-status": the service manager's view of the service and the status file
// its service wrote, on the console only.
#include <algorithm>
#include <cstdio>

#include "entry/Entry.h"
#include "log/tclLog.h"
#include "scm_client/Report.h"
#include "service/Service.h"
#include "service/tclService.h"
#include "supervision/StatusFile.h"

namespace {

// A file is this run's when its writer is the process the service manager
// names; a stopped service has none, and then only the file written at the
// stop counts. Anything else was left by an earlier run.
bool IsCurrent(const StatusHeader& header, const SERVICE_STATUS_PROCESS& scm) {
  if (scm.dwCurrentState == SERVICE_STOPPED) return header.Service == "stopped";
  return scm.dwProcessId != 0 && header.WriterId == scm.dwProcessId;
}

std::string Pad(const std::string& text, size_t width, bool right) {
  std::string fill(width > text.size() ? width - text.size() : 0, ' ');
  return right ? fill + text : text + fill;
}

void PrintRows(const std::vector<ProgramStatus>& rows) {
  const bool right[] = {true, false, false, true, false, true};
  std::vector<std::vector<std::string>> cells;
  size_t widths[6] = {};
  for (const ProgramStatus& r : rows) {
    cells.push_back({std::to_string(r.Number), r.Name, r.State, r.ProcessId, r.Since,
                     std::to_string(r.Restarts)});
    for (size_t c = 0; c < 6; ++c) widths[c] = std::max(widths[c], cells.back()[c].size());
  }
  for (const std::vector<std::string>& row : cells) {
    std::string line;
    for (size_t c = 0; c < 6; ++c) line += (c ? "  " : "") + Pad(row[c], widths[c], right[c]);
    Log.ConsoleLine(line, false);
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text) {
  FILE* file = OpenFileA(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  fclose(file);
  return true;
}

int ShowStatus() {
  bool installed = false;
  SERVICE_STATUS_PROCESS scm;
  if (!Service.QueryProcessStatus(installed, scm)) return -1;
  std::string state = installed ? ServiceStateWord(scm.dwCurrentState) : "not installed";
  Log.ConsoleLine("Service " + Service.Name + ": " + state, false);
  if (!installed) {
    Report("The service is not installed, so it has no status.");
    return -1;
  }
  std::string text;
  StatusHeader header;
  std::vector<ProgramStatus> rows;
  if (!ReadWholeFile(Service.StatusPath, text)) {
    Report("No status file was found: " + Service.StatusPath);
    return -1;
  }
  if (!ParseStatus(text, header, rows)) {
    Report("The status file cannot be read: " + Service.StatusPath);
    return -1;
  }
  Log.ConsoleLine("Status written " + header.Written, false);
  bool current = IsCurrent(header, scm);
  if (!current)
    Log.ConsoleLine("Note: written by an earlier run of the service (process " +
                        std::to_string(header.WriterId) + ", started " + header.Started +
                        "), so every program shows stopped.",
                    false);
  // Without its service nothing supervises the programs any more.
  if (!current || scm.dwCurrentState == SERVICE_STOPPED) {
    for (ProgramStatus& r : rows) {
      r.State = "stopped";
      r.ProcessId = "-";
    }
  }
  PrintRows(rows);
  return 0;
}
