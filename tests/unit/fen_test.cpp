#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "board_helpers.h"

namespace {

struct Fen {
  i8 pieces[64];
  i32 side, rights, ep, fullmove, halfmove, rookFiles[4], consumed;
  i32 result;
  explicit Fen(const std::string& text) {
    result = ParseFen(text.c_str(), pieces, &side, &rights, &ep, &fullmove, &halfmove, rookFiles,
                      &consumed);
  }
};

TEST(FenParse, FullText) {
  const std::string text = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1";
  const Fen f(text);
  ASSERT_EQ(f.result, 1);
  EXPECT_EQ(f.side, Black);
  EXPECT_EQ(f.rights, 15);
  EXPECT_EQ(f.ep, 5);
  EXPECT_EQ(f.halfmove, 0);
  EXPECT_EQ(f.fullmove, 1);
  EXPECT_EQ(f.consumed, static_cast<i32>(text.size()));
  EXPECT_EQ(f.pieces[S("e4")], Pawn);
  EXPECT_EQ(f.pieces[S("e2")], 0);
  EXPECT_EQ(f.pieces[S("a1")], Rook);
  EXPECT_EQ(f.pieces[S("d8")], -Queen);
  EXPECT_EQ(f.pieces[S("e8")], -King);
}

TEST(FenParse, MalformedText) {
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e6 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR w KQkq e3 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR x KQkq - 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/0/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQxq - 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq i3 0 1").result, 0);
  EXPECT_EQ(Fen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRw KQkq - 0 1").result, 0);
  EXPECT_EQ(Fen("").result, 0);
}

TEST(FenParse, PlacementNeverLeavesTheBoard) {
  // More than eight squares in a rank, more than eight ranks: malformed,
  // and nothing is written outside the 64 squares.
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/4K3P w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/4K34 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/PPPPPPPPPK w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/4K3/8 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/4K3/ w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/4K3/1 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("7k9/8/8/8/8/8/8/4K3 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("k7/////////////////K7 w - - 0 1").result, 0);
  // A short rank is accepted; the rest of it stays empty.
  const Fen f("k/8/8/8/8/8/8/K w - - 0 1");
  ASSERT_EQ(f.result, 1);
  EXPECT_EQ(f.pieces[S("a8")], -King);
  EXPECT_EQ(f.pieces[S("a1")], King);
}

TEST(FenParse, TruncatedTextIsReadSafely) {
  // Every prefix of a full FEN: parsed without reading past its end.
  const std::string text = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq - 12 123";
  for (size_t n = 0; n <= text.size(); ++n) {
    const std::string prefix = text.substr(0, n);
    char* exact = new char[n + 1];  // no slack behind the terminator for the sanitizers
    std::memcpy(exact, prefix.c_str(), n + 1);
    i8 pieces[64];
    i32 side, rights, ep, fullmove, halfmove, rookFiles[4], consumed;
    const i32 result =
        ParseFen(exact, pieces, &side, &rights, &ep, &fullmove, &halfmove, rookFiles, &consumed);
    delete[] exact;
    const size_t sideField = text.find(' ') + 1;
    EXPECT_EQ(result, n > sideField ? 1 : 0) << prefix;
  }
}

TEST(FenParse, OptionalFields) {
  Fen f("8/8/8/8/8/8/8/K6k w");
  ASSERT_EQ(f.result, 1);
  EXPECT_EQ(f.side, White);
  EXPECT_EQ(f.rights, 0);
  EXPECT_EQ(f.ep, 0);
  EXPECT_EQ(f.halfmove, 0);
  EXPECT_EQ(f.fullmove, 0);
  EXPECT_EQ(f.consumed, 0);
  // EPD operations after the fourth field.
  f = Fen("8/8/8/8/8/8/8/K6k b - - bm Kb2; id \"x\";");
  ASSERT_EQ(f.result, 1);
  EXPECT_EQ(f.side, Black);
  EXPECT_EQ(f.halfmove, 0);
  EXPECT_EQ(f.consumed, 0);
  f = Fen("8/8/8/8/8/8/8/K6k w - - 12 123");
  EXPECT_EQ(f.halfmove, 12);
  EXPECT_EQ(f.fullmove, 123);
  // A counter is used when it reads; from one that does not, the rest of
  // the text is passed over.
  f = Fen("8/8/8/8/8/8/8/K6k w - - 12 bm Kb2;");
  EXPECT_EQ(f.result, 1);
  EXPECT_EQ(f.halfmove, 12);
  EXPECT_EQ(f.fullmove, 0);
  f = Fen("8/8/8/8/8/8/8/K6k w - - 7x 20 # from game 12");
  EXPECT_EQ(f.result, 1);
  EXPECT_EQ(f.halfmove, 0);
  EXPECT_EQ(f.fullmove, 0);
  f = Fen("8/8/8/8/8/8/8/K6k w - - - -");
  EXPECT_EQ(f.result, 1);
  EXPECT_EQ(f.halfmove, 0);
  EXPECT_EQ(f.fullmove, 0);
  EXPECT_EQ(f.consumed, 27);  // the whole text
  // A clock of 100 or more keeps its third digit.
  f = Fen("8/8/8/8/8/8/8/K6k w - - 100 80");
  EXPECT_EQ(f.halfmove, 100);
  EXPECT_EQ(f.fullmove, 80);
  f = Fen("8/8/8/8/8/8/8/K6k w - - 999 80");
  EXPECT_EQ(f.halfmove, 255);
}

TEST(FenParse, CastlingField) {
  Fen f("r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1");
  ASSERT_EQ(f.result, 1);
  EXPECT_EQ(f.rights, 15);
  EXPECT_EQ(f.rookFiles[0], 0);
  EXPECT_EQ(f.rookFiles[1], 7);
  EXPECT_EQ(f.rookFiles[2], 0);
  EXPECT_EQ(f.rookFiles[3], 7);
  f = Fen("r3k2r/8/8/8/8/8/8/R3K2R w H - 0 1");
  EXPECT_EQ(f.rights, CastleWhiteShort);
  f = Fen("1r3kr1/8/8/8/8/8/8/1R3KR1 w GBgb - 0 1");
  EXPECT_EQ(f.rights, 15);
  EXPECT_EQ(f.rookFiles[0], 1);
  EXPECT_EQ(f.rookFiles[1], 6);
  EXPECT_EQ(f.rookFiles[2], 1);
  EXPECT_EQ(f.rookFiles[3], 6);
  f = Fen("r3k2r/8/8/8/8/8/8/R3K2R w Qk - 0 1");
  EXPECT_EQ(f.rights, CastleWhiteLong | CastleBlackShort);
}

TEST(FenParse, ImpossibleMaterialIsMalformed) {
  // Each side needs exactly one king, and no more pieces than a game gives.
  EXPECT_EQ(Fen("8/8/8/8/8/8/8/8 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/8 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/8/3KK3 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/PPPPPPPP/P3K3 w - - 0 1").result, 0);
  EXPECT_EQ(Fen("QQQQQQQQ/QQQQQQQQ/8/8/8/8/8/4K2k w - - 0 1").result, 0);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/PPPPPPPP/QQ2K3 w - - 0 1").result, 0);
  // Nine queens with no pawns left, or seven pawns and one extra knight.
  EXPECT_EQ(Fen("QQQQQQQQ/8/8/8/8/8/8/Q3K2k w - - 0 1").result, 1);
  EXPECT_EQ(Fen("4k3/8/8/8/8/8/PPPPPPP1/NNN1K3 w - - 0 1").result, 1);
}

TEST(MoveText, LongAlgebraic) {
  EXPECT_EQ(MoveText(0), "");
  EXPECT_EQ(MoveText(EncodeMove(S("g1"), S("f3"), Knight)), "Ng1-f3");
  EXPECT_EQ(MoveText(EncodeMove(S("e2"), S("e4"), Pawn, 0, 0, MoveFlagDoublePush)), "e2-e4");
  EXPECT_EQ(MoveText(EncodeMove(S("d5"), S("e6"), Pawn, Pawn, 0, MoveFlagEnPassant)), "d5xe6e.p");
  EXPECT_EQ(MoveText(EncodeMove(S("f3"), S("e5"), Knight, Pawn) | (1u << MoveMarkShift)), "Nf3xe5+");
  EXPECT_EQ(MoveText(EncodeMove(S("b7"), S("b8"), Pawn, 0, Queen) | (2u << MoveMarkShift)), "b7-b8=Q#");
  EXPECT_EQ(MoveText(EncodeMove(S("e7"), S("d8"), Pawn, Rook, Knight)), "e7xd8=N");
  EXPECT_EQ(MoveText(EncodeMove(S("e1"), S("h1"), King, 0, 0, MoveFlagCastle)), "O-O");
  EXPECT_EQ(MoveText(EncodeMove(S("e8"), S("a8"), King, 0, 0, MoveFlagCastle)), "O-O-O");
  // Chess960: the side is told by the rook's file, and no mark is added.
  EXPECT_EQ(MoveText(EncodeMove(S("b1"), S("a1"), King, 0, 0, MoveFlagCastle) | (1u << MoveMarkShift)),
            "O-O-O");
  EXPECT_EQ(MoveText(EncodeMove(S("f1"), S("g1"), King, 0, 0, MoveFlagCastle)), "O-O");
  // The longest text fits the buffer.
  EXPECT_EQ(MoveText(EncodeMove(S("d5"), S("e6"), Pawn, Pawn, 0, MoveFlagEnPassant) |
                     (2u << MoveMarkShift)).size() + 1,
            static_cast<size_t>(MoveTextSize));
}

TEST(FindMoveOrigin, PicksTheUnpinnedCandidate) {
  // Knights on b1 and f3 can both reach d2; the b1 knight is pinned by the
  // rook on a1.
  Board b = BoardFromFen("4k3/8/8/8/8/5N2/8/rN2K3 w - - 0 1");
  i32 origin = 99, captured = 99;
  ASSERT_TRUE(b.FindMoveOrigin(S("d2"), Knight, -1, -1, &origin, &captured));
  EXPECT_EQ(origin, S("f3"));
  EXPECT_EQ(captured, NoPiece);
  // Both free: the lower square.
  b = BoardFromFen("4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1");
  ASSERT_TRUE(b.FindMoveOrigin(S("d2"), Knight, -1, -1, &origin, &captured));
  EXPECT_EQ(origin, S("b1"));
  // File and rank hints.
  ASSERT_TRUE(b.FindMoveOrigin(S("d2"), Knight, 5, -1, &origin, &captured));
  EXPECT_EQ(origin, S("f3"));
  ASSERT_TRUE(b.FindMoveOrigin(S("d2"), Knight, -1, 0, &origin, &captured));
  EXPECT_EQ(origin, S("b1"));
  EXPECT_FALSE(b.FindMoveOrigin(S("d2"), Knight, 3, -1, &origin, &captured));
  // A piece pinned by the piece it captures may take it.
  b = BoardFromFen("4k3/8/8/8/R7/8/8/r1R1K3 w - - 0 1");
  ASSERT_TRUE(b.FindMoveOrigin(S("a1"), Rook, -1, -1, &origin, &captured));
  EXPECT_EQ(origin, S("c1"));
  EXPECT_EQ(captured, Rook);
  // Every candidate pinned: false, origin -1.
  b = BoardFromFen("4k3/8/8/8/1b5b/8/3N1N2/4K3 w - - 0 1");
  EXPECT_FALSE(b.FindMoveOrigin(S("e4"), Knight, -1, -1, &origin, &captured));
  EXPECT_EQ(origin, -1);
  // Pawns are not resolved here.
  EXPECT_FALSE(b.FindMoveOrigin(S("e3"), Pawn, -1, -1, &origin, &captured));
}

TEST(BoardPrint, StartPosition) {
  Board b{};
  b.SetStartPosition();
  ::testing::internal::CaptureStdout();
  b.Print();
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string rule = "|---|---|---|---|---|---|---|---|\n";
  const std::string expected = rule + "| r | n | b | q | k | b | n | r |\n" + rule +
                               "| p | p | p | p | p | p | p | p |\n" + rule +
                               "|   |   |   |   |   |   |   |   |\n" + rule +
                               "|   |   |   |   |   |   |   |   |\n" + rule +
                               "|   |   |   |   |   |   |   |   |\n" + rule +
                               "|   |   |   |   |   |   |   |   |\n" + rule +
                               "| P | P | P | P | P | P | P | P |\n" + rule +
                               "| R | N | B | Q | K | B | N | R |\n" + rule + "White to play\n";
  EXPECT_EQ(out, expected);
}

}  // namespace
