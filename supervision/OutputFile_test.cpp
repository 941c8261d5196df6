// Output files on real files through the simulated drives: rotation and
// retention, outages with their kept and lost lines, files taken away.
#include "supervision/OutputFile.h"

#include "supervision/OutputLines.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
const std::string Path = "C:\\QuarnLoader\\web.log";

// Line n: 100 bytes with its line end, its number first.
Lines Numbered(int from, int to, const std::string& end = "\r\n") {
  Lines lines;
  for (int n = from; n < to; ++n) {
    std::string number = std::to_string(n);
    lines.push_back(number + std::string(100 - number.size() - end.size(), '.') + end);
  }
  return lines;
}

tclOutputOptions Options(uint64_t maxBytes = 10240 * 1024, uint32_t backups = 5) {
  tclOutputOptions options;
  options.MaxBytes = maxBytes;
  options.Backups = backups;
  options.LogPrefix = "Process (3): ";
  return options;
}

TEST(OutputFile, RotationKeepsEveryLineOnceWithinTheLimits) {
  struct Case {
    uint32_t backups;
    size_t oversized;   // bytes of one line between the others; 0: none
  } cases[] = {{2, 0}, {5, 1500}};
  for (const Case& c : cases) {
    sim::Reset();
    Lines all = Numbered(0, 120);
    if (c.oversized > 0) all.insert(all.begin() + 100, std::string(c.oversized - 1, 'L') + "\n");
    {
      tclOutputFile file(Path, Options(1024, c.backups));
      for (size_t at = 0; at < all.size(); at += 7)
        file.Write(Lines(all.begin() + long(at), all.begin() + long(std::min(at + 7, all.size()))));
    }
    std::string kept, tail;
    for (uint32_t k = c.backups + 1; k-- > 0;) {
      std::string text = sim::ReadFile(k > 0 ? BackupName(Path, k) : Path);
      EXPECT_TRUE(text.size() <= 1024 || text.size() == c.oversized) << k;
      kept += text;
    }
    EXPECT_FALSE(sim::FileExists(BackupName(Path, c.backups + 1)));
    for (size_t i = all.size(); tail.size() < kept.size() && i-- > 0;) tail = all[i] + tail;
    EXPECT_EQ(kept, tail) << c.backups;
    EXPECT_LT(kept.size(), 120u * 100u);
  }
}

TEST(OutputFile, LinesWaitOutAnOutageInOrderAndTheLossIsCounted) {
  static const std::string folder = "C:\\QuarnLoader\\out", path = folder + "\\web.log";
  struct Case {
    const char* what;
    void (*begin)(), (*end)();
    int error;
    std::string lineEnd;
  } cases[] = {
      {"held", [] { sim::MakeDirectory(folder), sim::LockFile(path, true); },
       [] { sim::LockFile(path, false); }, 32, "\r\n"},
      {"disk full", [] { sim::MakeDirectory(folder), sim::SetDiskFull(true); },
       [] { sim::SetDiskFull(false); }, 112, "\n"},
      {"folder missing", [] {}, [] { sim::MakeDirectory(folder); }, 3, "\n"},
  };
  for (const Case& c : cases) {
    sim::Reset();
    kit::FreshLog();
    Log.KeepUnwrittenLines(true);   // as the service does: the log shares the full disk
    c.begin();
    tclOutputFile file(path, Options());
    for (int n = 0; n < 10500; n += 500) file.Write(Numbered(n, n + 500, c.lineEnd));
    file.Tend();
    c.end();
    Log.WriteKeptLines();
    file.Tend();
    file.Write(Numbered(10500, 10501, c.lineEnd));
    Lines expected = Numbered(0, 10485, c.lineEnd);
    expected.push_back("15 output lines were lost" + c.lineEnd);
    expected.push_back(Numbered(10500, 10501, c.lineEnd)[0]);
    std::string text;
    for (const std::string& line : expected) text += line;
    EXPECT_EQ(sim::ReadFile(path), text) << c.what;
    EXPECT_EQ(kit::LogMessages(), Lines{"Process (3): The output log cannot be written (error " +
                                        std::to_string(c.error) + "): " + path})
        << c.what;
  }
}

TEST(OutputFile, AFileTakenAwayIsMadeAgainAndTheLastLineIsKnown) {
  struct Case {
    const char* what;
    void (*take)();
  } cases[] = {{"deleted", [] { sim::RemoveFile(Path); }},
               {"renamed", [] { MoveFileExA(Path.c_str(), "C:\\QuarnLoader\\old.log", 0); }}};
  for (const Case& c : cases) {
    sim::Reset();
    tclOutputOptions options = Options();
    options.Timestamps = true;
    tclOutputFile file(Path, options);
    file.Write({"gone\n"});
    c.take();
    file.Tend();
    file.Write({std::string(300, 'w') + "\r\n", "\n"});
    EXPECT_EQ(sim::ReadFile(Path), "Mon Mar 05 09:04:05 2007 :: " + std::string(300, 'w') +
                                       "\r\nMon Mar 05 09:04:05 2007 :: \n")
        << c.what;
    EXPECT_EQ(file.LastLine(), std::string(200, 'w'));
  }
}

}  // namespace
