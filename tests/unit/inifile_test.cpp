#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/inifile.h"
#include "file_helpers.h"

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
       "G=+7\nH=  -12  \nMaxThreads= 99999999999999999 ; all of them\nLow=-4294967297\n");
  EXPECT_EQ(ini.GetInt("A", 1), 64);
  EXPECT_EQ(ini.GetInt("B", 1), 1);  // no number: the default
  EXPECT_EQ(ini.GetInt("C", 1), 1);
  EXPECT_EQ(ini.GetInt("H", 1), -12);
  EXPECT_EQ(ini.GetInt("D", 1), 1);  // "D=" is too short to be a line
  EXPECT_EQ(ini.GetInt("E", 1), INT_MAX);
  EXPECT_EQ(ini.GetInt("F", 1), INT_MIN);
  EXPECT_EQ(ini.GetInt("G", 1), 7);
  // A number outside its range is told as written, not as held to 32 bits.
  ini.notes.clear();
  EXPECT_EQ(ini.GetInt("MaxThreads", 1, 1, 64), 64);
  EXPECT_EQ(ini.GetInt("Low", 1, 1, 64), 1);
  EXPECT_EQ(ini.notes,
            (std::vector<std::string>{path + " : line 9 : MaxThreads=99999999999999999 outside 1..64, 64 used",
                                      path + " : line 10 : Low=-4294967297 outside 1..64, 1 used"}));
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

// A value is read whole: UTF-8 text (a file name) belongs to it, a line
// holding any other control byte is refused whole, and a lone CR ends a line
// as LF does, so that every note names the right line.
TEST_F(IniFileTest, ValuesAreReadWholeAndControlBytesRefuseTheirLine) {
  Load(std::string("Name=Zor\xC3\xA9vel\nBookFile=apertura_\xC3\xB1.bin\nHash\t=\t64\t; comment\n"
                   "Tab=12\t34\nThreads=2") +
       '\0' + "48\nx=\x01y\nDel=a\x7F\n" +
       "Cr=5\rA=1\r\rB=2\r\nA=3\rLast=\x02\r");
  EXPECT_EQ(ini.GetString("Name", ""), "Zor\xC3\xA9vel");
  EXPECT_EQ(ini.GetString("BookFile", ""), "apertura_\xC3\xB1.bin");
  EXPECT_EQ(ini.GetInt("Hash", 1), 64);
  EXPECT_EQ(ini.GetString("Tab", ""), "12\t34");
  EXPECT_EQ(ini.GetInt("Threads", 1), 1);  // not 2: the line is refused whole
  EXPECT_FALSE(ini.Has("x"));
  EXPECT_FALSE(ini.Has("Del"));
  EXPECT_EQ(ini.GetInt("Cr", 0), 5);
  EXPECT_EQ(ini.GetInt("A", 0), 1);
  EXPECT_EQ(ini.GetInt("B", 0), 2);
  EXPECT_FALSE(ini.Has("Last"));
  EXPECT_EQ(ini.pairs.size(), 8u);
  EXPECT_EQ(ini.dataLines, 12);  // every line but the empty one
  EXPECT_EQ(ini.notes,
            (std::vector<std::string>{path + " : line 5 ignored, it holds the control character 0x00",
                                      path + " : line 6 ignored, it holds the control character 0x01",
                                      path + " : line 7 ignored, it holds the control character 0x7F",
                                      path + " : line 12 ignored, A is given on line 9 already : 'A=3'",
                                      path + " : line 13 ignored, it holds the control character 0x02"}));
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
  EXPECT_EQ(ini.refusal, nullptr);  // missing, not refused
  // A file that is there but does not open is refused with the reason: a
  // link to itself fails for every user, root too.
  TempDir dir;
  ASSERT_EQ(symlink("loop.ini", dir.File("loop.ini").c_str()), 0);
  EXPECT_EQ(ini.Load(dir.File("loop.ini").c_str()), 0);
  EXPECT_STREQ(ini.refusal, std::strerror(ELOOP));
  if (geteuid() != 0) {  // root reads a file whatever its mode
    dir.Write("closed.ini", "Hash=64\n");
    ASSERT_EQ(chmod(dir.File("closed.ini").c_str(), 0), 0);
    EXPECT_EQ(ini.Load(dir.File("closed.ini").c_str()), 0);
    EXPECT_STREQ(ini.refusal, std::strerror(EACCES));
  }
  EXPECT_EQ(ini.Load("/"), 0);  // a directory is no regular file
  EXPECT_STREQ(ini.refusal, "not a regular file");
  EXPECT_EQ(ini.Load("/dev/zero"), 0);  // nor is a device, whose line never ends
  EXPECT_STREQ(ini.refusal, "not a regular file");
  EXPECT_TRUE(ini.pairs.empty());
  EXPECT_EQ(ini.GetInt("Hash", 64), 64);
  EXPECT_EQ(ini.GetString("BookFile", "book.bin"), "book.bin");
}
