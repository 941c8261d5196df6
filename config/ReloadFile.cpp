// The configuration file read again for a reload: into settings of their
// own, never into the running records, and refused whole where it looks
// damaged.
#include "config/Loader.h"
#include "config/Locations.h"

bool ReadForReload(tclIni& ini, tclFileSettings& file, std::string& reason) {
  if (!CanReadFile(ini.FilePath(), reason)) return false;
  tclIniQuiet quiet(ini);
  int32_t count = CountSections(ini);
  // A section deleted without renumbering the rest would silently drop
  // every program after it.
  for (int32_t later = count + 1; later < MaxProcesses; ++later) {
    if (!ini.ReadAppName(later).empty()) {
      reason = tclIni::SectionName(count) + " has no AppName, but " + tclIni::SectionName(later) +
               " has one: a gap hides the sections after it.";
      return false;
    }
  }
  file = ReadFileSettings(ini);
  return true;
}
