// The job that holds a program and everything it starts, so that stopping
// the program stops its whole tree.
#include "supervision/tclPrc.h"

// Not set to end its processes when its handle closes: programs outlive the
// service's own end. Not inheritable: no child may end its siblings' trees.
HANDLE tclPrc::StartJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) WarnTreeNotStopped(GetLastError());
  return job;
}

// The child was created suspended; it runs whether or not it could join.
HANDLE tclPrc::JoinJob(HANDLE job, const PROCESS_INFORMATION& created) {
  bool joined = AssignProcessToJobObject(job, created.hProcess) != 0;
  DWORD error = GetLastError();
  ResumeThread(created.hThread);
  if (joined) return job;
  CloseHandle(job);
  WarnTreeNotStopped(error);
  return nullptr;
}

void tclPrc::WarnTreeNotStopped(DWORD error) {
  LogProgramLine(PrcFileLogging, "Warning ( " + std::to_string(int32_t(error)) +
                                     " ): The process tree cannot be stopped for program " +
                                     AppName);
}

// True when the tree was ended; the caller then need not end the main
// process itself.
bool tclPrc::EndJob() {
  if (Job == nullptr) return false;
  bool ended = TerminateJobObject(Job, 0) != 0;
  CloseHandle(Job);
  Job = nullptr;
  return ended;
}
