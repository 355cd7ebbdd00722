#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "common/inifile.h"

namespace {

// Writes the bytes to a temporary file and loads it.
class IniFileTest : public ::testing::Test {
 protected:
  void Load(const std::string& content) {
    char pattern[] = "/tmp/zorvel_ini_XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    path = pattern;
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    ASSERT_EQ(ini.Load(path.c_str()), 1);
  }
  void TearDown() override {
    if (!path.empty()) unlink(path.c_str());
  }
  IniFile ini;
  std::string path;
};

}  // namespace

TEST_F(IniFileTest, BlanksAroundKeysAndValuesAndCommentsBehindThemDoNotCount) {
  Load("\xEF\xBB\xBFHash = 32\r\n\t MaxThreads=4 \r\nBookFile= my book.bin ; the book\n"
       "Name=a;b #c\nEmpty= ; none\n  # indented=comment\nThreads=2");
  EXPECT_EQ(ini.GetInt("Hash", 1, 1, 16), 16);
  EXPECT_EQ(ini.GetInt("MaxThreads", 1), 4);
  EXPECT_EQ(ini.GetString("BookFile", ""), "my book.bin");
  EXPECT_EQ(ini.GetString("Name", ""), "a;b");
  EXPECT_EQ(ini.GetString("Empty", "x"), "");
  EXPECT_EQ(ini.GetString("Missing", "default"), "default");
  EXPECT_EQ(ini.pairs.size(), 6u);
  // Every value not taken as written, and every key nobody asked for, with its line.
  ini.NoteUnknownKeys();
  EXPECT_EQ(ini.notes, (std::vector<std::string>{path + " : line 1 : Hash=32 outside 1..16, 16 used",
                                                 path + " : line 7 : unknown key 'Threads' ignored"}));
}

TEST_F(IniFileTest, NumbersMustBeWhole) {
  Load("A=64 ; comment\nB=abc\nC=  -12x\nD=\nE=99999999999999999999\nF=-99999999999999999999\n"
       "G=+7\nH=  -12  \n");
  EXPECT_EQ(ini.GetInt("A", 1), 64);
  EXPECT_EQ(ini.GetInt("B", 1), 1);  // no number: the default
  EXPECT_EQ(ini.GetInt("C", 1), 1);
  EXPECT_EQ(ini.GetInt("H", 1), -12);
  EXPECT_EQ(ini.GetInt("D", 1), 1);  // "D=" is too short to be a line
  EXPECT_EQ(ini.GetInt("E", 1), INT_MAX);
  EXPECT_EQ(ini.GetInt("F", 1), INT_MIN);
  EXPECT_EQ(ini.GetInt("G", 1), 7);
}

TEST_F(IniFileTest, CommentsShortLinesAndDuplicates) {
  Load("#Hash=1\n;Hash=2\nHash=3\nHash=4\na=1\nb=\n==x\nnoequals\n\n\r\n");
  EXPECT_EQ(ini.GetInt("Hash", 0), 3);  // the first occurrence wins
  EXPECT_EQ(ini.GetInt("a", 0), 1);     // 3 characters are enough
  EXPECT_EQ(ini.GetString("b", "absent"), "absent");  // 2 characters are not
  EXPECT_EQ(ini.GetString("", "absent"), "=x");  // empty key
  ASSERT_EQ(ini.pairs.size(), 4u);
  EXPECT_EQ(ini.pairs[1].second, "4");
}

TEST_F(IniFileTest, TabsAreBlanksOtherControlAndNonAsciiBytesEndTheLine) {
  Load("Name=Zor\xC3\xA9vel\nHash\t=\t64\t; comment\nBookFile\t= my.bin\t# book\n"
       "Tab=12\t34\nCr=5\r\nx=\x01y\n");
  EXPECT_EQ(ini.GetString("Name", ""), "Zor");
  EXPECT_EQ(ini.GetInt("Hash", 1), 64);
  EXPECT_EQ(ini.GetString("BookFile", ""), "my.bin");
  EXPECT_EQ(ini.GetInt("Tab", 0), 0);  // two numbers, as "12 34" is
  EXPECT_EQ(ini.GetString("Cr", ""), "5");
  EXPECT_EQ(ini.GetString("x", "absent"), "absent");  // cut to "x=": too short
  EXPECT_EQ(ini.pairs.size(), 5u);
}

TEST_F(IniFileTest, OverlongLinesAreDroppedWhole) {
  // A commented-out line that fills the buffer: its tail is no line of its own.
  const std::string comment = "#" + std::string(1022, 'x') + "Tail=5";
  const std::string fits = "Fit=" + std::string(1019, 'f');  // 1023 characters
  Load("Long=" + std::string(1500, 'v') + "\n" + comment + "\n" + fits + "\nLast=1");
  EXPECT_EQ(ini.GetString("Long", "absent"), "absent");
  EXPECT_EQ(ini.GetInt("Tail", 0), 0);
  EXPECT_EQ(ini.GetString("Fit", ""), std::string(1019, 'f'));
  EXPECT_EQ(ini.GetInt("Last", 0), 1);  // no newline at the end of the file
  EXPECT_EQ(ini.pairs.size(), 2u);
  EXPECT_EQ(ini.longLines, (std::vector<i32>{1, 2}));
}

TEST(IniFile, MissingFileKeepsThePairsAndDefaults) {
  IniFile ini;
  EXPECT_EQ(ini.Load("/nonexistent/zorvel.ini"), 0);
  EXPECT_EQ(ini.Load("/"), 0);  // a directory is no regular file
  EXPECT_STREQ(ini.refusal, "not a regular file");
  EXPECT_EQ(ini.Load("/dev/zero"), 0);  // nor is a device, whose line never ends
  EXPECT_STREQ(ini.refusal, "not a regular file");
  EXPECT_TRUE(ini.pairs.empty());
  EXPECT_EQ(ini.GetInt("Hash", 64), 64);
  EXPECT_EQ(ini.GetString("BookFile", "book.bin"), "book.bin");
}
