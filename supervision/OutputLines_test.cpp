// A stream's bytes as lines, and the names of the backups.
#include "supervision/OutputLines.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Lines = std::vector<std::string>;

TEST(OutputLines, BytesBecomeWholeLinesWithTheProgramsLineEnds) {
  const std::string x(tclLineAssembler::MaxLine, 'x');
  const std::tuple<Lines, bool, Lines> cases[] = {   // chunks, finished, lines
      {{"a\r", "\nb\n", "\n", "c"}, true, {"a\r\n", "b\n", "\n", "c\r\n"}},
      {{"x\r"}, true, {"x\r\n"}},
      {{x + "\r", "\n"}, false, {x + "\r\n"}},
      {{x + x + "y", "z\n"}, false, {x + "\r\n", x + "\r\n", "yz\n"}},
  };
  for (const auto& [chunks, finished, expected] : cases) {
    tclLineAssembler assembler;
    Lines lines;
    for (const std::string& chunk : chunks) assembler.Take(chunk.data(), chunk.size(), lines);
    if (finished) assembler.Finish(lines);
    EXPECT_EQ(lines, expected) << chunks[0].substr(0, 4);
  }
}

TEST(OutputLines, BackupsAreNumberedBeforeTheExtension) {
  EXPECT_EQ(BackupName("C:\\logs\\web.log", 1), "C:\\logs\\web.1.log");
  EXPECT_EQ(BackupName("C:\\logs\\web.out.txt", 12), "C:\\logs\\web.out.12.txt");
  EXPECT_EQ(BackupName("C:\\logs.d\\web", 1), "C:\\logs.d\\web.1");
}

}  // namespace
