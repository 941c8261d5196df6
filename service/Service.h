// The service role: the main function that the service manager runs on a
// thread of its own, and the handler it calls with each control code.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win.h"

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
void WINAPI ControlHandler(DWORD control);
// The same handler for a service that takes the pre-shutdown notice, which
// only a handler registered this way is given.
DWORD WINAPI ControlHandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

// The stop that does not keep the manager waiting: stop pending is reported
// at once and the programs are stopped on a thread of its own, which reports
// stopped at the end. A stop that has begun is not begun again; a failed
// report leaves its message.
void BeginServiceStop(std::string& message);
// Waits for such a stop to end; at once when none began.
void EndServiceStop();
// A stop waits for the start-up in progress to see the starts blocked;
// `meanwhile` (if any) runs about every second.
void WaitForStartUp(void (*meanwhile)());
// The longest the stop of every program may take.
DWORD ServiceStopBudget();
// Asks the manager for that time before the system shuts down; false, with a
// warning logged, where it cannot (no pre-shutdown notice then).
bool AskForShutdownTime();

// After the dispatcher has returned, the entry waits for the supervision
// loop to finish its pass before the global objects go away. False when the
// bound ran out.
bool WaitForServiceMainToReturn(unsigned milliseconds);

// A reload of the configuration file: the control handler only asks for it;
// the supervision loop carries it out between two passes, logs the outcome
// and records it in the status file.
void AskForReload();
void ReloadIfAsked();

// Operation code of a per-process command awaiting its process code; 0: none.
extern int32_t PendingCommand;

// The status file for "-status". BeginStatus starts a new run's file (this
// process, this start time); WriteStatus writes it when anything changed.
void BeginStatus();
void WriteStatus();
// A reload request, for the console that asked for it: counted by the
// control handler (which writes the file before it returns), taken by the
// loop (applying may take up to `budgetMs`), and its outcome line, numbered.
void NoteReloadAsked();
void NoteReloadBegun(uint32_t budgetMs);
void NoteReload(const std::string& outcome);
// The word "-status" shows for a service state.
std::string ServiceStateWord(DWORD state);
