#include "scm_client/EventSource.h"

#include "log/tclLog.h"
#include "platform/win.h"

namespace {

const DWORD AllEntryTypes =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

std::string SourceKey(const std::string& name) {
  return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + name;
}

bool Warn(LONG error, const std::string& what, const std::string& name) {
  std::string text = "): The event log source could not be " + what + ": HKEY_LOCAL_MACHINE\\";
  Log.FileLine("Warning (" + std::to_string(int32_t(error)) + text + SourceKey(name), true);
  return false;
}

}  // namespace

bool AddEventSource(const std::string& name, const std::string& messageFile) {
  HKEY key;
  LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SourceKey(name).c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return Warn(error, "registered", name);
  error = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                         reinterpret_cast<const BYTE*>(messageFile.c_str()),
                         DWORD(messageFile.size() + 1));
  if (error == ERROR_SUCCESS)
    error = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&AllEntryTypes), sizeof AllEntryTypes);
  RegCloseKey(key);
  return error == ERROR_SUCCESS || Warn(error, "registered", name);
}

bool RemoveEventSource(const std::string& name) {
  LONG error = RegDeleteKeyA(HKEY_LOCAL_MACHINE, SourceKey(name).c_str());
  return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || Warn(error, "removed", name);
}
