#include <gtest/gtest.h>

#include <string>

#include "file_helpers.h"
#include "tool_helpers.h"
#include "tools/check_fen_suite.h"

TEST(CheckFenLine, ValidExactlyWhenTheEngineTakesTheFen) {
  ToolManager tools;  // the attack tables, and an engine to compare with
  struct Case {
    const char* line;
    const char* reason;  // null: valid
  };
  const Case cases[] = {
      {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - ", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1 bm e4; id \"x\";", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - bm Kd2; id \"x\";", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - ;D1 5 ", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - - -", nullptr},
      {"4k3/8/4K/8 w", nullptr},
      {"8/8/8/8/8/8/8/8 w - - 0 1", "no white king"},
      {"4k3/8/8/8/8/8/8/4K3 w - e3 0 1", "the en-passant square is not on rank 6 (White to move)"},
      {"4k3/8/8/8/8/8/8 w - - 0 1", "no white king"},
      {"4k3/8/8/8/8/8/8/4K3 w - - bm Kd2", nullptr},
      // Counters that do not read end the FEN: what follows is passed over.
      {"4k3/8/8/8/8/8/8/4K3 w - - +1 2", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 y", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 w - - 1x 1", nullptr},
      {"4k3/8/8/8/8/8/8/4K3 x - - 0 1", "the side to move is not 'w' or 'b'"},
      {"4k3/8/8/8/8/8/8/4K3 w KX - 0 1", "castling rights other than '-', K, Q, k, q or rook files"},
      {"4k3/8/8/8/8/8/8/4K3 w - i3 0 1", "the en-passant field is neither '-' nor a square"},
      {"P3k3/8/8/8/8/8/8/4K3 w - - 0 1", "a pawn on the first or last rank"},
      {"4k3/8/8/8/8/8/8/3KK3 w - - 0 1", "more than one white king"},
      {"4k3/8/8/8/8/8/8/4K3/8 w - - 0 1", "more than eight ranks"},
      {"4k3/8/8/8/8/8/8/4K4 w - - 0 1", "more than eight squares in a rank"},
      {"4k3/8/8/8/8/8/8/4K3x w - - 0 1", "more than eight squares in the last rank"},
      {"4k3/8/8/8/8/8/8/4K3", "no side to move"},
      {"4k3/8/8/8/8/8/8/4X3 w - - 0 1",
       "a character that is no piece letter, digit 1-8 or '/' in the placement"},
      {"4k3/8/8/8/8/8/8/4K2R w - - 0 1", nullptr},
      {"4k2R/8/8/8/8/8/8/4K3 w - - 0 1", "the side to move can take the king"},
  };
  ErrorLogCapture log;  // the engine logs every FEN it refuses
  for (const Case& c : cases) {
    const char* reason = CheckFenLine(c.line);
    EXPECT_STREQ(reason, c.reason) << c.line;
    EXPECT_EQ(tools.engine().SetFen(c.line), reason == nullptr) << c.line;
  }
}

TEST(CheckFenSuite, Reports) {
  TempDir dir;
  const std::string empty = dir.Write("empty.epd", "");
  {
    StdoutCapture out;
    // Nothing checked is a failure.
    EXPECT_EQ(RunCheckFenSuite(empty.c_str()), 0);
    EXPECT_EQ(out.Text(), "Check FEN suite : '" + empty + "'\nChecked 0 / 0 valid FEN string\n");
  }
  // Empty lines are skipped; control and other bytes print as blanks.
  const std::string mixed = dir.Write(
      "d.epd", "\n4k3/8/8/8/8/8/8/4K3 w - - 0 1\r\nkk6/8/8/8/8/8/8/4K3 w - - 0 1\n\n\xff\x01x\n");
  {
    ToolManager tools;
    StdoutCapture out;
    RunCheckFenSuite(mixed.c_str());
    const std::vector<std::string> lines = out.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Invalid FEN String : 'kk6/8/8/8/8/8/8/4K3 w - - 0 1 ' (more than one black king)");
    // The placement ends at the first blank: an empty board.
    EXPECT_EQ(lines[2], "Invalid FEN String : '  x ' (no white king)");
    EXPECT_EQ(lines[3], "Checked 1 / 3 valid FEN string");
  }
  ErrorLogCapture log;
  StdoutCapture out;
  EXPECT_EQ(RunCheckFenSuite(dir.File("missing.epd").c_str()), 0);
  EXPECT_EQ(out.Text(), "");
  ASSERT_EQ(log.Messages().size(), 1u);
}

TEST(CheckFenSuite, OverlongLineIsOneInvalidLine) {
  ToolManager tools;  // the attack tables
  TempDir dir;
  // Read in pieces, the first 511 characters would be a valid FEN line.
  std::string longLine = "4k3/8/8/8/8/8/8/4K3 w - - 0 1";
  longLine += std::string(511 - longLine.size(), ' ') + "x\n";
  const std::string file = dir.Write("long.epd", longLine + "4k3/8/8/8/8/8/8/4K3 w - - 0 1\n");
  ErrorLogCapture log;
  StdoutCapture out;
  EXPECT_EQ(RunCheckFenSuite(file.c_str()), 1);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Invalid FEN String : '" + longLine.substr(0, 40) + "...' (line too long)");
  EXPECT_EQ(lines[2], "Checked 1 / 2 valid FEN string");
  EXPECT_EQ(log.Messages().size(), 1u);
}
