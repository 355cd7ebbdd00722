#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "test_support.h"

namespace {

class MakeMove : public ::testing::Test {
 protected:
  void SetUp() override { InitAttackTables(); }
};

// Finds the generated move with this text.
Move Find(const Board& b, const std::string& text) {
  for (const Move m : AllMoves(b))
    if (MoveText(m) == text) return m;
  ADD_FAILURE() << "no move " << text;
  return 0;
}

// Makes the move, checks the result against a fresh set-up, unmakes it and
// checks that every field is back.
::testing::AssertionResult MakeUnmakeRoundTrip(const Board& start, Move m, Board* after = nullptr) {
  Board b = start;
  UndoInfo undo;
  b.MakeMove(m, undo);
  ::testing::AssertionResult fresh = MatchesFreshSetPosition(b);
  if (!fresh) return fresh << " after " << MoveText(m);
  if (after) *after = b;
  b.UnmakeMove(m, undo);
  ::testing::AssertionResult same = SameBoard(start, b);
  if (!same) return same << " after unmaking " << MoveText(m);
  return ::testing::AssertionSuccess();
}

TEST_F(MakeMove, EveryMoveKindRestoresEveryField) {
  struct Case {
    const char* fen;
    const char* move;
  };
  const Case cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "Ng1-f3"},
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", "e2-e4"},
      {"rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 2", "e4xd5"},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", "e5xd6e.p"},
      {"4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1", "e4xd3e.p"},
      {"3r1k2/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7-e8=Q"},
      {"3r1k2/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7-e8=N"},
      {"3r1k2/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7xd8=R"},
      {"4k3/8/8/8/8/8/1p6/R3K3 b Q - 0 1", "b2xa1=B"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "O-O"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "O-O-O"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "O-O"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "O-O-O"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "Ra1xa8"},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "Ke1-d2"},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 3 1", "Rh8xh1"},
  };
  for (const Case& c : cases) {
    const Board b = BoardFromFen(c.fen);
    const Move m = Find(b, c.move);
    EXPECT_TRUE(MakeUnmakeRoundTrip(b, m)) << c.fen << " " << c.move;
  }
}

TEST_F(MakeMove, CastlingRightsAndClock) {
  const Board b = BoardFromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 5 1");
  Board a{};
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "Ra1xa8"), &a));
  EXPECT_EQ(a.castleRights, CastleWhiteShort | CastleBlackShort);  // both long rooks gone
  EXPECT_EQ(a.halfmoveClock, 0);
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "Ke1-f1"), &a));
  EXPECT_EQ(a.castleRights, CastleBlackShort | CastleBlackLong);
  EXPECT_EQ(a.halfmoveClock, 6);
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "Rh1-g1"), &a));
  EXPECT_EQ(a.castleRights, 15 & ~CastleWhiteShort);
  // A rook leaving a square that is not its castling square keeps the rights.
  const Board c = BoardFromFen("r3k2r/8/8/8/8/8/R7/R3K2R w KQkq - 0 1");
  ASSERT_TRUE(MakeUnmakeRoundTrip(c, Find(c, "Ra2-b2"), &a));
  EXPECT_EQ(a.castleRights, 15);
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "O-O"), &a));
  EXPECT_EQ(a.kingSquare[White], S("g1"));
  EXPECT_EQ(a.squares[S("f1")], Rook);
  EXPECT_EQ(a.castleRights, CastleBlackShort | CastleBlackLong);
}

TEST_F(MakeMove, DoublePushSetsEnPassantFileUntilTheNextMove) {
  const Board b = BoardFromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  Board a{};
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "e2-e4"), &a));
  EXPECT_EQ(a.epFile, 5);  // no black pawn can take it, the file is set anyway
  Board c{};
  ASSERT_TRUE(MakeUnmakeRoundTrip(a, Find(a, "Ke8-d7"), &c));
  EXPECT_EQ(c.epFile, 0);
}

TEST_F(MakeMove, Chess960CastlingOnSharedSquares) {
  // King f1, rook g1: short castling swaps them.
  Board b = BoardFromFen("4k3/8/8/8/8/8/8/5KR1 w K - 0 1");
  Board a{};
  ASSERT_EQ(b.castleRookSquare[CastleShort][White], S("g1"));
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "O-O"), &a));
  EXPECT_EQ(a.squares[S("g1")], King);
  EXPECT_EQ(a.squares[S("f1")], Rook);
  EXPECT_EQ(a.kingSquare[White], S("g1"));
  // King b1, rook a1: long castling ends with king c1, rook d1.
  b = BoardFromFen("4k3/8/8/8/8/8/8/RK6 w Q - 0 1");
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "O-O-O"), &a));
  EXPECT_EQ(a.squares[S("c1")], King);
  EXPECT_EQ(a.squares[S("d1")], Rook);
  EXPECT_EQ(a.squares[S("a1")], NoPiece);
  EXPECT_EQ(a.squares[S("b1")], NoPiece);
  // King g1 stays put, rook h1 goes to f1.
  b = BoardFromFen("4k3/8/8/8/8/8/8/6KR w K - 0 1");
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "O-O"), &a));
  EXPECT_EQ(a.squares[S("g1")], King);
  EXPECT_EQ(a.squares[S("f1")], Rook);
  // King d1, rook c1 long: the king lands on the rook's square.
  b = BoardFromFen("3k4/8/8/8/8/8/8/2RK4 w Q - 0 1");
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "O-O-O"), &a));
  EXPECT_EQ(a.squares[S("c1")], King);
  EXPECT_EQ(a.squares[S("d1")], Rook);
  // King e8, rook f8 short for Black: the rook stays on f8.
  b = BoardFromFen("4kr2/8/8/8/8/8/8/4K3 b k - 0 1");
  ASSERT_TRUE(MakeUnmakeRoundTrip(b, Find(b, "O-O"), &a));
  EXPECT_EQ(a.squares[S("g8")], King);
  EXPECT_EQ(a.squares[S("f8")], Rook);
}

TEST_F(MakeMove, NullMove) {
  Board b = BoardFromFen("4k3/8/8/3pP3/8/8/8/4K3 w - d6 7 1");
  const Board before = b;
  UndoInfo undo;
  undo.castleRights = 0x5a;
  b.MakeNullMove(undo);
  EXPECT_EQ(undo.move, 0u);
  EXPECT_EQ(undo.castleRights, 0x5a);  // not written by a null move
  EXPECT_EQ(b.epFile, 0);
  EXPECT_EQ(b.halfmoveClock, 0);
  EXPECT_EQ(b.sideToMove, Black);
  EXPECT_EQ(b.key, before.key ^ ZobristSideKey ^ ZobristEpKeys[3]);
  EXPECT_TRUE(MatchesFreshSetPosition(b));
  // The search's own undo of a null move.
  b.key = undo.key;
  b.pawnKey = undo.pawnKey;
  b.epFile = undo.epFile;
  b.halfmoveClock = undo.halfmoveClock;
  b.opponent = b.sideToMove;
  b.sideToMove ^= 1;
  EXPECT_TRUE(SameBoard(before, b));
}

TEST_F(MakeMove, PseudoLegalCastling) {
  const Board ok = BoardFromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  const Move shortCastle = EncodeMove(S("e1"), S("h1"), King, 0, 0, MoveFlagCastle);
  const Move longCastle = EncodeMove(S("e1"), S("a1"), King, 0, 0, MoveFlagCastle);
  EXPECT_TRUE(ok.IsPseudoLegal(shortCastle));
  EXPECT_TRUE(ok.IsPseudoLegal(longCastle));
  // Rook gone (rights kept by hand, as a stale hash move would find them).
  Board noRook = BoardFromFen("r3k2r/8/8/8/8/8/8/R3K3 w Qkq - 0 1");
  noRook.castleRights |= CastleWhiteShort;
  EXPECT_FALSE(noRook.IsPseudoLegal(shortCastle));
  // A path square occupied.
  EXPECT_FALSE(BoardFromFen("r3k2r/8/8/8/8/8/8/R3KN1R w KQkq - 0 1").IsPseudoLegal(shortCastle));
  EXPECT_FALSE(BoardFromFen("r3k2r/8/8/8/8/8/8/RN2K2R w KQkq - 0 1").IsPseudoLegal(longCastle));
  // The king's square, a crossed square or the target attacked.
  EXPECT_FALSE(BoardFromFen("r3k2r/4r3/8/8/8/8/8/R3K2R w KQkq - 0 1").IsPseudoLegal(shortCastle));
  EXPECT_FALSE(BoardFromFen("r3k2r/5r2/8/8/8/8/8/R3K2R w KQkq - 0 1").IsPseudoLegal(shortCastle));
  EXPECT_FALSE(BoardFromFen("r3k2r/6r1/8/8/8/8/8/R3K2R w KQkq - 0 1").IsPseudoLegal(shortCastle));
  // b1 may be attacked for the long castling: the king does not cross it.
  EXPECT_TRUE(BoardFromFen("r3k2r/1r6/8/8/8/8/8/R3K2R w KQkq - 0 1").IsPseudoLegal(longCastle));
  // Without the right.
  EXPECT_FALSE(BoardFromFen("r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1").IsPseudoLegal(shortCastle));
}

TEST_F(MakeMove, PseudoLegalEnPassantOnlyWhileTheFileMatches) {
  const Board b = BoardFromFen("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  const Move ep = EncodeMove(S("e5"), S("d6"), Pawn, Pawn, 0, MoveFlagEnPassant);
  EXPECT_TRUE(b.IsPseudoLegal(ep));
  EXPECT_FALSE(BoardFromFen("4k3/8/8/3pP3/8/8/8/4K3 w - - 0 1").IsPseudoLegal(ep));
  EXPECT_FALSE(BoardFromFen("4k3/8/8/2ppP3/8/8/8/4K3 w - c6 0 1").IsPseudoLegal(ep));
}

TEST_F(MakeMove, PseudoLegalRejectsWordsNoGeneratorWrites) {
  // Moves typed by a user reach the board through this test alone.
  const Board b = BoardFromFen("k7/4P3/8/8/7P/8/4P3/4K1N1 w - - 0 1");
  EXPECT_TRUE(b.IsPseudoLegal(EncodeMove(S("e2"), S("e4"), Pawn, 0, 0, MoveFlagDoublePush)));
  EXPECT_TRUE(b.IsPseudoLegal(EncodeMove(S("e7"), S("e8"), Pawn, 0, Queen)));
  // A pawn reaching the last rank must promote.
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("e7"), S("e8"), Pawn)));
  // A backward or late double push.
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("h4"), S("h2"), Pawn, 0, 0, MoveFlagDoublePush)));
  const Board late = BoardFromFen("4k3/8/8/8/8/4P3/8/4K3 w - - 0 1");
  EXPECT_FALSE(late.IsPseudoLegal(EncodeMove(S("e3"), S("e5"), Pawn, 0, 0, MoveFlagDoublePush)));
  // Promotion letters on other pieces, promotion to a king or a pawn.
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("g1"), S("f3"), Knight, 0, Queen)));
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("e7"), S("e8"), Pawn, 0, King)));
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("e7"), S("e8"), Pawn, 0, Pawn)));
  // A pawn capture that wraps around the board edge.
  const Board wrap = BoardFromFen("4k3/8/8/n7/7P/8/8/4K3 w - - 0 1");
  EXPECT_FALSE(wrap.IsPseudoLegal(EncodeMove(S("h4"), S("a5"), Pawn, Knight)));
  // En passant from a square that does not attack the target.
  const Board ep = BoardFromFen("4k3/8/8/3p4/8/8/4P3/4K3 w - d6 0 1");
  EXPECT_FALSE(ep.IsPseudoLegal(EncodeMove(S("e2"), S("d6"), Pawn, Pawn, 0, MoveFlagEnPassant)));
  // Own piece as the victim, an empty origin, the opponent's piece.
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("e1"), S("e2"), King, Pawn)));
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("d1"), S("d2"), King)));
  EXPECT_FALSE(b.IsPseudoLegal(EncodeMove(S("a8"), S("b8"), King)));
  EXPECT_FALSE(b.IsPseudoLegal(0));
}

// How many moves of each kind a walk made and unmade.
struct KindTally {
  i32 captures = 0, enPassants = 0, promotions = 0, castlings = 0, doublePushes = 0;
  void Add(Move m) {
    captures += CapturedPiece(m) != NoPiece;
    enPassants += IsEnPassant(m);
    promotions += PromotionPiece(m) != NoPiece;
    castlings += IsCastling(m);
    doublePushes += IsDoublePush(m);
  }
};

// Plays random games and, at every ply, makes and unmakes every
// pseudo-legal move with full checks. Also checks that IsPseudoLegal
// accepts exactly the generated moves, offering it the moves of the
// previous position as well.
void WalkRandomGames(const std::string& fen, i32 plies, u32 seed, KindTally* tally) {
  std::mt19937 rng(seed);
  Board b = BoardFromFen(fen);
  std::vector<Move> previous;
  i32 gameLength = 0;
  for (i32 ply = 0; ply < plies; ++ply) {
    const std::vector<Move> moves = AllMoves(b);
    std::vector<Move> legal;
    for (const Move m : moves) {
      ASSERT_TRUE(b.IsPseudoLegal(m)) << MoveText(m);
      ASSERT_TRUE(MakeUnmakeRoundTrip(b, m)) << "ply " << ply;
      tally->Add(m);
      if (IsLegalMove(b, m)) legal.push_back(m);
    }
    for (const Move m : previous) {
      const bool generated = std::find(moves.begin(), moves.end(), m) != moves.end();
      ASSERT_EQ(b.IsPseudoLegal(m), generated) << MoveText(m);
    }
    previous = moves;
    if (legal.empty() || b.halfmoveClock >= 100 || ++gameLength > 300) {
      b = BoardFromFen(fen);
      gameLength = 0;
      previous.clear();
      continue;
    }
    UndoInfo undo;
    b.MakeMove(legal[rng() % legal.size()], undo);
  }
}

TEST_F(MakeMove, RandomGamesFromTheStartPosition) {
  KindTally tally;
  WalkRandomGames("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                  ForTarget(20000, 4000), 1, &tally);
  EXPECT_GT(tally.captures, 0);
  EXPECT_GT(tally.doublePushes, 0);
  EXPECT_GT(tally.castlings, 0);
  if (!SlowTarget()) {
    EXPECT_GT(tally.enPassants, 0);
    EXPECT_GT(tally.promotions, 0);
  }
}

TEST_F(MakeMove, RandomGamesFromTrickyPositions) {
  const char* fens[] = {
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1",
  };
  u32 seed = 10;
  KindTally tally;
  for (const char* fen : fens) WalkRandomGames(fen, ForTarget(5000, 1500), seed++, &tally);
  EXPECT_GT(tally.enPassants, 0);
  EXPECT_GT(tally.promotions, 0);
  EXPECT_GT(tally.castlings, 0);
}

TEST_F(MakeMove, RandomGamesFromChess960Positions) {
  const char* fens[] = {
      "bqnb1rkr/pp3ppp/3ppn2/2p5/5P2/P2P4/NPP1P1PP/BQ1BNRKR w HFhf - 2 9",
      "2nnrbkr/p1qppppp/8/1ppb4/6PP/3PP3/PPP2P2/BQNNRBKR w HEhe - 1 9",
      "qbbnnrkr/2pp2pp/p7/1p2pp2/8/P3PP2/1PPP1KPP/QBBNNR1R w hf - 0 9",
      "rk2r3/pppppppp/8/8/8/8/PPPPPPPP/RK2R3 w EAea - 0 1",
      "1r3kr1/pppppppp/8/8/8/8/PPPPPPPP/1R3KR1 w GBgb - 0 1",
      // Rights that name an inner rook.
      "1rk2rr1/ppppppp1/8/8/8/8/PPPPPPP1/1RK2RR1 w FBfb - 0 1",
      "3k4/8/8/8/8/8/8/3K2RR w G - 0 1",
  };
  u32 seed = 20;
  KindTally tally;
  for (const char* fen : fens) WalkRandomGames(fen, ForTarget(5000, 1500), seed++, &tally);
  EXPECT_GT(tally.castlings, 0);
}

}  // namespace
