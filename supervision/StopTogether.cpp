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
  for (tclPrc* record : AllRecords())
    if (record->Settings.StopPause > longest) longest = record->Settings.StopPause;
  return longest;
}

// Those a reload took out too: a service stop leaves nothing running.
std::vector<tclPrc*> tclPrcList::AllRecords() const {
  std::vector<tclPrc*> records;
  for (int32_t n = 0; n < Count; ++n) records.push_back(&Records[n]);
  for (const tclLeavingPrc& leaving : Leaving) records.push_back(leaving.Record.get());
  return records;
}

uint32_t tclPrcList::StopTogether(const std::function<void()>& tick) {
  std::vector<tclPrcPin> pins = PinAll();
  std::vector<tclPrc*> records;
  for (tclPrcPin& pin : pins) records.push_back(&*pin);
  return StopRecordsTogether(records, tick);
}

// One thread per record, at most 127 and those leaving: each runs the
// record's own stop, so a launch in progress is waited for and the tree is
// ended as for any stop.
uint32_t StopRecordsTogether(const std::vector<tclPrc*>& records,
                             const std::function<void()>& tick) {
  uint32_t before = 0;
  for (tclPrc* record : records) before += record->Terminations;
  std::atomic<size_t> pending{records.size()};
  std::vector<std::thread> stoppers;
  stoppers.reserve(records.size());
  for (tclPrc* record : records) {
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
  for (tclPrc* record : records) after += record->Terminations;
  return after - before;
}
