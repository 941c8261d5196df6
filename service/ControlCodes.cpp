#include "service/ControlCodes.h"

namespace {
struct Operation {
  DWORD code;
  const char* verb;
  uint32_t priorityClass;
};

const Operation Operations[] = {
    {OpStart, "start ", 0},
    {OpStop, "stop ", 0},
    {OpPause, "pause ", 0},
    {OpResume, "resume ", 0},
    {OpReal, "set priority to realtime on ", REALTIME_PRIORITY_CLASS},
    {OpHigh, "set priority to high on ", HIGH_PRIORITY_CLASS},
    {OpAbove, "set priority to above normal on ", ABOVE_NORMAL_PRIORITY_CLASS},
    {OpNormal, "set priority to normal on ", NORMAL_PRIORITY_CLASS},
    {OpBelow, "set priority to below normal on ", BELOW_NORMAL_PRIORITY_CLASS},
    {OpLow, "set priority to low on ", IDLE_PRIORITY_CLASS},
    {OpHide, "hide ", 0},
    {OpShow, "show ", 0},
};

const Operation* Find(DWORD code) {
  for (const Operation& op : Operations)
    if (op.code == code) return &op;
  return nullptr;
}
}  // namespace

uint32_t PriorityClassOfOperation(DWORD code) {
  const Operation* op = Find(code);
  return op ? op->priorityClass : 0;
}

const char* VerbOfOperation(DWORD code) {
  const Operation* op = Find(code);
  return op ? op->verb : nullptr;
}
