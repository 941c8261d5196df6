#include "config/Locations.h"

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
