// How a program is asked to quit before its grace period ends in termination.
#pragma once
#include <mutex>
#include <vector>

#include "platform/win.h"

// In the order of their words in the configuration.
enum class tclStopMethod { Quit, Close, CtrlC, CtrlBreak };

// A console event reaches only a program that has a console of its own.
DWORD StopMethodCreationFlags(tclStopMethod method);

// Held by a launch around its CreateProcessA: a console program started
// while the service is attached to another's console would share it, and
// the events sent there.
std::unique_lock<std::mutex> ExcludeConsoleAttach();

// Sends every request of the method to the program; false when not one of
// them could be delivered.
bool RequestStop(tclStopMethod method, DWORD processId, DWORD threadId);

// The program's top-level windows, front to back.
std::vector<HWND> TopLevelWindowsOf(DWORD processId);
// The process that owns the window; 0 for none.
DWORD WindowProcessId(HWND window);
