#include "config/Locations.h"

#include <cstdio>

#include "config/Constants.h"
#include "config/Globals.h"
#include "platform/win.h"

namespace {
const unsigned ModulePathRoom = 500;
}

std::string ModuleDirectory() {
  char path[ModulePathRoom + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, ModulePathRoom);
  // A result that fills the room is a path cut short: no directory can be
  // trusted from it.
  if (n == 0 || n >= ModulePathRoom) return DefaultDirectory;
  std::string full(path, n);
  std::string::size_type i = full.rfind('\\');
  if (i == std::string::npos || i < 2) return DefaultDirectory;
  return full.substr(0, i + 1);
}

bool FitsPathLimit(const std::string& path) { return path.size() < MAX_PATH; }

bool CanReadFile(const std::string& path, std::string& reason) {
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

void tclService::SetUpPaths() {
  Directory = ModuleDirectory();
  ExecutablePath = Directory + ExeFileName;
  Log.SetPath(Directory + LogFileName);
  Ini.SetPath(Directory + IniFileName);
  StatusPath = Directory + StatusFileName;
}

// A backup the platform cannot rename to stops the rotation for good, and
// the log then grows without bound. All backup names have the same length.
void tclService::CheckLogBackupPath(int32_t backups) {
  std::string backup = tclLog::BackupPathOf(Log.GetPath(), backups);
  if (!FitsPathLimit(backup))
    Log.FileLine("Warning: The log cannot be kept within " + KeyLogMaxSize +
                     ": this path is too long: " + backup,
                 true);
}
