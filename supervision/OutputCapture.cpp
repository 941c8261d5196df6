#include "supervision/OutputCapture.h"

#include <system_error>
#include <vector>

#include "supervision/OutputLines.h"

namespace {

const DWORD TendInterval = 1000;
// Each stream holds a read of this size pending all the time: 127 programs
// with 64 KiB each cost the service 8 MiB more. A program writing faster than
// one read takes only makes the reads come back sooner.
const DWORD ReadSize = 4 * 1024;
// A stream that brought less than BusyBytes in its last RestPause is read
// again only after a pause: a program writing a line at a time then costs a
// read per pause, not a read per line, and its pipe's 64 KiB take what it
// writes meanwhile. A busier one is read at once, so that its pipe never
// fills and its writes never wait for a pause.
const DWORD RestPause = 100;
const uint32_t BusyBytes = 4 * ReadSize;
// Completion keys of the packets that are no read of a stream.
const ULONG_PTR ReadKey = 0, AddKey = 1, FinishKey = 2;

// One stream of one run. The overlapped record comes first: a completion
// gives back its address.
struct tclStream {
  OVERLAPPED Overlapped = {};
  HANDLE Pipe = nullptr;
  std::shared_ptr<tclCaptureRun> Run;
  tclOutputFile* File = nullptr;
  tclLineAssembler Lines;
  std::unique_ptr<char[]> Buffer{new char[ReadSize]};
  DWORD PeriodBegan = 0;   // what the stream brings is judged once a RestPause
  uint32_t PeriodBytes = 0;
};

tclStream* StreamOf(LPOVERLAPPED overlapped) { return reinterpret_cast<tclStream*>(overlapped); }

class tclReader {
 public:
  explicit tclReader(HANDLE port) : Port(port) {}
  void Run();

 private:
  void Take(tclStream* stream);
  void Completed(tclStream* stream, DWORD bytes);
  void Read(tclStream* stream);
  DWORD UntilRested(DWORD now) const;
  void ReadRested(DWORD now);
  void End(tclStream* stream);
  void Tend();
  void CutOff();

  HANDLE Port;
  std::vector<std::unique_ptr<tclStream>> Streams;
  std::vector<tclStream*> Resting;   // no read pending until RestPause after RestingSince
  DWORD RestingSince = 0;
  // Tended while a stream or the program's record still has them.
  std::vector<std::shared_ptr<tclCaptureRun>> Runs;
};

void tclReader::Run() {
  bool finishing = false;
  DWORD finishBegan = 0, bound = 0, lastTend = GetTickCount();
  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = ReadKey;
    LPOVERLAPPED overlapped = nullptr;
    DWORD wait = Resting.empty() ? TendInterval : UntilRested(GetTickCount());
    BOOL ok = GetQueuedCompletionStatus(Port, &bytes, &key, &overlapped, wait);
    if (overlapped != nullptr) {
      if (key == AddKey)
        Take(StreamOf(overlapped));
      else
        Completed(StreamOf(overlapped), ok ? bytes : 0);   // an error ends the stream
    } else if (ok && key == FinishKey) {
      finishing = true;
      finishBegan = GetTickCount();
      bound = bytes;
    } else if (!ok && GetLastError() != WAIT_TIMEOUT) {
      break;   // the port is gone: nothing more can come
    }
    DWORD now = GetTickCount();
    ReadRested(now);
    if (now - lastTend >= TendInterval) {
      Tend();
      lastTend = now;
    }
    if (finishing && (Streams.empty() || now - finishBegan >= bound)) break;
  }
  CutOff();
}

void tclReader::Take(tclStream* stream) {
  Streams.emplace_back(stream);
  bool known = false;
  for (const std::shared_ptr<tclCaptureRun>& run : Runs) known = known || run == stream->Run;
  if (!known) Runs.push_back(stream->Run);
  Read(stream);
}

// A completion is posted for a read done at once as for one that waited.
void tclReader::Read(tclStream* stream) {
  stream->Overlapped = OVERLAPPED();
  if (!ReadFile(stream->Pipe, stream->Buffer.get(), ReadSize, nullptr, &stream->Overlapped) &&
      GetLastError() != ERROR_IO_PENDING)
    End(stream);
}

void tclReader::Completed(tclStream* stream, DWORD bytes) {
  if (bytes == 0) {
    End(stream);
    return;
  }
  std::vector<std::string> lines;
  stream->Lines.Take(stream->Buffer.get(), bytes, lines);
  if (!lines.empty()) stream->File->Write(lines);
  stream->PeriodBytes += bytes;
  DWORD now = GetTickCount();
  // A full read leaves more waiting; a period is judged when it has passed.
  if (bytes < ReadSize && now - stream->PeriodBegan >= RestPause) {
    bool busy = stream->PeriodBytes >= BusyBytes;
    stream->PeriodBegan = now;
    stream->PeriodBytes = 0;
    if (!busy) {
      if (Resting.empty()) RestingSince = now;
      Resting.push_back(stream);
      return;
    }
  }
  Read(stream);
}

DWORD tclReader::UntilRested(DWORD now) const {
  DWORD rested = now - RestingSince;
  return rested >= RestPause ? 0 : RestPause - rested;
}

void tclReader::ReadRested(DWORD now) {
  if (Resting.empty() || UntilRested(now) > 0) return;
  std::vector<tclStream*> rested;
  rested.swap(Resting);
  for (tclStream* stream : rested) Read(stream);
}

void tclReader::End(tclStream* stream) {
  std::vector<std::string> lines;
  stream->Lines.Finish(lines);
  if (!lines.empty()) stream->File->Write(lines);
  CloseHandle(stream->Pipe);
  --stream->Run->OpenStreams;
  for (size_t i = 0; i < Streams.size(); ++i)
    if (Streams[i].get() == stream) Streams.erase(Streams.begin() + long(i));
}

// A run whose streams have ended and that its record has let go of is done.
void tclReader::Tend() {
  for (size_t i = Runs.size(); i-- > 0;) {
    tclCaptureRun& run = *Runs[i];
    if (run.Output) run.Output->Tend();
    if (run.Error) run.Error->Tend();
    if (run.OpenStreams == 0 && Runs[i].use_count() == 1) Runs.erase(Runs.begin() + long(i));
  }
}

// What still reads is cancelled; its buffer is let go only once the
// cancellation has come back, or the process ends with it.
void tclReader::CutOff() {
  for (tclStream* stream : Resting) End(stream);   // nothing pending: nothing to wait for
  Resting.clear();
  for (const std::unique_ptr<tclStream>& stream : Streams) CancelIoEx(stream->Pipe, nullptr);
  const DWORD cancelWait = 1000;
  DWORD began = GetTickCount();
  while (!Streams.empty() && GetTickCount() - began < cancelWait) {
    DWORD bytes = 0;
    ULONG_PTR key = ReadKey;
    LPOVERLAPPED overlapped = nullptr;
    GetQueuedCompletionStatus(Port, &bytes, &key, &overlapped, cancelWait);
    if (overlapped != nullptr && key == ReadKey) End(StreamOf(overlapped));
  }
  for (std::unique_ptr<tclStream>& stream : Streams) stream.release();
  Tend();
}

}  // namespace

bool tclDrainWait::Over(bool streamsOpen, DWORD now) {
  if (!streamsOpen) return true;
  if (!Waiting) {
    Waiting = true;
    Began = now;
  }
  return now - Began >= OutputDrainBound;
}

void tclCaptureRun::SetOptions(const tclOutputOptions& options) {
  if (Output) Output->SetOptions(options);
  if (Error) Error->SetOptions(options);
}

bool tclOutputCapture::StartLocked() {
  if (Reader.joinable()) return true;
  if (Port == nullptr) Port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (Port == nullptr) return false;
  try {
    Reader = std::thread([port = Port] { tclReader(port).Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool tclOutputCapture::Add(const std::shared_ptr<tclCaptureRun>& run, HANDLE outputEnd,
                           HANDLE errorEnd) {
  HANDLE port;
  bool added;
  {
    std::lock_guard<std::mutex> hold(StartLock);
    added = StartLocked();
    port = Port;
  }
  for (HANDLE end : {outputEnd, errorEnd}) {
    if (end == nullptr) continue;
    std::unique_ptr<tclStream> stream(new tclStream);
    stream->Pipe = end;
    stream->Run = run;
    stream->File = end == outputEnd ? run->Output.get() : run->Error.get();
    ++run->OpenStreams;
    if (added && CreateIoCompletionPort(end, port, ReadKey, 0) != nullptr &&
        PostQueuedCompletionStatus(port, 0, AddKey, &stream->Overlapped)) {
      stream.release();   // the reader's now
      continue;
    }
    added = false;
    CloseHandle(end);
    --run->OpenStreams;
  }
  return added;
}

void tclOutputCapture::Finish(DWORD boundMs) {
  std::lock_guard<std::mutex> hold(StartLock);
  if (Reader.joinable()) {
    if (PostQueuedCompletionStatus(Port, boundMs, FinishKey, nullptr)) Reader.join();
    else Reader.detach();   // it cannot be told: it ends with the process
  }
  if (Port != nullptr) CloseHandle(Port);
  Port = nullptr;
}
