// The simulated service's own environment, as GetEnvironmentStringsA hands it out.
#include <cstring>

#include "platform/sim/sim_internal.h"

namespace {

// What a service started by the manager typically has, hidden drive variable included.
const std::vector<std::string> Default = {
    "=C:=C:\\QuarnLoader", "Path=C:\\Windows\\system32;C:\\Windows", "SystemRoot=C:\\Windows",
    "TEMP=C:\\Windows\\TEMP"};

std::mutex g_mu;
std::vector<std::string> g_variables = Default;
bool g_fails = false;

}  // namespace

namespace sim {

void SetEnvironment(const std::vector<std::string>& variables, bool fails) {
  std::lock_guard<std::mutex> hold(g_mu);
  g_variables = variables;
  g_fails = fails;
}

namespace detail {

void ResetEnvironment() { SetEnvironment(Default, false); }

std::vector<std::string> BlockStrings(const void* block) {
  std::vector<std::string> strings;
  for (const char* s = static_cast<const char*>(block); *s != '\0'; s += strlen(s) + 1)
    strings.push_back(s);
  return strings;
}

}  // namespace detail
}  // namespace sim

LPCH GetEnvironmentStringsA() {
  std::lock_guard<std::mutex> hold(g_mu);
  if (g_fails) return nullptr;
  std::string block;
  for (const std::string& v : g_variables) block += v + '\0';
  block += '\0';
  char* copy = new char[block.size()];
  memcpy(copy, block.data(), block.size());
  return copy;
}

BOOL FreeEnvironmentStringsA(LPCH block) {
  delete[] block;
  return TRUE;
}
