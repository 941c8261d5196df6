// Simulated mutexes. As in Windows a mutex belongs to the thread that took
// it, so threads standing in for two processes really contend for one name;
// a wait takes real time, up to its time-out, since the other side is a real
// thread and not the virtual clock. Handles carry access rights, as the
// service's and an administrator's console get different ones.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "platform/sim/sim_internal.h"

namespace sim {
namespace detail {
struct MutexRec {
  std::thread::id owner;
  int depth = 0;   // takes by the owner not yet released
  DWORD othersMay = MUTEX_ALL_ACCESS;   // granted to all but the creator
};
}  // namespace detail
}  // namespace sim

using namespace sim::detail;

namespace {

// Guarded by g_mu, never taken together with Mu(). Handles are never freed,
// not even by Reset, so that a stale one is found closed, never reused.
std::mutex g_mu;
std::condition_variable g_released;
std::vector<std::unique_ptr<MutexRec>> g_mutexes;
std::map<std::string, MutexRec*> g_names;   // names are case-sensitive
Objects<SimObject> g_handles;

MutexRec* OpenMutexOf(HANDLE handle) {
  if (!g_handles.Has(handle) || handle->closed) return nullptr;
  return handle->mutex;
}

// Only the session prefixes may hold a backslash; any other is a path into
// object folders that do not exist.
bool ValidName(const std::string& name) {
  std::string rest = name;
  for (const char* prefix : {"Global\\", "Local\\"})
    if (rest.compare(0, std::strlen(prefix), prefix) == 0) rest = rest.substr(std::strlen(prefix));
  return rest.find('\\') == std::string::npos;
}

HANDLE NewHandleLocked(MutexRec* mutex, DWORD access) {
  return g_handles.Add({SimObject::MutexHandle, nullptr, false, mutex, 0, access});
}

// What a descriptor string's allow entry for Administrators grants, as in
// "D:(A;;0x100001;;;BA)"; without such an entry, nothing.
DWORD AdministratorsMay(const char* descriptor) {
  const std::string text = descriptor;
  const std::string::size_type end = text.find(";;;BA)");
  const std::string::size_type start = text.rfind("(A;;", end);
  if (end == std::string::npos || start == std::string::npos) return 0;
  return DWORD(std::strtoul(text.c_str() + start + 4, nullptr, 0));
}

// The failure a test armed for that call, taken.
DWORD Armed(const char* function) {
  std::lock_guard<std::mutex> hold(Mu());
  return TakeFailureLocked(function);
}

// The creator's handle.
HANDLE CreateLocked(const char* name, DWORD othersMay) {
  g_mutexes.push_back(std::make_unique<MutexRec>());
  MutexRec* m = g_mutexes.back().get();
  m->othersMay = othersMay;
  if (name != nullptr) g_names[name] = m;
  return NewHandleLocked(m, MUTEX_ALL_ACCESS);
}

}  // namespace

namespace sim {
namespace detail {

void ResetMutexes() {
  std::lock_guard<std::mutex> hold(g_mu);
  for (auto& h : g_handles.all) h->closed = true;
  g_names.clear();
  g_released.notify_all();
}

bool IsMutexHandle(HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_mu);
  return g_handles.Has(handle);
}

BOOL CloseMutexHandle(HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_mu);
  if (OpenMutexOf(handle) == nullptr) return Fail(ERROR_INVALID_HANDLE);
  handle->closed = true;
  return TRUE;
}

DWORD WaitForMutex(HANDLE handle, DWORD milliseconds) {
  std::unique_lock<std::mutex> hold(g_mu);
  MutexRec* m = OpenMutexOf(handle);
  if (m == nullptr) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  if ((handle->access & SYNCHRONIZE) == 0) return Fail(ERROR_ACCESS_DENIED, WAIT_FAILED);
  const std::thread::id me = std::this_thread::get_id();
  auto free = [&] { return m->depth == 0 || m->owner == me; };
  if (milliseconds == INFINITE)
    g_released.wait(hold, free);
  else if (!g_released.wait_for(hold, std::chrono::milliseconds(milliseconds), free))
    return WAIT_TIMEOUT;
  m->owner = me;
  ++m->depth;
  return WAIT_OBJECT_0;
}

}  // namespace detail

HANDLE CreateMutexAsService(const std::string& name) {
  std::lock_guard<std::mutex> hold(g_mu);
  return CreateLocked(name.c_str(), SYNCHRONIZE);
}

}  // namespace sim

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) {
  if (DWORD armed = Armed("CreateMutexA")) return Fail(armed, HANDLE());
  std::lock_guard<std::mutex> hold(g_mu);
  if (name != nullptr) {
    if (!ValidName(name)) return Fail(ERROR_PATH_NOT_FOUND, HANDLE());
    auto it = g_names.find(name);
    if (it != g_names.end()) {
      // Creating asks for everything.
      if (it->second->othersMay != MUTEX_ALL_ACCESS) return Fail(ERROR_ACCESS_DENIED, HANDLE());
      SetLastError(ERROR_ALREADY_EXISTS);
      return NewHandleLocked(it->second, MUTEX_ALL_ACCESS);
    }
  }
  const void* descriptor = attributes != nullptr ? attributes->lpSecurityDescriptor : nullptr;
  HANDLE handle = CreateLocked(name, descriptor != nullptr
                                         ? AdministratorsMay(static_cast<const char*>(descriptor))
                                         : MUTEX_ALL_ACCESS);
  MutexRec* m = handle->mutex;
  if (initialOwner) {
    m->owner = std::this_thread::get_id();
    m->depth = 1;
  }
  SetLastError(0);
  return handle;
}

HANDLE OpenMutexA(DWORD desiredAccess, BOOL, LPCSTR name) {
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, HANDLE());
  std::lock_guard<std::mutex> hold(g_mu);
  auto it = g_names.find(name);
  if (it == g_names.end()) return Fail(ERROR_FILE_NOT_FOUND, HANDLE());
  if ((desiredAccess & ~it->second->othersMay) != 0) return Fail(ERROR_ACCESS_DENIED, HANDLE());
  return NewHandleLocked(it->second, desiredAccess);
}

BOOL ReleaseMutex(HANDLE mutex) {
  if (DWORD armed = Armed("ReleaseMutex")) return Fail(armed);
  std::lock_guard<std::mutex> hold(g_mu);
  MutexRec* m = OpenMutexOf(mutex);
  if (m == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if ((mutex->access & MUTEX_MODIFY_STATE) == 0) return Fail(ERROR_ACCESS_DENIED);
  if (m->depth == 0 || m->owner != std::this_thread::get_id()) return Fail(ERROR_NOT_OWNER);
  if (--m->depth == 0) {
    m->owner = std::thread::id();
    g_released.notify_all();
  }
  return TRUE;
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG) {
  if (text == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1)
    return Fail(ERROR_INVALID_PARAMETER);
  char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  *descriptor = copy;
  return TRUE;
}
