// The service's name as a source of the Application event log, so that
// Event Viewer finds its entries' texts in the executable's message table.
// Neither changes what the console shows: a failure is one log line, and the
// service runs without it (its entries then show without their texts).
#pragma once
#include <string>

bool AddEventSource(const std::string& name, const std::string& messageFile);
// A source that was never added (an older install) is no failure.
bool RemoveEventSource(const std::string& name);
