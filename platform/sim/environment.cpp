// The service's own environment, as GetEnvironmentStringsA hands it out.
#include <cstring>

#include "platform/sim/sim_internal.h"

namespace {

const std::vector<std::string> Default = {"=C:=C:\\QuarnLoader",
                                          "Path=C:\\Windows\\system32;C:\\Windows",
                                          "SystemRoot=C:\\Windows"};
std::mutex g_mu;
std::vector<std::string> g_variables = Default;

}  // namespace

void sim::SetEnvironment(const std::vector<std::string>& variables) {
  std::lock_guard<std::mutex> hold(g_mu);
  g_variables = variables;
}

void sim::detail::ResetEnvironment() { SetEnvironment(Default); }

LPCH GetEnvironmentStringsA() {
  std::lock_guard<std::mutex> hold(g_mu);
  std::string block;
  for (const std::string& v : g_variables) block += v + '\0';
  char* copy = new char[block.size() + 1];
  memcpy(copy, block.c_str(), block.size() + 1);   // the terminator ends the block
  return copy;
}

BOOL FreeEnvironmentStringsA(LPCH block) {
  delete[] block;
  return TRUE;
}
