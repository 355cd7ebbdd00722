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
    reads.push_back({kind, buffer.data(), reader.lineNumber});
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

TEST(LineReader, ByteOrderMarkAndCrLfAsEverySystemWritesThem) {
  TempDir dir;
  // After the mark, the first line fills the buffer exactly; its CR LF, and
  // those of the other lines, read as LF; a CR at the end of the file goes.
  const std::string path =
      dir.Write("lines.epd", "\xEF\xBB\xBF" "1234567\r\nabc\r\n\r\nxyz\r");
  ErrorLogCapture log;
  const std::vector<Read> reads = ReadAll(path, 8);
  ASSERT_EQ(reads.size(), 4u);
  for (const Read& read : reads) EXPECT_EQ(read.kind, LineRead::Line);
  EXPECT_EQ(reads[0].text, "1234567");
  EXPECT_EQ(reads[1].text, "abc\n");
  EXPECT_EQ(reads[2].text, "\n");
  EXPECT_EQ(reads[3].text, "xyz");
  EXPECT_TRUE(log.Messages().empty());
}
