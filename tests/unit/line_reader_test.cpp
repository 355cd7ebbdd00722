// Line input of the file tools: a line that does not fit its buffer is one
// error, never a second line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "file_helpers.h"
#include "common/line_reader.h"

namespace {

struct Read {
  LineRead kind;
  std::string text;
  int lineNumber;
};

// Every read of the file with a buffer of the size, up to the end.
std::vector<Read> ReadAll(const std::string& path, int size) {
  std::vector<Read> reads;
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (!file) return reads;
  LineReader reader(file, "lines.epd");
  std::vector<char> buffer(static_cast<size_t>(size));
  for (LineRead kind; (kind = reader.Next(buffer.data(), size)) != LineRead::End;)
    reads.push_back({kind, std::string(buffer.data(), reader.length), reader.lineNumber});
  std::fclose(file);
  return reads;
}

}  // namespace

TEST(LineReader, LinesThatFitAndLinesThatDoNot) {
  TempDir dir;
  // A buffer of 8 bytes holds a line of 7 characters (without its line end).
  const std::string fits(6, 'a');
  const std::string tooLong(8, 'b');
  const std::string path =
      dir.Write("lines.epd", fits + "\n" + tooLong + "\n" + "\n" + std::string(30, 'c') + "\nnext\n" +
                                 std::string(7, 'e') + "\n" +
                                 std::string(7, 'd'));  // 7 characters at the end of the file fit
  ErrorLogCapture log;
  const std::vector<Read> reads = ReadAll(path, 8);
  ASSERT_EQ(reads.size(), 7u);
  EXPECT_EQ(reads[0].kind, LineRead::Line);
  EXPECT_EQ(reads[0].text, fits + "\n");
  EXPECT_EQ(reads[1].kind, LineRead::TooLong);
  EXPECT_EQ(reads[1].text, tooLong.substr(0, 7));
  EXPECT_EQ(reads[1].lineNumber, 2);
  EXPECT_EQ(reads[2].kind, LineRead::Line);
  EXPECT_EQ(reads[2].text, "\n");
  EXPECT_EQ(reads[3].kind, LineRead::TooLong);
  // The rest of a long line is never a line of its own.
  EXPECT_EQ(reads[4].kind, LineRead::Line);
  EXPECT_EQ(reads[4].text, "next\n");
  EXPECT_EQ(reads[4].lineNumber, 5);
  EXPECT_EQ(reads[5].kind, LineRead::Line);
  EXPECT_EQ(reads[5].text, std::string(7, 'e'));
  EXPECT_EQ(reads[5].lineNumber, 6);
  EXPECT_EQ(reads[6].kind, LineRead::Line);
  EXPECT_EQ(reads[6].text, std::string(7, 'd'));

  const std::vector<std::string> messages = log.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "lines.epd : line 2 longer than 7 characters ignored : 'bbbbbbb...'");
  EXPECT_EQ(messages[1], "lines.epd : line 4 longer than 7 characters ignored : 'ccccccc...'");
}

TEST(LineReader, LongLastLineWithoutLineEnd) {
  TempDir dir;
  const std::string path = dir.Write("lines.epd", std::string(20, 'x'));
  ErrorLogCapture log;
  const std::vector<Read> reads = ReadAll(path, 8);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].kind, LineRead::TooLong);
  EXPECT_EQ(log.Messages().size(), 1u);
}

TEST(LineReader, ByteOrderMarkCrLfAndLoneCrAsEverySystemWritesThem) {
  TempDir dir;
  // After the mark, the first line fills the buffer exactly; its CR LF, and
  // those of the other lines, read as LF, and so does a lone CR, also after
  // a line that fills the buffer or is too long for it, and at the end of
  // the file. A NUL is a character of its line.
  const std::string path = dir.Write(
      "lines.epd", std::string("\xEF\xBB\xBF" "1234567\r\nabc\r\n\r\nlone\r\rbbbbbbbbbb\r1234567\r"
                               "x\r\nn") + '\0' + "ul\nxyz\r");
  ErrorLogCapture log;
  const std::vector<Read> reads = ReadAll(path, 8);
  const std::vector<std::string> texts = {"1234567", "abc\n",  "\n",    "lone\n",
                                          "\n",      "bbbbbbb", "1234567", "x\n",
                                          std::string("n\0ul\n", 5), "xyz\n"};
  ASSERT_EQ(reads.size(), texts.size());
  for (std::size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i].kind, i == 5 ? LineRead::TooLong : LineRead::Line) << i;
    EXPECT_EQ(reads[i].text, texts[i]) << i;
    EXPECT_EQ(reads[i].lineNumber, static_cast<int>(i) + 1) << i;
  }
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"lines.epd : line 6 longer than 7 characters ignored : 'bbbbbbb...'"});

  // Standard input keeps a lone CR inside its line: telling it from CR LF
  // would wait for the next byte.
  std::FILE* file = std::fopen(dir.Write("input.txt", "go\rstop\r\n").c_str(), "r");
  ASSERT_NE(file, nullptr);
  LineReader input(file, "standard input", false);
  char buffer[16];
  EXPECT_EQ(input.Next(buffer, sizeof buffer), LineRead::Line);
  EXPECT_EQ(std::string(buffer, input.length), "go\rstop\n");
  EXPECT_EQ(input.Next(buffer, sizeof buffer), LineRead::End);
  std::fclose(file);
}

// A line too long for the buffer is passed over up to its end, unless it
// runs on for a mebibyte: reading stops there.
TEST(LineReader, ALineEndsWithinAMebibyteOrReadingStops) {
  TempDir dir;
  const std::size_t longest = (std::size_t{1} << 20) - 1;
  for (const std::string end : {"\n", "\r", "\r\n"}) {
    const std::vector<Read> reads =
        ReadAll(dir.Write("long.epd", std::string(longest, 'x') + end + "next" + end + "last"), 8);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].kind, LineRead::TooLong);
    EXPECT_EQ(reads[1].kind, LineRead::Line);
    EXPECT_EQ(reads[1].text, "next\n");
    EXPECT_EQ(reads[1].lineNumber, 2);
  }
  const std::string path = dir.Write("endless.epd", std::string(longest + 1, 'x') + "\nnext\n");
  std::FILE* file = std::fopen(path.c_str(), "r");
  ASSERT_NE(file, nullptr);
  LineReader reader(file, "endless.epd");
  char buffer[8];
  EXPECT_EQ(reader.Next(buffer, sizeof buffer), LineRead::End);
  EXPECT_TRUE(reader.endless);
  EXPECT_EQ(reader.Next(buffer, sizeof buffer), LineRead::End);
  std::fclose(file);
}
