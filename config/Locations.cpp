#include "config/Locations.h"

#include <cstdio>

#include "config/Constants.h"
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
