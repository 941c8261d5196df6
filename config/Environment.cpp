#include "config/Environment.h"

#include <algorithm>
#include <cstring>

#include "config/Constants.h"
#include "config/tclIni.h"
#include "log/tclLog.h"
#include "platform/win.h"

namespace {

// Hidden variables ("=C:=C:\dir") have names that begin with "=".
std::string NameOf(const std::string& variable) {
  return variable.substr(0, variable.find('=', 1));
}

std::string ValueOf(const std::string& variable) {
  std::string::size_type equals = variable.find('=', 1);
  return equals == std::string::npos ? "" : variable.substr(equals + 1);
}

// Windows orders the block by names compared in upper case.
std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return upper;
}

bool SameName(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

std::vector<std::string>::iterator Find(std::vector<std::string>& variables,
                                        const std::string& name) {
  return std::find_if(variables.begin(), variables.end(),
                      [&](const std::string& v) { return SameName(NameOf(v), name); });
}

// References pair up from the left: "%NAME%" takes the variable's value,
// "%%" is one "%", and a name nothing defines stays as written.
std::string Expand(const std::string& value, std::vector<std::string>& variables,
                   std::vector<std::string>& undefined) {
  std::string out;
  std::string::size_type at = 0, open;
  while ((open = value.find('%', at)) != std::string::npos) {
    std::string::size_type close = value.find('%', open + 1);
    if (close == std::string::npos) break;
    out += value.substr(at, open - at);
    std::string name = value.substr(open + 1, close - open - 1);
    auto found = name.empty() ? variables.end() : Find(variables, name);
    if (name.empty()) {
      out += '%';
    } else if (found != variables.end()) {
      out += ValueOf(*found);
    } else {
      out += '%' + name + '%';
      if (std::find(undefined.begin(), undefined.end(), name) == undefined.end())
        undefined.push_back(name);
    }
    at = close + 1;
  }
  return out + value.substr(at);
}

// If this fails the program would start with its configured variables alone.
std::vector<std::string> ServiceEnvironment() {
  std::vector<std::string> variables;
  char* block = GetEnvironmentStringsA();
  if (block == nullptr) {
    Ini.Error("Error: The service's environment cannot be read.");
    return variables;
  }
  for (const char* v = block; *v != '\0'; v += strlen(v) + 1) variables.push_back(v);
  FreeEnvironmentStringsA(block);
  return variables;
}

void WarnUndefined(const std::string& name) {
  Ini.Error("Warning: Undefined environment variable kept as written: %" + name + "%");
}

}  // namespace

std::vector<std::string> ReadEnvironmentEntries(const std::string& section) {
  std::vector<std::string> entries;
  for (int i = 0;; ++i) {
    std::string key = KeyEnvPrefix + std::to_string(i);
    std::string entry;
    {
      // An echo would show the value, often a secret. Only the echo goes:
      // turning the log file off would drop other threads' lines meanwhile.
      tclIniQuiet quiet(Ini);
      entry = Ini.ReadValue(section, key, "");
    }
    if (entry.empty()) return entries;
    std::string::size_type equals = entry.find('=');
    if (equals == std::string::npos || equals == 0)
      Ini.Error("Error: Invalid environment entry = " + section + " " + key);
    else
      entries.push_back(entry);
  }
}

std::vector<std::string> MergeEnvironment(const std::vector<std::string>& common,
                                          const std::vector<std::string>& own) {
  std::vector<std::string> merged;
  for (const std::string& entry : common)
    if (std::none_of(own.begin(), own.end(), [&](const std::string& o) {
          return SameName(NameOf(o), NameOf(entry));
        }))
      merged.push_back(entry);
  merged.insert(merged.end(), own.begin(), own.end());
  return merged;
}

tclEnvironment BuildEnvironment(const std::vector<std::string>& inherited,
                                const std::vector<std::string>& entries) {
  tclEnvironment built;
  std::vector<std::string> variables = inherited;
  for (const std::string& entry : entries) {
    std::string name = NameOf(entry);
    std::string value = Expand(ValueOf(entry), variables, built.Undefined);
    auto found = Find(variables, name);
    if (found != variables.end()) {
      name = NameOf(*found);   // the spelling the service has is kept: one "Path", never two
      *found = name + "=" + value;
    } else {
      variables.push_back(name + "=" + value);
    }
    if (std::find(built.Names.begin(), built.Names.end(), name) == built.Names.end())
      built.Names.push_back(name);
  }
  std::stable_sort(variables.begin(), variables.end(),
                   [](const std::string& a, const std::string& b) {
                     return Upper(NameOf(a)) < Upper(NameOf(b));
                   });
  for (const std::string& v : variables) built.Block += v + '\0';
  built.Block += '\0';
  return built;
}

std::string ExpandForProgram(const std::string& value, const std::vector<std::string>& entries) {
  tclEnvironment built = BuildEnvironment(ServiceEnvironment(), entries);
  std::vector<std::string> variables;
  for (const char* v = built.Block.data(); *v != '\0'; v += strlen(v) + 1) variables.push_back(v);
  std::vector<std::string> undefined;
  std::string expanded = Expand(value, variables, undefined);
  for (const std::string& name : undefined) WarnUndefined(name);
  return expanded;
}

std::string ProgramEnvironment(const std::vector<std::string>& entries) {
  if (entries.empty()) return "";
  tclEnvironment built = BuildEnvironment(ServiceEnvironment(), entries);
  std::string names;
  for (const std::string& name : built.Names) names += (names.empty() ? "" : ", ") + name;
  if (Ini.Echo) Log.FileLine("   Environment variables set: " + names, true);
  for (const std::string& name : built.Undefined) WarnUndefined(name);
  return built.Block;
}
