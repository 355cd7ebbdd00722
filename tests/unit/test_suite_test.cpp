#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_helpers.h"
#include "file_helpers.h"
#include "tool_helpers.h"
#include "tools/test_suite.h"

namespace {

// The generated move from one square to another (with the promotion piece),
// 0 when there is none.
Move FindMove(const Board& board, const std::string& coordinates, i32 promotion = NoPiece) {
  const i32 from = MakeSquare(coordinates[0] - 'a', coordinates[1] - '1');
  const i32 to = MakeSquare(coordinates[2] - 'a', coordinates[3] - '1');
  ScoredMove list[MaxMoves];
  const i32 n = GenerateMoves(board, list, board.InCheck());
  for (i32 i = 0; i < n; ++i) {
    const Move m = list[i].move;
    if (FromSquare(m) == from && ToSquare(m) == to && PromotionPiece(m) == promotion) return m;
  }
  return 0;
}

std::string San(const std::string& fen, const std::string& coordinates, i32 promotion = NoPiece) {
  const Board board = BoardFromFen(fen);
  const Move move = FindMove(board, coordinates, promotion);
  EXPECT_NE(move, 0u) << coordinates;
  char text[SanTextSize];
  MoveToSan(board, move, text);
  return text;
}

}  // namespace

TEST(TestSuiteLine, SplitAtTheFirstBestOrAvoidMove) {
  TestLine t;
  ASSERT_TRUE(SplitTestLine("2rr3k/pp3pp1/8/8/8/8/8/R4RK1 w - - bm Qg6; id \"WAC.001\";\n", t));
  EXPECT_EQ(t.position, "2rr3k/pp3pp1/8/8/8/8/8/R4RK1 w - - ");
  EXPECT_EQ(t.avoid, 0);
  EXPECT_EQ(t.moves, "Qg6");
  EXPECT_EQ(t.id, "WAC.001");

  ASSERT_TRUE(SplitTestLine("8/8/8/8/8/8/8/K6k b - - am Rxb2 Kh1; id \"x\";", t));
  EXPECT_EQ(t.avoid, 1);
  EXPECT_EQ(t.moves, "Rxb2 Kh1");
  EXPECT_EQ(t.id, "x");

  // Operations are read outside quoted strings, in any order, and the
  // position ends with its last FEN field.
  ASSERT_TRUE(SplitTestLine("7k/p7/1R5K/6r1/6p1/6P1/8/8 w - - 0 1 id \"I am here; bm a1\"; bm Kh5;", t));
  EXPECT_EQ(t.position, "7k/p7/1R5K/6r1/6p1/6P1/8/8 w - - 0 1 ");
  EXPECT_EQ(t.avoid, 0);
  EXPECT_EQ(t.moves, "Kh5");
  EXPECT_EQ(t.id, "I am here; bm a1");

  // Castling written with zeros reads as letters; so does every other zero.
  ASSERT_TRUE(SplitTestLine("fen bm 0-0-0 Ra0; id \"10\";\n", t));
  EXPECT_EQ(t.moves, "O-O-O RaO");
  EXPECT_EQ(t.id, "10");
}

TEST(TestSuiteLine, ShortAndOddLines) {
  TestLine t;
  EXPECT_FALSE(SplitTestLine("8/8/8/8/8/8/8/K6k w - -\n", t));
  EXPECT_FALSE(SplitTestLine("", t));
  EXPECT_FALSE(SplitTestLine("b", t));
  EXPECT_FALSE(SplitTestLine("fen b", t));  // "bm" must end before the last character
  // Lines that end inside the fields give empty parts, never a read past the end.
  ASSERT_TRUE(SplitTestLine("fen bm", t));
  EXPECT_EQ(t.position, "fen ");
  EXPECT_EQ(t.moves, "");
  EXPECT_EQ(t.id, "");
  ASSERT_TRUE(SplitTestLine("fen bm ", t));
  EXPECT_EQ(t.moves, "");
  ASSERT_TRUE(SplitTestLine("fen bm Nf3", t));
  EXPECT_EQ(t.moves, "Nf3");
  EXPECT_EQ(t.id, "");
  ASSERT_TRUE(SplitTestLine("fen bm Nf3\n", t));
  EXPECT_EQ(t.moves, "Nf3");
  ASSERT_TRUE(SplitTestLine("fen bm Nf3; id", t));
  EXPECT_EQ(t.id, "");
  ASSERT_TRUE(SplitTestLine("fen bm Nf3; id \"", t));
  EXPECT_EQ(t.id, "");
  ASSERT_TRUE(SplitTestLine("fen bm Nf3; id \"abc", t));
  EXPECT_EQ(t.id, "abc");
  ASSERT_TRUE(SplitTestLine("fen bm Nf3;\n", t));
  EXPECT_EQ(t.id, "");
}

TEST(TestSuiteSan, PiecesPawnsAndCastling) {
  const std::string start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  EXPECT_EQ(San(start, "g1f3"), "Nf3");
  EXPECT_EQ(San(start, "e2e4"), "e4");
  // Pawn captures name the file they leave; en passant is a capture too.
  EXPECT_EQ(San("4k3/8/8/3p4/4P3/8/8/4K3 w - - 0 1", "e4d5"), "exd5");
  EXPECT_EQ(San("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5d6"), "exd6");
  EXPECT_EQ(San("3r1k2/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7e8", Queen), "e8=Q");
  EXPECT_EQ(San("3r1k2/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7d8", Knight), "exd8=N");
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/4K2R w K - 0 1", "e1h1"), "O-O");
  EXPECT_EQ(San("r3k3/8/8/8/8/8/8/4K3 b q - 0 1", "e8a8"), "O-O-O");
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1", "a1a8"), "Ra8");
  EXPECT_EQ(San("4k3/8/8/8/8/8/3p4/4K3 w - - 0 1", "e1d2"), "Kxd2");
}

TEST(TestSuiteSan, Disambiguation) {
  // Knights on b1 and f3 both reach d2: the file tells them apart.
  EXPECT_EQ(San("4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1", "b1d2"), "Nbd2");
  // Rooks on the same file: the rank.
  EXPECT_EQ(San("4k3/8/8/8/8/R7/8/R3K3 w - - 0 1", "a1a2"), "R1a2");
  // Rooks on the same rank: the file.
  EXPECT_EQ(San("4k3/8/8/8/8/8/8/R4RK1 w - - 0 1", "a1d1"), "Rad1");
  // Knights on c5, g5 and g3 all take on e4: the file of g3 does not tell it
  // from g5, its rank alone does.
  const std::string knights = "7k/8/8/2N3N1/4q2p/6N1/8/K7 w - - 0 1";
  EXPECT_EQ(San(knights, "g3e4"), "N3xe4");
  EXPECT_EQ(San(knights, "g5e4"), "Ng5xe4");  // shares its file with g3, its rank with c5
  EXPECT_EQ(San(knights, "c5e4"), "Ncxe4");
  // Knights on b5, b3 and f3 all take on d4: b3 needs file and rank.
  const std::string bKnights = "k7/8/8/1n5P/3Q4/1n3n2/8/7K b - - 0 1";
  EXPECT_EQ(San(bKnights, "b3d4"), "Nb3xd4");
  EXPECT_EQ(San(bKnights, "b5d4"), "N5xd4");
  EXPECT_EQ(San(bKnights, "f3d4"), "Nfxd4");
  // Queens on a4, h4 and a1 all reach d4: one shares the rank, one the file.
  EXPECT_EQ(San("1k6/8/8/8/Q6Q/8/8/Q3K3 w - - 0 1", "a4d4"), "Qa4d4");
  EXPECT_EQ(San("1k6/8/8/8/Q2Q4/8/8/Q3K3 w - - 0 1", "a4b4"), "Qab4");
  // The knight on f1 is pinned and cannot go to d2: the other needs no file.
  EXPECT_EQ(San("4k3/8/8/8/b7/8/8/1N2KN1r w - - 0 1", "b1d2"), "Nd2");
}

TEST(TestSuiteSan, CheckMarksAndNoMove) {
  const Board board = BoardFromFen("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1");
  char text[SanTextSize];
  MoveToSan(board, FindMove(board, "a1a8") | (1u << MoveMarkShift), text);
  EXPECT_STREQ(text, "Ra8+");
  MoveToSan(board, FindMove(board, "a1a8") | (2u << MoveMarkShift), text);
  EXPECT_STREQ(text, "Ra8#");
  MoveToSan(board, 0, text);
  EXPECT_STREQ(text, "");
}

TEST(TestSuiteRun, OverlongLineFailsWhole) {
  ToolManager tools;
  TempDir dir;
  // Read in pieces, the second piece would be a test line of its own.
  std::string longLine = "x";
  longLine += std::string(520, ' ') + "8/8/8/8/8/8/8/8 w - - bm e4;\n";
  // A line without "bm" or "am" is no test and not counted.
  const std::string file = dir.Write("long.epd", longLine + "no test here\n");
  ErrorLogCapture log;
  StdoutCapture out;
  EXPECT_EQ(RunTestSuite(tools.engine().tools, file.c_str()), 1);
  const std::vector<std::string> lines = out.Lines();
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[4], "ERROR : line too long !");
  EXPECT_TRUE(IsTimeLine(lines[6], "Time : "));
  EXPECT_EQ(lines[10], "Depth min = 1024, max = 0, average = 0");
  EXPECT_EQ(lines[12], "Score = 0 / 1");
  EXPECT_EQ(lines[14], "Bad results : ");
  EXPECT_EQ(lines[15], longLine.substr(0, 40) + "...");
  EXPECT_EQ(log.Messages().size(), 1u);
  EXPECT_EQ(tools.engine().testSuiteMode, 0);
}
