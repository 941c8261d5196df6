// Command-line dispatch with one to three arbitrary arguments against the
// simulated service manager. Input: one byte choosing the service's state,
// then the arguments separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "entry/Entry.h"
#include "platform/sim/sim.h"
#include "tests/unit/TestKit.h"

namespace {

const char* const ServiceName = "(Quarn) Server Loader";

void FreshProcess() {
  sim::Reset();
  kit::FreshGlobals();
  sim::WriteFile(kit::IniPath,
                 "[Process_0]\r\nAppName=C:\\a.exe\r\nProcessName=web\r\n"
                 "[Process_1]\r\nAppName=C:\\b.exe\r\nProcessName=00\r\n");
}

void ArrangeService(uint8_t choice) {
  switch (choice % 6) {
    case 0: break;  // not installed
    case 1: sim::AddService(ServiceName, SERVICE_RUNNING); break;
    case 2: sim::AddService(ServiceName, SERVICE_STOPPED); break;
    case 3: sim::AddService(ServiceName, SERVICE_PAUSED); break;
    case 4:
      sim::AddService(ServiceName, SERVICE_STOPPED);
      sim::ScriptServiceStates(ServiceName, {SERVICE_STOPPED, SERVICE_START_PENDING});
      break;
    default:
      sim::AddService(ServiceName, SERVICE_RUNNING);
      sim::SetAdministrator(false);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The banner, usage and messages would drown the fuzzer's own output.
  if (!freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FreshProcess();
  ArrangeService(data[0]);

  std::vector<std::string> args = {"C:\\QuarnLoader\\QuarnLoader.exe"};
  std::string current;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
      if (args.size() == 4) break;
    } else {
      current += char(data[i]);
    }
  }
  if (args.size() < 4) args.push_back(current);

  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int status = Entry(int(args.size()), argv.data());
  if (status != 0 && status != -1) __builtin_trap();
  // Nothing outside the table's range may ever reach the manager as a process code.
  std::vector<DWORD> sent = sim::ControlsSent();
  if (sent.size() == 3 && (sent[2] < 128 || sent[2] > 254)) __builtin_trap();
  if (sim::OpenScHandleCount() != 0) __builtin_trap();
  return 0;
}
