// The configuration file read again for a reload: into settings of their
// own, never into the running records, and refused whole where it looks
// damaged.
#include <cstdio>

#include "config/Loader.h"
#include "platform/win.h"

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

bool ReadForReload(tclIni& ini, tclFileSettings& file, std::string& reason) {
  if (!CanRead(ini.FilePath(), reason)) return false;
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
