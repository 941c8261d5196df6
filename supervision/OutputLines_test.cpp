// A stream's bytes as lines, and the names of the backups.
#include "supervision/OutputLines.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;
const std::string Long(tclLineAssembler::MaxLine, 'x');

TEST(OutputLines, BytesBecomeWholeLinesWithTheProgramsLineEnds) {
  struct Case {
    const char* what;
    Lines chunks;
    bool finished;
    Lines lines;
  } cases[] = {
      {"CR LF split between reads", {"a\r", "\nb\n", "c"}, true, {"a\r\n", "b\n", "c\r\n"}},
      {"empty lines kept", {"\n\r\n"}, false, {"\n", "\r\n"}},
      {"an unended tail waits", {"tail"}, false, {}},
      {"a CR at the end is finished", {"x\r"}, true, {"x\r\n"}},
      {"64 KiB and its CR LF stay one line", {Long + "\r", "\n"}, false, {Long + "\r\n"}},
      {"longer lines come in pieces", {Long + "yz", "\n"}, false, {Long + "\r\n", "yz\n"}},
      {"and so do unended ones", {Long + Long + "y"}, true,
       {Long + "\r\n", Long + "\r\n", "y\r\n"}},
  };
  for (const Case& c : cases) {
    tclLineAssembler assembler;
    Lines lines;
    for (const std::string& chunk : c.chunks) assembler.Take(chunk.data(), chunk.size(), lines);
    if (c.finished) assembler.Finish(lines);
    EXPECT_EQ(lines, c.lines) << c.what;
  }
}

TEST(OutputLines, BackupsAreNumberedBeforeTheExtension) {
  struct Case {
    const char* path;
    uint32_t k;
    const char* backup;
  } cases[] = {
      {"C:\\logs\\web.log", 1, "C:\\logs\\web.1.log"},
      {"C:\\logs\\web.out.txt", 12, "C:\\logs\\web.out.12.txt"},
      {"C:\\logs.d\\web", 1, "C:\\logs.d\\web.1"},
      {"web", 99, "web.99"},
  };
  for (const Case& c : cases) EXPECT_EQ(BackupName(c.path, c.k), c.backup) << c.path;
}

}  // namespace
