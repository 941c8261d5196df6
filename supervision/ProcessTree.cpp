#include "supervision/ProcessTree.h"

tclProcessTree& tclProcessTree::operator=(tclProcessTree&& other) {
  if (this != &other) {
    Close();
    Job = other.Job;
    other.Job = nullptr;
  }
  return *this;
}

// A program's job is not set to end its processes when its handle closes:
// programs outlive the service's own end. Not inheritable: no child may end
// its siblings' trees. A child that asks to leave the job may: that is the
// program's own choice, and refusing it would fail the program's own starts.
DWORD tclProcessTree::Create(bool endOnClose) {
  Close();
  Job = CreateJobObjectA(nullptr, nullptr);
  if (Job == nullptr) return GetLastError();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_BREAKAWAY_OK | (endOnClose ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0);
  if (SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
    return 0;
  DWORD error = GetLastError();
  Close();
  return error;
}

DWORD tclProcessTree::Join(const PROCESS_INFORMATION& created) {
  bool joined = AssignProcessToJobObject(Job, created.hProcess) != 0;
  DWORD error = joined ? 0 : GetLastError();
  ResumeThread(created.hThread);
  if (!joined) Close();
  return error;
}

bool tclProcessTree::End() {
  if (Job == nullptr) return false;
  bool ended = TerminateJobObject(Job, 0) != 0;
  Close();
  return ended;
}

void tclProcessTree::Close() {
  if (Job != nullptr) CloseHandle(Job);
  Job = nullptr;
}
