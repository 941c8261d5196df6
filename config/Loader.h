// The one reader of the configuration file's programs: at the service's
// start, with the account of every key in the log, and at a reload, without.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "config/tclIni.h"
#include "supervision/PrcSettings.h"

// What the file says that a load or a reload takes.
struct tclFileSettings {
  std::vector<tclPrcSettings> Programs;   // by process number
  int32_t RestartInterval = 1000;
  std::string ServiceName;
  bool UserInterface = true;
  bool ParallelStop = false;
  bool StopOnShutdown = false;
};

// Every program section and the settings the table uses, echoed while
// ini.Echo is on.
tclFileSettings ReadFileSettings(tclIni& ini);

// The same, without the echo, for a reload; false with the reason when the
// file cannot be taken as it stands.
bool ReadForReload(tclIni& ini, tclFileSettings& file, std::string& reason);

// How many program sections there are, from Process_0 up to the first
// without an AppName, at most MaxProcesses; the limit reached is logged with
// the echo on.
int32_t CountSections(tclIni& ini);

// A negative time would stand for weeks.
uint32_t Milliseconds(int32_t value);
