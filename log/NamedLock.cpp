#include "log/NamedLock.h"

#include <cstdio>

namespace {

// The service (LocalSystem) makes the lock, or an administrator's console
// does; each must be able to release it. Default security would give
// administrators only SYNCHRONIZE. 0x100001: SYNCHRONIZE | MUTEX_MODIFY_STATE.
const char* const LockSecurity = "D:(A;;0x1F0001;;;SY)(A;;0x100001;;;BA)";

}  // namespace

// A name may not hold a backslash beyond its prefix nor be longer than a
// path, so the key is hashed (FNV-1a); "Global\" reaches the service in its
// own session.
std::string SharedLockName(const std::string& kind, const std::string& key) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : key) {
    hash ^= unsigned(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    hash *= 1099511628211ull;
  }
  char suffix[24];
  snprintf(suffix, sizeof suffix, ".%016llx", (unsigned long long)hash);
  return "Global\\QuarnLoader." + kind + suffix;
}

HANDLE MakeOrOpenLock(const std::string& name) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          LockSecurity, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
    return nullptr;
  HANDLE lock = CreateMutexA(&attributes, FALSE, name.c_str());
  LocalFree(attributes.lpSecurityDescriptor);
  // Making an existing mutex asks for full access, which its maker may not
  // grant us; waiting and releasing need less.
  if (lock == nullptr) lock = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
  return lock;
}
