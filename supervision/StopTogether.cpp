// Stopping every program at once, so that the service's stop takes about the
// longest grace period rather than their sum.
#include <system_error>
#include <thread>
#include <vector>

#include "supervision/tclPrcList.h"

namespace {
const DWORD PollStep = 100;
const DWORD StepsPerTick = 10;
}  // namespace

uint32_t tclPrcList::LongestStopPause() const {
  std::unique_lock<std::mutex> table = HoldTable();
  uint32_t longest = 0;
  for (int32_t n = 0; n < Count; ++n)
    if (Records[n].StopPause > longest) longest = Records[n].StopPause;
  return longest;
}

// One thread per record, at most 127: each runs the record's own stop, so a
// launch in progress is waited for and the tree is ended as for any stop.
uint32_t tclPrcList::StopTogether(const std::function<void()>& tick) {
  std::vector<tclPrcPin> records = PinAll();
  uint32_t before = 0;
  for (tclPrcPin& record : records) before += record->Terminations;
  std::atomic<int32_t> pending{int32_t(records.size())};
  std::vector<std::thread> stoppers;
  stoppers.reserve(records.size());
  for (tclPrcPin& pinned : records) {
    tclPrc* record = &*pinned;
    auto stop = [record, &pending] {
      record->Stop(true);
      --pending;
    };
    try {
      stoppers.emplace_back(stop);
    } catch (const std::system_error&) {
      stop();   // no thread to be had: this one is stopped in turn
    }
  }
  for (DWORD step = 1; pending > 0; ++step) {
    Sleep(PollStep);
    if (step % StepsPerTick == 0) tick();
  }
  for (std::thread& stopper : stoppers) stopper.join();
  uint32_t after = 0;
  for (tclPrcPin& record : records) after += record->Terminations;
  return after - before;
}
