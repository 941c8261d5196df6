// A stream's bytes as lines, and the names of the backups.
#include "supervision/OutputLines.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(OutputLines, BytesBecomeWholeLinesWithTheProgramsLineEnds) {
  const std::string x(tclLineAssembler::MaxLine, 'x');
  struct Case {
    Lines chunks;
    bool finished;
    Lines lines;
  } cases[] = {
      {{"a\r", "\nb\n", "\n", "c"}, true, {"a\r\n", "b\n", "\n", "c\r\n"}},
      {{"tail"}, false, {}},
      {{"x\r"}, true, {"x\r\n"}},
      {{x + "\r", "\n"}, false, {x + "\r\n"}},
      {{x + x + "y", "z\n"}, false, {x + "\r\n", x + "\r\n", "yz\n"}},
  };
  for (const Case& c : cases) {
    tclLineAssembler assembler;
    Lines lines;
    for (const std::string& chunk : c.chunks) assembler.Take(chunk.data(), chunk.size(), lines);
    if (c.finished) assembler.Finish(lines);
    EXPECT_EQ(lines, c.lines) << c.chunks[0].substr(0, 4);
  }
}

TEST(OutputLines, BackupsAreNumberedBeforeTheExtension) {
  EXPECT_EQ(BackupName("C:\\logs\\web.log", 1), "C:\\logs\\web.1.log");
  EXPECT_EQ(BackupName("C:\\logs\\web.out.txt", 12), "C:\\logs\\web.out.12.txt");
  EXPECT_EQ(BackupName("C:\\logs.d\\web", 1), "C:\\logs.d\\web.1");
}

}  // namespace
