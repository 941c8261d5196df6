// The health checks of one supervision pass. Every check due when the pass
// begins is started at once; they are moved on while the pass would sleep,
// and the pass ends no later than the last of them times out.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "supervision/HealthProbe.h"

class tclPrcList;

class tclHealthPass {
 public:
  explicit tclHealthPass(tclPrcList& list);
  ~tclHealthPass();
  tclHealthPass(const tclHealthPass&) = delete;
  tclHealthPass& operator=(const tclHealthPass&) = delete;
  // Sleeps, judging the checks that end meanwhile.
  void Sleep(DWORD milliseconds);
  // Waits for the checks still under way.
  void Finish();

 private:
  struct InFlight {
    int32_t Number;
    uint32_t Child;   // the run it checks; a check of an earlier run is not judged
    std::unique_ptr<tclHealthProbe> Probe;
  };
  // Waits for sockets at most `milliseconds`, then judges those done.
  void Poll(DWORD milliseconds);
  void Judge(const InFlight& check);

  tclPrcList& List;
  bool SocketsStarted = false;
  std::vector<InFlight> Checks;
};
