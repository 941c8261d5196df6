// A program's output as whole lines, and the names of a file's backups.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Cuts a stream's bytes into whole lines, each with the line end the program
// wrote ("\n" or "\r\n"), bytes unchanged; a line longer than 64 KiB comes
// out in pieces of 64 KiB, each ended with "\r\n" but the last.
class tclLineAssembler {
 public:
  void Take(const char* data, size_t size, std::vector<std::string>& lines);
  // The stream ended: what is left, with a line end ("\r\n") added.
  void Finish(std::vector<std::string>& lines);
  static const size_t MaxLine = 64 * 1024;

 private:
  void CutLong(bool ended, std::vector<std::string>& lines);
  std::string Partial;
};

// `web.log`, 1 -> `web.1.log`; a name with no extension gets `.1`.
std::string BackupName(const std::string& path, uint32_t k);
// The line end a line has: "\r\n", "\n", or "" for none.
std::string LineEndOf(const std::string& line);
