// Simulated consoles: attaching to a program's console and the control events
// sent to everyone attached to it.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

// How much later than the sender's call this process's routines run: long
// enough that a sender that does not wait for them has moved on.
const auto OwnDeliveryDelay = std::chrono::milliseconds(20);

// Guarded by Mu().
struct Consoles {
  int attached = 0;   // the console this process is attached to; 0: none
  std::vector<PHANDLER_ROUTINE> routines;
  bool endedByEvent = false;
} g_consoles;

// Its own lock: the routines' threads take Mu().
std::mutex g_deliveriesMu;
std::vector<std::thread> g_deliveries;

// What the console does in this process: run the routines, newest first.
void DeliverToSelf(DWORD event) {
  std::this_thread::sleep_for(OwnDeliveryDelay);
  HoldPoint("HandlerRoutine");   // a copy later than any the sender could wait for
  std::vector<PHANDLER_ROUTINE> routines;
  {
    std::lock_guard<std::mutex> hold(Mu());
    routines = g_consoles.routines;
  }
  for (auto it = routines.rbegin(); it != routines.rend(); ++it)
    if ((*it)(event)) return;
  std::lock_guard<std::mutex> hold(Mu());
  g_consoles.endedByEvent = true;
}

void JoinDeliveries() {
  std::vector<std::thread> deliveries;
  {
    std::lock_guard<std::mutex> hold(g_deliveriesMu);
    deliveries.swap(g_deliveries);
  }
  for (std::thread& t : deliveries) t.join();
}

}  // namespace

namespace sim {
namespace detail {

// The routines are this process's own code, which a fresh machine does not
// restart: they stay, as they would for the process's life.
void ResetConsoles() {
  JoinDeliveries();
  std::lock_guard<std::mutex> hold(Mu());
  g_consoles.attached = 0;
  g_consoles.endedByEvent = false;
}

int AttachedConsoleLocked() { return g_consoles.attached; }

}  // namespace detail

bool EndedByConsoleEvent() {
  JoinDeliveries();
  std::lock_guard<std::mutex> hold(Mu());
  return g_consoles.endedByEvent;
}

int ConsoleCtrlRoutineCount() {
  std::lock_guard<std::mutex> hold(Mu());
  return int(g_consoles.routines.size());
}

}  // namespace sim

BOOL AttachConsole(DWORD processId) {
  std::lock_guard<std::mutex> hold(Mu());
  if (g_consoles.attached != 0) return Fail(ERROR_ACCESS_DENIED);
  ProcRec* p = FindProcessLocked(processId);
  if (p == nullptr || !AliveLocked(*p)) return Fail(ERROR_INVALID_PARAMETER);
  if (p->console == 0) return Fail(ERROR_INVALID_HANDLE);
  g_consoles.attached = p->console;
  return TRUE;
}

BOOL FreeConsole() {
  std::lock_guard<std::mutex> hold(Mu());
  g_consoles.attached = 0;
  return TRUE;
}

BOOL GenerateConsoleCtrlEvent(DWORD event, DWORD processGroupId) {
  HoldPoint("GenerateConsoleCtrlEvent");
  {
    std::lock_guard<std::mutex> hold(Mu());
    if (g_consoles.attached == 0) return Fail(ERROR_INVALID_HANDLE);
    if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || processGroupId != 0)
      return Fail(ERROR_INVALID_PARAMETER);
    for (ProcRec* p : AllProcessesLocked()) {
      if (p->console != g_consoles.attached || !AliveLocked(*p)) continue;
      ++p->ctrlEvents;
      if (p->program.exitsOnCtrlMs >= 0)
        ExitOnRequestLocked(*p, p->program.exitsOnCtrlMs, p->program.exitCode);
    }
  }
  std::lock_guard<std::mutex> hold(g_deliveriesMu);
  g_deliveries.emplace_back(DeliverToSelf, event);
  return TRUE;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  std::lock_guard<std::mutex> hold(Mu());
  // The form without a routine would be inherited by every program started
  // later; the system must not use it.
  if (routine == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::vector<PHANDLER_ROUTINE>& routines = g_consoles.routines;
  if (add) {
    routines.push_back(routine);
    return TRUE;
  }
  auto it = std::find(routines.rbegin(), routines.rend(), routine);
  if (it == routines.rend()) return Fail(ERROR_INVALID_PARAMETER);
  routines.erase(std::next(it).base());
  return TRUE;
}
