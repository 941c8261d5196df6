// The configuration file read again for a reload: into records of their own,
// never into the running ones, and refused whole where it looks damaged.
#include <cstdio>

#include "config/Constants.h"
#include "config/Environment.h"
#include "config/tclIni.h"
#include "platform/win.h"
#include "supervision/tclPrcList.h"

namespace {

// A missing file reads as one without sections: taken as it stands it would
// stop every program.
bool CanRead(const std::string& path, std::string& reason) {
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    reason = "the file is missing: " + path;
    return false;
  }
  FILE* file = OpenFileA(path.c_str(), "rb");
  if (file == nullptr) {
    reason = "the file cannot be read: " + path;
    return false;
  }
  fclose(file);
  return true;
}

}  // namespace

bool tclPrcList::ReadCandidates(tclPrcSlots& candidates, std::string& reason) {
  candidates.clear();
  if (!CanRead(Ini.FilePath(), reason)) return false;
  tclIniQuiet quiet(Ini);
  int32_t count = 0;
  while (count < MaxProcesses && !Ini.ReadAppName(count).empty()) ++count;
  // A section deleted without renumbering the rest would silently drop
  // every program after it.
  for (int32_t later = count + 1; later < MaxProcesses; ++later) {
    if (!Ini.ReadAppName(later).empty()) {
      reason = tclIni::SectionName(count) + " has no AppName, but " + tclIni::SectionName(later) +
               " has one: a gap hides the sections after it.";
      return false;
    }
  }
  tclStopMethod stopMethod = Ini.ReadOptionalStopMethod(SettingsSection, tclStopMethod::Quit);
  std::vector<std::string> commonEnvironment = ReadEnvironmentEntries(SettingsSection);
  for (int32_t i = 0; i < count; ++i) {
    candidates.emplace_back(new tclPrc);
    ReadRecord(i, stopMethod, commonEnvironment, *candidates.back());
  }
  return true;
}
