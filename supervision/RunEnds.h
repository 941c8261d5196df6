// How the pass answers a run that ended: the restart policy's verdict is
// logged, reported and handed to the failure command.
#pragma once
#include <cstdint>
#include <string>

#include "supervision/tclPrc.h"

// Judges a run that ended by itself the first time the pass finds it ended;
// whether the pass may restart the program.
bool MayRestart(tclPrc& record, int32_t n);
// The pass stopped the program as hung or unhealthy, logging `line`.
void AnswerStop(tclPrc& record, int32_t n, tclRunEnd end, const std::string& line);
