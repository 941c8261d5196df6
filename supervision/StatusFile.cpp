#include "supervision/StatusFile.h"

#include <cstdlib>

#include "log/tclLog.h"
#include "supervision/tclPrcList.h"

namespace {

const char* const FirstLine = "QuarnLoader status 1";
const char* const ProgramKey = "Program";
const char Separator = '\t';

std::string NameOrDash(const std::string& name) {
  if (name.empty()) return "-";
  std::string clean = name;
  for (char& c : clean)
    if (c == Separator || c == '\r' || c == '\n') c = ' ';
  return clean;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string::size_type start = 0, at;
  while ((at = line.find(Separator, start)) != std::string::npos) {
    fields.push_back(line.substr(start, at - start));
    start = at + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

bool Number(const std::string& text, long long& value) {
  if (text.empty() || text.size() > 10) return false;
  char* end = nullptr;
  value = strtoll(text.c_str(), &end, 10);
  return *end == '\0';
}

bool ParseProgram(const std::vector<std::string>& f, ProgramStatus& row) {
  long long number, restarts, hangs;
  if (f.size() != 8 || !Number(f[1], number) || !Number(f[6], restarts) ||
      !Number(f[7], hangs) || number < 0 || restarts < 0)
    return false;
  row.Number = int32_t(number);
  row.Name = f[2];
  row.State = f[3];
  row.ProcessId = f[4];
  row.Since = f[5];
  row.Restarts = uint32_t(restarts);
  row.HangCount = int32_t(hangs);
  return true;
}

// Paused first: the loop leaves such a program alone whatever its child does.
const char* ProgramStateWord(const tclPrcFacts& facts, bool waiting) {
  if (facts.Paused) return "paused";
  if (facts.Alive) return facts.HangCount > 0 ? "hung" : facts.Unhealthy ? "unhealthy" : "running";
  if (facts.GaveUp) return "failed";
  return waiting ? "waiting" : "stopped";
}

}  // namespace

ProgramStatus ProgramStatusOf(int32_t number, const std::string& processName,
                              const tclPrcFacts& facts, bool waiting) {
  ProgramStatus row;
  row.Number = number;
  row.Name = NameOrDash(processName);
  row.State = ProgramStateWord(facts, waiting);
  row.ProcessId = facts.Alive ? std::to_string(facts.ProcessId) : "-";
  row.Since = tclLog::FormatStamp(facts.Since);
  row.Restarts = facts.Restarts;
  row.HangCount = facts.HangCount;
  return row;
}

std::vector<ProgramStatus> ProgramStatuses(tclPrcList& list) {
  std::vector<ProgramStatus> rows;
  std::unique_lock<std::mutex> table = list.HoldTable();
  for (int32_t n = 0; n < list.Count; ++n) {
    tclPrc& record = list.Records[n];
    rows.push_back(ProgramStatusOf(n, record.Settings.ProcessName, record.Facts(),
                                   record.IsWaitingToRestart()));
  }
  // A program a reload removed that could not be ended yet still runs: it is
  // shown, under the number it had, until it has ended.
  for (const tclLeavingPrc& leaving : list.Leaving) {
    tclPrcFacts facts = leaving.Record->Facts();
    if (facts.Alive)
      rows.push_back(ProgramStatusOf(leaving.Number, leaving.Record->Settings.ProcessName, facts,
                                     false));
  }
  return rows;
}

std::string FormatStatus(const StatusHeader& header, const std::vector<ProgramStatus>& rows) {
  std::string text = std::string(FirstLine) + "\r\n";
  text += "Writer\t" + std::to_string(header.WriterId) + "\r\n";
  text += "Started\t" + header.Started + "\r\n";
  text += "Written\t" + header.Written + "\r\n";
  text += "Service\t" + header.Service + "\r\n";
  if (header.Reloads > 0)
    text += "Reload\t" + std::to_string(header.Reloads) + Separator + header.ReloadOutcome + "\r\n";
  if (header.ReloadsAsked > 0)
    text += "ReloadAsked\t" + std::to_string(header.ReloadsAsked) + Separator +
            std::to_string(header.ReloadsCovered) + Separator +
            std::to_string(header.ReloadBudget) + "\r\n";
  for (const ProgramStatus& r : rows) {
    text += std::string(ProgramKey) + Separator + std::to_string(r.Number) + Separator + r.Name +
            Separator + r.State + Separator + r.ProcessId + Separator + r.Since + Separator +
            std::to_string(r.Restarts) + Separator + std::to_string(r.HangCount) + "\r\n";
  }
  return text;
}

bool ParseStatus(const std::string& text, StatusHeader& header, std::vector<ProgramStatus>& rows) {
  header = StatusHeader();
  rows.clear();
  std::vector<std::string> lines;
  std::string::size_type start = 0, at;
  while ((at = text.find('\n', start)) != std::string::npos) {
    std::string line = text.substr(start, at - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = at + 1;
  }
  if (lines.empty() || lines[0] != FirstLine) return false;
  bool haveWriter = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Fields(lines[i]);
    long long writer, reloads, asked, covered, budget;
    if (f[0] == ProgramKey) {
      ProgramStatus row;
      if (!ParseProgram(f, row)) return false;
      rows.push_back(row);
    } else if (f.size() == 2 && f[0] == "Writer" && Number(f[1], writer)) {
      header.WriterId = DWORD(writer);
      haveWriter = true;
    } else if (f.size() == 2 && f[0] == "Started") {
      header.Started = f[1];
    } else if (f.size() == 2 && f[0] == "Written") {
      header.Written = f[1];
    } else if (f.size() == 2 && f[0] == "Service") {
      header.Service = f[1];
    } else if (f.size() == 3 && f[0] == "Reload" && Number(f[1], reloads) && reloads >= 0) {
      header.Reloads = uint32_t(reloads);
      header.ReloadOutcome = f[2];
    } else if (f.size() == 4 && f[0] == "ReloadAsked" && Number(f[1], asked) &&
               Number(f[2], covered) && Number(f[3], budget) && asked >= 0 && covered >= 0 &&
               budget >= 0) {
      header.ReloadsAsked = uint32_t(asked);
      header.ReloadsCovered = uint32_t(covered);
      header.ReloadBudget = uint32_t(budget);
    }
  }
  return haveWriter && !header.Written.empty();
}
