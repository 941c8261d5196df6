// One output file of one program: whole lines appended, the file rotated
// within its limit, and lines kept in memory while it cannot be written.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win.h"

struct tclOutputOptions {            // applied in place at a reload
  uint64_t MaxBytes = 10240 * 1024;  // 0: no limit
  uint32_t Backups = 5;              // 1..99
  bool Timestamps = false;           // each line prefixed with the service log's stamp
  std::string LogPrefix;             // "Process (n): " for the service log's lines about this file
  bool FileLogging = true;           // the program's PrcFileLogging
};

// Write and Tend are called by the reader thread only; SetOptions and
// LastLine may be called from any thread (a small internal mutex, never held
// across a wait on a program).
class tclOutputFile {
 public:
  tclOutputFile(const std::string& path, const tclOutputOptions& options);
  ~tclOutputFile();   // writes what it can of what it kept, closes
  tclOutputFile(const tclOutputFile&) = delete;
  tclOutputFile& operator=(const tclOutputFile&) = delete;

  void SetOptions(const tclOutputOptions& options);
  // Writes whole lines; lines it cannot write now are kept in order (at most
  // KeptLimit bytes), beyond that counted.
  void Write(const std::vector<std::string>& lines);
  // About once a second: writes what was kept, then "<k> output lines were
  // lost" if any were, and lets go of a file deleted or renamed away (the
  // next lines go to a new file of the configured name).
  void Tend();
  // The last non-empty line the program wrote, without its line end, cut at
  // 200 characters.
  std::string LastLine() const;
  static const size_t KeptLimit = 1024 * 1024;

 private:
  tclOutputOptions CurrentOptions() const;
  void Remember(const std::vector<std::string>& lines);
  size_t WriteSome(const std::string* lines, size_t count, const tclOutputOptions& options);
  bool Drain(const tclOutputOptions& options);
  void Keep(std::string line);
  bool Open(const tclOutputOptions& options);
  bool Rotate(const tclOutputOptions& options);
  bool Append(const std::string& text, const tclOutputOptions& options);
  bool Fail(const tclOutputOptions& options);
  bool StillNamed();
  void Close();

  const std::string Path;
  mutable std::mutex Mu;   // guards Options and Last
  tclOutputOptions Options;
  std::string Last;
  // The reader thread's alone.
  HANDLE File = INVALID_HANDLE_VALUE;
  uint64_t Size = 0;
  std::vector<std::string> Kept;
  size_t KeptBytes = 0;
  uint64_t Lost = 0;
  std::string LineEnd = "\r\n";   // the program's, for the loss notice
  bool Outage = false;            // its one log line was written
};
