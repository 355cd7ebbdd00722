#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "tool_helpers.h"
#include "tools/check_fen_suite.h"

TEST(CheckFenSyntax, ValidLines) {
  EXPECT_TRUE(CheckFenSyntax("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - - 0 1"));
  // The en-passant field closed by a blank is enough; the counters are optional.
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - - "));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - - 12"));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - - 12 "));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - - x anything at all"));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - - 0 1 bm e4; id \"x\";"));
  // EPD operations may follow the en-passant field.
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - -; "));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/8 w qkQK-- - "));
  // Short ranks and fewer ranks are accepted; so is a placement that ends early.
  EXPECT_TRUE(CheckFenSyntax("4k3/8/4K/8 w - - "));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8 b - - "));
  EXPECT_TRUE(CheckFenSyntax("8/8/8/8/8/8/8/4 w - - "));
  EXPECT_TRUE(CheckFenSyntax("k7/8/8/8/8/8/8/4K w - - "));
  // Thirty digits of a counter are accepted.
  EXPECT_TRUE(CheckFenSyntax(("8/8/8/8/8/8/8/8 w - - " + std::string(30, '9') + " 1").c_str()));
}

TEST(CheckFenSyntax, InvalidLines) {
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - -"));  // en-passant field not closed
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w -"));
  EXPECT_FALSE(CheckFenSyntax(""));
  EXPECT_FALSE(CheckFenSyntax("P7/8/8/8/8/8/8/8 w - - 0 1"));  // pawn on rank 8
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/7p w - - 0 1"));  // pawn on rank 1
  EXPECT_FALSE(CheckFenSyntax("kk6/8/8/8/8/8/8/8 w - - 0 1"));  // two kings of one colour
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 x - - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 white - - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8  w - - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("9/8/8/8/8/8/8/8 w - - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("0/8/8/8/8/8/8/8 w - - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("444/8/8/8/8/8/8/8 w - - 0 1"));  // more after a complete rank
  EXPECT_FALSE(CheckFenSyntax("62k/8/8/8/8/8/8/8 w - - 0 1"));  // a ninth square
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8/ w - - 0 1"));   // a rank after rank 1
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8/8 w - - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("4/4/4/4/4/4/4/4/4 w - - 0 1"));  // nine short ranks
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w KX - 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - ee 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - 3 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - e33 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - -e 0 1"));
  EXPECT_FALSE(CheckFenSyntax("8/8/8/8/8/8/8/8 w - i 0 1"));
  EXPECT_FALSE(CheckFenSyntax(("8/8/8/8/8/8/8/8 w - - " + std::string(31, '1')).c_str()));
  EXPECT_FALSE(CheckFenSyntax(("8/8/8/8/8/8/8/8 w - - 0 " + std::string(31, '1')).c_str()));
  EXPECT_FALSE(CheckFenSyntax("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRx w - - 0 1"));
}

TEST(CheckFenSyntax, PieceLimits) {
  EXPECT_TRUE(CheckFenSyntax("8/pppppppp/8/8/8/8/PPPPPPPP/8 w - - "));
  EXPECT_FALSE(CheckFenSyntax("8/pppppppp/p7/8/8/8/8/8 w - - "));  // a ninth pawn
  EXPECT_TRUE(CheckFenSyntax("NNNNNNNN/N7/8/8/8/8/8/8 w - - "));   // nine knights
  EXPECT_FALSE(CheckFenSyntax("NNNNNNNN/NN6/8/8/8/8/8/8 w - - ")); // a tenth
  EXPECT_TRUE(CheckFenSyntax("qqqqqqqq/q7/QQQQQQQQ/Q7/8/8/8/8 w - - "));
  EXPECT_FALSE(CheckFenSyntax("KK6/8/8/8/8/8/8/8 w - - "));
  EXPECT_TRUE(CheckFenSyntax("Kk6/8/8/8/8/8/8/8 w - - "));
}

TEST(CheckFenSuite, Reports) {
  TempDir dir;
  const std::string empty = dir.Write("empty.epd", "");
  {
    StdoutCapture out;
    EXPECT_EQ(RunCheckFenSuite(empty.c_str()), 1);
    EXPECT_EQ(out.Text(), "Check FEN suite : '" + empty + "'\nChecked 0 / 0 valid FEN string\n");
  }
  // The newline closes the en-passant field; without it the line is invalid.
  const std::string withNewline = dir.Write("a.epd", "8/8/8/8/8/8/8/8 w - -\n");
  const std::string withoutNewline = dir.Write("b.epd", "8/8/8/8/8/8/8/8 w - -");
  const std::string full = dir.Write("c.epd", "8/8/8/8/8/8/8/8 w - - 0 1\n");
  {
    StdoutCapture out;
    RunCheckFenSuite(withNewline.c_str());
    RunCheckFenSuite(withoutNewline.c_str());
    RunCheckFenSuite(full.c_str());
    const std::vector<std::string> lines = out.Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], "Checked 1 / 1 valid FEN string");
    EXPECT_EQ(lines[3], "Invalid FEN String : '8/8/8/8/8/8/8/8 w - -'");
    EXPECT_EQ(lines[4], "Checked 0 / 1 valid FEN string");
    EXPECT_EQ(lines[6], "Checked 1 / 1 valid FEN string");
  }
  // Empty lines are skipped; control and other bytes print as blanks.
  const std::string mixed = dir.Write(
      "d.epd", "\n8/8/8/8/8/8/8/8 w - - 0 1\r\nkk6/8/8/8/8/8/8/8 w - - 0 1\n\n\xff\x01x\n");
  {
    StdoutCapture out;
    RunCheckFenSuite(mixed.c_str());
    const std::vector<std::string> lines = out.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Invalid FEN String : 'kk6/8/8/8/8/8/8/8 w - - 0 1 '");
    EXPECT_EQ(lines[2], "Invalid FEN String : '  x '");
    EXPECT_EQ(lines[3], "Checked 1 / 3 valid FEN string");
  }
  ErrorLogCapture log;
  StdoutCapture out;
  EXPECT_EQ(RunCheckFenSuite(dir.File("missing.epd").c_str()), 0);
  EXPECT_EQ(out.Text(), "");
  ASSERT_EQ(log.Messages().size(), 1u);
}

TEST(CheckFenSuite, OverlongLineIsOneInvalidLine) {
  TempDir dir;
  // Read in pieces, the first 511 characters would be a valid FEN line.
  std::string longLine = "8/8/8/8/8/8/8/8 w - - 0 1";
  longLine += std::string(511 - longLine.size(), ' ') + "x\n";
  const std::string file = dir.Write("long.epd", longLine + "8/8/8/8/8/8/8/8 w - - 0 1\n");
  ErrorLogCapture log;
  StdoutCapture out;
  EXPECT_EQ(RunCheckFenSuite(file.c_str()), 1);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Invalid FEN String : '" + longLine.substr(0, 40) + "...' (line too long)");
  EXPECT_EQ(lines[2], "Checked 1 / 2 valid FEN string");
  EXPECT_EQ(log.Messages().size(), 1u);
}
