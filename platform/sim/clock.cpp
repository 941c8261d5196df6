// Virtual clock, local time, last error, and the reset of the whole machine.
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/sim/sim_internal.h"

namespace {

std::atomic<uint64_t> g_now{0};
std::atomic<int64_t> g_tickBase{0};   // real ms at Reset
std::atomic<uint32_t> g_ticksAdded{0};   // by AdvanceTicks, wrapping like the ticks
std::atomic<bool> g_ticksFollowClock{false};
thread_local DWORD t_lastError = 0;
thread_local bool t_serviceSide = false;

const SYSTEMTIME DefaultBase = {2007, 3, 1, 5, 9, 4, 5, 0};   // Mon Mar 05 09:04:05 2007
SYSTEMTIME g_base = DefaultBase;   // guarded by Mu()

int64_t RealMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

namespace sim {
namespace detail {

std::mutex& Mu() {
  static std::mutex mu;
  return mu;
}

void AdvanceTo(uint64_t t) {
  uint64_t now = g_now.load();
  while (now < t && !g_now.compare_exchange_weak(now, t)) {
  }
}

bool OnServiceSide() { return t_serviceSide; }
void SetServiceSide(bool serviceSide) { t_serviceSide = serviceSide; }

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

void ResetClock() {
  g_now.store(0);
  g_tickBase.store(RealMs());
  g_ticksAdded.store(0);
  g_ticksFollowClock.store(false);
  std::lock_guard<std::mutex> hold(Mu());
  g_base = DefaultBase;
}

}  // namespace detail

uint64_t Now() { return g_now.load(); }

void Advance(uint64_t ms) { g_now.fetch_add(ms); }

void AdvanceTicks(DWORD ms) { g_ticksAdded.fetch_add(ms); }

void TicksFollowClock(bool follow) { g_ticksFollowClock.store(follow); }

void SetLocalTimeBase(const SYSTEMTIME& t) {
  std::lock_guard<std::mutex> hold(detail::Mu());
  g_base = t;
}

// Service threads first: they must be gone before the state they use is.
void Reset() {
  detail::ResetHolds();
  detail::ResetServices();
  detail::ResetConsoles();
  detail::ResetProcesses();
  detail::ResetWindows();
  detail::ResetFiles();
  detail::ResetMutexes();
  detail::ResetSockets();
  detail::ResetClock();
  t_lastError = 0;
}

}  // namespace sim

DWORD GetLastError() { return t_lastError; }

DWORD GetTickCount() {
  uint64_t base = g_ticksFollowClock ? sim::Now() : uint64_t(RealMs() - g_tickBase.load());
  return DWORD(base + g_ticksAdded.load());
}

void SetLastError(DWORD error) { t_lastError = error; }

DWORD GetCurrentProcessId() { return sim::OwnProcessId; }

void Sleep(DWORD milliseconds) {
  if (milliseconds > 0) g_now.fetch_add(milliseconds);
  sim::detail::NoteSleep(milliseconds);
  std::this_thread::yield();
}

void GetLocalTime(SYSTEMTIME* time) {
  if (time == nullptr) return;
  SYSTEMTIME base;
  {
    std::lock_guard<std::mutex> hold(sim::detail::Mu());
    base = g_base;
  }
  std::tm tm = {};
  tm.tm_year = base.wYear - 1900;
  tm.tm_mon = base.wMonth - 1;
  tm.tm_mday = base.wDay;
  tm.tm_hour = base.wHour;
  tm.tm_min = base.wMinute;
  tm.tm_sec = base.wSecond;
  int64_t totalMs = int64_t(timegm(&tm)) * 1000 + base.wMilliseconds + int64_t(g_now.load());
  time_t seconds = time_t(totalMs / 1000);
  std::tm out = {};
  gmtime_r(&seconds, &out);
  *time = {WORD(out.tm_year + 1900), WORD(out.tm_mon + 1), WORD(out.tm_wday), WORD(out.tm_mday),
           WORD(out.tm_hour), WORD(out.tm_min), WORD(out.tm_sec), WORD(totalMs % 1000)};
}
