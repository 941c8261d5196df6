// Turning the program sections of the configuration file into the table.
#include "config/Loader.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "supervision/tclPrcList.h"

bool tclPrcList::LoadFromIni() {
  tclFileSettings file = ReadFileSettings(Ini);
  RestartInterval = file.RestartInterval;
  if (!Allocate(file.Programs)) {
    Log.FileLine("Could not allocate enough memory.", true);
    return false;
  }
  Log.FileLine("", true);
  Log.FileLine("Load completed.", true);
  return true;
}

int32_t tclPrcList::FindByName(const std::string& name) {
  if (name.empty()) return -1;
  int32_t count = CountSections(Ini);
  FileSwitch quiet(Log, false);
  for (int32_t i = 0; i < count; ++i)
    if (Ini.ReadProcessName(i) == name) return i;
  return -1;
}
