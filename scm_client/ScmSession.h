// The one way the console's service operations use the service manager:
// open it (and the service), act, close the service then the manager, and
// report the one message left behind, once, after closing.
#pragma once
#include <functional>
#include <string>

#include "platform/win.h"

// What follows "Error (n)" when an opening fails.
struct OpenFailureTexts {
  const char* manager;
  const char* service;
};
extern const OpenFailureTexts CouldNotOpen;

// An action leaves the message to report (or none) and says whether it succeeded.
typedef std::function<bool(SC_HANDLE manager, std::string& message)> ManagerAction;
typedef std::function<bool(SC_HANDLE service, std::string& message)> ServiceAction;

bool WithManager(DWORD access, const char* openFailure, const ManagerAction& act);
// The manager with all rights, then the service by name.
bool WithService(const std::string& name, const OpenFailureTexts& openFailures,
                 const ServiceAction& act);

// Sets the message for the call that just failed; false, for returning it.
bool Failure(std::string& message, const char* text);
