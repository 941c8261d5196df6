// The service role: the main function that the service manager runs on a
// thread of its own, and the handler it calls with each control code.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win.h"

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
void WINAPI ControlHandler(DWORD control);

// After the dispatcher has returned, the entry waits for the supervision
// loop to finish its pass before the global objects go away. False when the
// bound ran out.
bool WaitForServiceMainToReturn(unsigned milliseconds);

// Operation code of a per-process command awaiting its process code; 0: none.
extern int32_t PendingCommand;

// The status file for "-status". BeginStatus starts a new run's file (this
// process, this start time); WriteStatus writes it when anything changed.
void BeginStatus();
void WriteStatus();
// The word "-status" shows for a service state.
std::string ServiceStateWord(DWORD state);
