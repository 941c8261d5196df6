// Holding one thread at the door of a simulated call, so that a test can run
// another thread through the window that a real race would need luck to hit.
#include <chrono>
#include <condition_variable>

#include "platform/sim/sim_internal.h"

namespace {

std::mutex g_mu;
std::condition_variable g_changed;
std::string g_function;   // armed for the next thread that calls it
bool g_held = false;      // a thread waits at the door
bool g_released = false;

}  // namespace

namespace sim {
namespace detail {

void ResetHolds() {
  ReleaseHold();
  std::lock_guard<std::mutex> hold(g_mu);
  g_function.clear();
  g_released = false;
}

// Runs before the call takes Mu(), so the rest of the machine keeps going.
void HoldPoint(const char* function) {
  std::unique_lock<std::mutex> hold(g_mu);
  if (g_function.empty() || g_function != function) return;
  g_function.clear();
  g_held = true;
  g_released = false;
  g_changed.notify_all();
  g_changed.wait(hold, [] { return g_released; });
  g_held = false;
}

}  // namespace detail

void HoldAt(const std::string& function) {
  std::lock_guard<std::mutex> hold(g_mu);
  g_function = function;
}

bool WaitHeld(int realTimeoutMs) {
  std::unique_lock<std::mutex> hold(g_mu);
  return g_changed.wait_for(hold, std::chrono::milliseconds(realTimeoutMs),
                            [] { return g_held; });
}

void ReleaseHold() {
  std::lock_guard<std::mutex> hold(g_mu);
  g_released = true;
  g_changed.notify_all();
}

}  // namespace sim
