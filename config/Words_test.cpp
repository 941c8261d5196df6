#include "config/Words.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "log/tclLog.h"
#include "platform/sim/sim.h"
#include "tests/unit/TestKit.h"

namespace {

using kit::LogPath;
const std::string Stamp = "Mon Mar 05 09:04:05 2007 :: ";

class WordsTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshLog();
  }
  void TearDown() override { Log.SetFileEnabled(true); }
};

}  // namespace

// ---- ToLowerText ---------------------------------------------------------------

TEST(ToLowerText, ChangesOnlyCapitalLettersAToZ) {
  EXPECT_EQ(ToLowerText("ShowMinNoActive"), "showminnoactive");
  EXPECT_EQ(ToLowerText("-INSTALL"), "-install");
  // The neighbours of the capital range stay as they are.
  EXPECT_EQ(ToLowerText("@AZ[`az{"), "@az[`az{");
  EXPECT_EQ(ToLowerText(""), "");
}

TEST(ToLowerText, EveryByteOutsideAToZIsUnchangedIncludingHighBytes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += char(b);
  std::string lower = ToLowerText(all);
  ASSERT_EQ(lower.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    unsigned char expected = (b >= 'A' && b <= 'Z') ? (unsigned char)(b + 32) : (unsigned char)b;
    EXPECT_EQ((unsigned char)lower[b], expected) << "byte " << b;
  }
  // Code-page capitals (Latin-1 and UTF-8 bytes) are not letters here.
  EXPECT_EQ(ToLowerText("\xC4\xD6\xDC \xC3\x84"), "\xC4\xD6\xDC \xC3\x84");
}

// ---- DirectoryOf ---------------------------------------------------------------

TEST(DirectoryOf, KeepsTheTextUpToAndIncludingTheLastBackslashFromIndexTwo) {
  EXPECT_EQ(DirectoryOf("C:\\Tools\\srv.exe"), "C:\\Tools\\");
  EXPECT_EQ(DirectoryOf("C:\\srv.exe"), "C:\\");
  EXPECT_EQ(DirectoryOf("C:\\Apps\\Sub Dir\\x.exe"), "C:\\Apps\\Sub Dir\\");
  EXPECT_EQ(DirectoryOf("\\\\server\\share\\x.exe"), "\\\\server\\share\\");
  EXPECT_EQ(DirectoryOf("C:\\Tools\\"), "C:\\Tools\\");
  EXPECT_EQ(DirectoryOf("ab\\"), "ab\\");
}

TEST(DirectoryOf, GivesEmptyWithoutAUsableBackslash) {
  EXPECT_EQ(DirectoryOf(""), "");
  EXPECT_EQ(DirectoryOf("srv.exe"), "");
  EXPECT_EQ(DirectoryOf("\\srv.exe"), "");
  EXPECT_EQ(DirectoryOf("a\\srv.exe"), "");
  EXPECT_EQ(DirectoryOf("\\\\"), "");
  // Only the backslash separates directories.
  EXPECT_EQ(DirectoryOf("C:/Tools/srv.exe"), "");
}

// ---- DecimalValue --------------------------------------------------------------

TEST(DecimalValue, OrdinaryNumbersWithSignsAndLeadingBlanks) {
  EXPECT_EQ(DecimalValue("1000"), 1000);
  EXPECT_EQ(DecimalValue("0"), 0);
  EXPECT_EQ(DecimalValue("007"), 7);
  EXPECT_EQ(DecimalValue("+15"), 15);
  EXPECT_EQ(DecimalValue("-5"), -5);
  EXPECT_EQ(DecimalValue("   42"), 42);
  EXPECT_EQ(DecimalValue("\t -7"), -7);
  EXPECT_EQ(DecimalValue("2147483647"), INT32_MAX);
  EXPECT_EQ(DecimalValue("-2147483648"), INT32_MIN);
}

TEST(DecimalValue, ConversionStopsAtTheFirstNonDigit) {
  EXPECT_EQ(DecimalValue("250ms"), 250);
  EXPECT_EQ(DecimalValue("12 34"), 12);
  EXPECT_EQ(DecimalValue("1e3"), 1);
  EXPECT_EQ(DecimalValue("0x10"), 0);
  EXPECT_EQ(DecimalValue("3.9"), 3);
  EXPECT_EQ(DecimalValue("-12abc"), -12);
  EXPECT_EQ(DecimalValue(std::string("12\0" "34", 5)), 12);
}

TEST(DecimalValue, TextWithoutLeadingDigitsGivesZero) {
  EXPECT_EQ(DecimalValue(""), 0);
  EXPECT_EQ(DecimalValue("abc"), 0);
  EXPECT_EQ(DecimalValue("+"), 0);
  EXPECT_EQ(DecimalValue("-"), 0);
  EXPECT_EQ(DecimalValue("   "), 0);
  EXPECT_EQ(DecimalValue("- 5"), 0);
  EXPECT_EQ(DecimalValue("--5"), 0);
  EXPECT_EQ(DecimalValue("+-5"), 0);
  EXPECT_EQ(DecimalValue("x5"), 0);
  // A high byte is not white space.
  EXPECT_EQ(DecimalValue("\xA0" "5"), 0);
}

// Too many digits wrap in 32 bits, deterministically and without undefined
// behaviour (the sanitizer builds would report it).
TEST(DecimalValue, OverflowWrapsModuloTwoToThe32) {
  EXPECT_EQ(DecimalValue("2147483648"), INT32_MIN);
  EXPECT_EQ(DecimalValue("4294967295"), -1);
  EXPECT_EQ(DecimalValue("4294967296"), 0);
  EXPECT_EQ(DecimalValue("4294967297"), 1);
  // 99999999999 = 23 * 2^32 + 1215752191
  EXPECT_EQ(DecimalValue("99999999999"), 1215752191);
  EXPECT_EQ(DecimalValue("-99999999999"), -1215752191);
  EXPECT_EQ(DecimalValue("-2147483649"), INT32_MAX);
  // 10^k is divisible by 2^32 from k = 32 on, so 10^k - 1 wraps to -1.
  EXPECT_EQ(DecimalValue("1" + std::string(40, '0')), 0);
  EXPECT_EQ(DecimalValue(std::string(10000, '9')), -1);
  EXPECT_EQ(DecimalValue("-" + std::string(10000, '9')), 1);
}

// ---- Word tables ---------------------------------------------------------------

TEST(PriorityClassFromWord, EachWordSelectsItsClass) {
  EXPECT_EQ(PriorityClassFromWord("real"), 0x100u);
  EXPECT_EQ(PriorityClassFromWord("high"), 0x80u);
  EXPECT_EQ(PriorityClassFromWord("above"), 0x8000u);
  EXPECT_EQ(PriorityClassFromWord("normal"), 0x20u);
  EXPECT_EQ(PriorityClassFromWord("below"), 0x4000u);
  EXPECT_EQ(PriorityClassFromWord("low"), 0x40u);
}

TEST_F(WordsTest, UnknownPriorityWordGivesNormalSilently) {
  for (const char* word : {"highest", "", "idle", "high ", "realtime", "HIGH"})
    EXPECT_EQ(PriorityClassFromWord(word), 0x20u) << word;
  EXPECT_FALSE(sim::FileExists(LogPath));
}

TEST_F(WordsTest, EachWindowWordSelectsItsShowCommandWithoutAMessage) {
  const struct {
    const char* word;
    uint32_t command;
  } table[] = {{"forceminimize", 11}, {"hide", 0},          {"maximize", 3},
               {"minimize", 6},       {"restore", 9},       {"show", 5},
               {"showdefault", 10},   {"showmaximized", 3}, {"showminimized", 2},
               {"showminnoactive", 7}, {"showna", 8},       {"shownoactive", 4},
               {"shownormal", 1}};
  for (const auto& entry : table)
    EXPECT_EQ(ShowCommandFromWord(entry.word), entry.command) << entry.word;
  EXPECT_FALSE(sim::FileExists(LogPath));
}

TEST_F(WordsTest, UnknownWindowWordIsLoggedAndGivesShowNa) {
  EXPECT_EQ(ShowCommandFromWord("hidden"), uint32_t(SW_SHOWNA));
  EXPECT_EQ(ShowCommandFromWord(""), uint32_t(SW_SHOWNA));
  EXPECT_EQ(ShowCommandFromWord("shownoactivate"), uint32_t(SW_SHOWNA));
  EXPECT_EQ(sim::ReadFile(LogPath), Stamp + "Error: Invalid Setting = hidden\r\n" + Stamp +
                                        "Error: Invalid Setting = \r\n" + Stamp +
                                        "Error: Invalid Setting = shownoactivate\r\n");
}

TEST_F(WordsTest, UnknownWindowWordWithFileSwitchOffIsStillShowNaButUnlogged) {
  Log.SetFileEnabled(false);
  EXPECT_EQ(ShowCommandFromWord("tiny"), uint32_t(SW_SHOWNA));
  EXPECT_FALSE(sim::FileExists(LogPath));
}
