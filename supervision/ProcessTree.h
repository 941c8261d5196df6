// The job that holds a program and everything it starts, so that stopping the
// program stops its whole tree.
#pragma once
#include "platform/win.h"

class tclProcessTree {
 public:
  tclProcessTree() = default;
  // Closes the job without ending it: programs outlive the service's end.
  ~tclProcessTree() { Close(); }
  tclProcessTree(const tclProcessTree&) = delete;
  tclProcessTree& operator=(const tclProcessTree&) = delete;
  tclProcessTree& operator=(tclProcessTree&& other);

  // Makes the job a child will join; the Windows error when it cannot.
  // `endOnClose`: what it holds ends when its last handle closes, at the
  // latest with the service's process.
  DWORD Create(bool endOnClose = false);
  // Puts a child created suspended into the job and lets it run, whether or
  // not it could join; the Windows error when it could not (the job is let go).
  DWORD Join(const PROCESS_INFORMATION& created);
  bool Holds() const { return Job != nullptr; }
  // Ends every process still in the job and lets the job go; true when they
  // were ended, so the caller need not end the main process itself.
  bool End();

 private:
  void Close();
  HANDLE Job = nullptr;
};
