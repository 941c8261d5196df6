#include "config/OutputPaths.h"

#include "config/Environment.h"
#include "config/Locations.h"
#include "platform/win.h"

namespace {

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string Resolved(const std::string& value, const std::vector<std::string>& entries) {
  return value.empty() ? value
                       : FullOutputPath(ExpandForProgram(value, entries), ModuleDirectory());
}

}  // namespace

// "C:\x", "\\server\share\x" and "\x" (the current drive's root) stand as
// they are; "logs\x" and "x" hang off the directory.
std::string FullOutputPath(const std::string& value, const std::string& directory) {
  bool drive = value.size() >= 2 && value[1] == ':';
  bool rooted = !value.empty() && (value[0] == '\\' || value[0] == '/');
  return drive || rooted ? value : directory + value;
}

std::string FolderOf(const std::string& path) {
  std::string::size_type slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return "";
  bool root = slash == 0 || (slash == 2 && path[1] == ':');
  return path.substr(0, root ? slash + 1 : slash);
}

void ResolveOutputLogs(tclIni& ini, tclLaunchSettings& launch,
                       const std::vector<std::string>& entries) {
  launch.OutputLog = Resolved(launch.OutputLog, entries);
  launch.ErrorLog = Resolved(launch.ErrorLog, entries);
  for (const std::string* path : {&launch.OutputLog, &launch.ErrorLog}) {
    if (path->empty() || IsFolder(FolderOf(*path))) continue;
    ini.Error("Error: The output log's folder does not exist: " + FolderOf(*path));
    launch.OutputLog.clear();
    launch.ErrorLog.clear();
    return;
  }
}
