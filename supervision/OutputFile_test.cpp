// Output files on real files through the simulated drives.
#include "supervision/OutputFile.h"

#include <numeric>
#include <tuple>

#include "supervision/OutputLines.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
const std::string Folder = "C:\\QuarnLoader\\out", Path = Folder + "\\web.log";

// 100 bytes each, its number first; all of them as one text.
Lines Numbered(int from, int to, const std::string& end = "\r\n") {
  Lines lines;
  for (int n = from; n < to; ++n) {
    std::string number = std::to_string(n);
    lines.push_back(number + std::string(100 - number.size() - end.size(), '.') + end);
  }
  return lines;
}
std::string Text(const Lines& lines) {
  return std::accumulate(lines.begin(), lines.end(), std::string());
}

std::unique_ptr<tclOutputFile> Open(uint64_t maxBytes, uint32_t backups, bool stamps = false) {
  return std::make_unique<tclOutputFile>(
      Path, tclOutputOptions{maxBytes, backups, stamps, "Process (3): ", true});
}

TEST(OutputFile, RotationKeepsTheNewestLinesOnceInOrderWithinTheLimit) {
  for (uint32_t backups : {2u, 5u}) {
    sim::Reset();
    sim::MakeDirectory(Folder);
    Lines all = Numbered(0, 120);
    all.insert(all.begin() + 100, std::string(1499, 'L') + "\n");   // beyond the limit
    auto file = Open(1024, backups);
    for (size_t at = 0; at < all.size(); at += 7)
      file->Write(Lines(all.begin() + long(at), all.begin() + long(std::min(at + 7, all.size()))));
    file.reset();
    std::string kept, tail;
    for (uint32_t k = backups + 1; k-- > 0;) {
      std::string text = sim::ReadFile(k > 0 ? BackupName(Path, k) : Path);
      EXPECT_TRUE(text.size() <= 1024 || text.size() == 1500) << k;
      kept += text;
    }
    EXPECT_FALSE(sim::FileExists(BackupName(Path, backups + 1)));
    for (size_t i = all.size(); tail.size() < kept.size() && i-- > 0;) tail = all[i] + tail;
    EXPECT_EQ(kept, tail) << backups;
  }
}

TEST(OutputFile, LinesWaitOutAnOutageInOrderAndTheLossIsCounted) {
  using Step = void (*)();
  const std::tuple<Step, Step, int, std::string> cases[] = {   // begin, end, error, line end
      {[] { sim::MakeDirectory(Folder), sim::LockFile(Path, true); },
       [] { sim::LockFile(Path, false); }, 32, "\r\n"},
      {[] { sim::MakeDirectory(Folder), sim::SetDiskFull(true); },
       [] { sim::SetDiskFull(false); }, 112, "\n"},
      {[] {}, [] { sim::MakeDirectory(Folder); }, 3, "\n"},
  };
  for (const auto& [begin, end, error, lineEnd] : cases) {
    sim::Reset();
    kit::FreshLog();
    Log.KeepUnwrittenLines(true);   // as the service does: the log shares the full disk
    begin();
    auto file = Open(0, 5);
    for (int n = 0; n < 10500; n += 500) file->Write(Numbered(n, n + 500, lineEnd));
    file->Tend();
    end();
    Log.WriteKeptLines();
    file->Tend();
    file->Write(Numbered(10500, 10501, lineEnd));
    const std::string lost = "15 output lines were lost" + lineEnd;
    EXPECT_EQ(sim::ReadFile(Path), Text(Numbered(0, 10485, lineEnd)) + lost +
                                       Text(Numbered(10500, 10501, lineEnd)));
    EXPECT_EQ(kit::LogMessages(), Lines{"Process (3): The output log cannot be written (error " +
                                        std::to_string(error) + "): " + Path});
  }
}

TEST(OutputFile, AFileTakenAwayIsMadeAgainAndTheLastLineIsKnown) {
  for (auto take : {+[] { sim::RemoveFile(Path); },
                    +[] { MoveFileExA(Path.c_str(), (Folder + "\\old.log").c_str(), 0); }}) {
    sim::Reset();
    sim::MakeDirectory(Folder);
    auto file = Open(1024, 5, true);
    file->Write({"gone\n"});
    take();
    file->Tend();
    file->Write({std::string(300, 'w') + "\r\n", "\n"});
    const std::string stamp = "Mon Mar 05 09:04:05 2007 :: ";
    EXPECT_EQ(sim::ReadFile(Path), stamp + std::string(300, 'w') + "\r\n" + stamp + "\n");
    EXPECT_EQ(file->LastLine(), std::string(200, 'w'));
  }
}

}  // namespace
