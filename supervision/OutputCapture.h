// The one thread that reads the captured output of every program and writes
// it to their files.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win.h"
#include "supervision/OutputFile.h"

// How long the pass that found a captured program gone lets its output
// drain before the restart: something the program started may hold its pipe
// open for as long as it runs.
constexpr DWORD OutputDrainBound = 2000;

// Whether the restart may go ahead: the streams have ended, or they have
// been waited for long enough since the first pass that asked.
class tclDrainWait {
 public:
  bool Over(bool streamsOpen, DWORD now);

 private:
  bool Waiting = false;
  DWORD Began = 0;
};

// What one run of a program writes to. Made by its launch and shared with
// the reader, which drains the run's streams even after a restart replaced it.
struct tclCaptureRun {
  std::unique_ptr<tclOutputFile> Output, Error;   // either may be missing
  std::atomic<int32_t> OpenStreams{0};
  // Set by a stop: the run did not end by itself.
  std::atomic<bool> Stopped{false};
  // The supervision loop's alone.
  tclDrainWait Drain;
  bool LastWordsTold = false;

  // Where the run's last words are: its error file, if it has one.
  const tclOutputFile* LastWords() const { return Error ? Error.get() : Output.get(); }
  void SetOptions(const tclOutputOptions& options);
};

class tclOutputCapture {
 public:
  tclOutputCapture() = default;
  ~tclOutputCapture() { Finish(0); }
  tclOutputCapture(const tclOutputCapture&) = delete;
  tclOutputCapture& operator=(const tclOutputCapture&) = delete;

  // Hands the service's ends of a run's pipes (null: none) to the reader,
  // which starts on first use. The ends are the reader's even when this
  // fails: they are closed, and the program's writes fail rather than stall.
  bool Add(const std::shared_ptr<tclCaptureRun>& run, HANDLE outputEnd, HANDLE errorEnd);
  // The reader writes what the streams still bring until they have ended or
  // `boundMs` has passed, then cuts off the rest and ends.
  void Finish(DWORD boundMs);

 private:
  bool StartLocked();

  std::mutex StartLock;   // held only to start or end the reader
  HANDLE Port = nullptr;
  std::thread Reader;
};
