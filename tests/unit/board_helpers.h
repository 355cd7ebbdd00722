// Helpers shared by the board, move generation and perft tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/board.h"
#include "board/fen.h"
#include "board/movegen.h"

// A board set from FEN text; fails the test when the text is rejected.
inline Board BoardFromFen(const std::string& fen) {
  InitAttackTables();
  i8 pieces[64];
  i32 side, rights, ep, fullmove, halfmove, rookFiles[4], consumed;
  Board board{};
  const i32 ok =
      ParseFen(fen.c_str(), pieces, &side, &rights, &ep, &fullmove, &halfmove, rookFiles, &consumed);
  EXPECT_EQ(ok, 1) << fen;
  board.SetPosition(pieces, side, static_cast<u8>(rights), static_cast<u8>(ep),
                    static_cast<u8>(halfmove), rookFiles);
  return board;
}

// The signed piece array of a board.
inline void PieceCodes(const Board& b, i8 codes[64]) {
  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 type = b.squares[sq];
    codes[sq] = static_cast<i8>((b.occupiedBy[White] >> sq & 1) ? type : -type);
  }
}

// Every field the board operations set, compared one by one (padding and
// the owner pointer aside).
inline ::testing::AssertionResult SameBoard(const Board& a, const Board& b) {
#define ZORVEL_SAME(field) \
  if (!(a.field == b.field)) return ::testing::AssertionFailure() << #field " differs";
  ZORVEL_SAME(key)
  ZORVEL_SAME(pawnKey)
  ZORVEL_SAME(occupied)
  ZORVEL_SAME(materialSignature)
  ZORVEL_SAME(sideToMove)
  ZORVEL_SAME(opponent)
  ZORVEL_SAME(phase)
  ZORVEL_SAME(castleRights)
  ZORVEL_SAME(epFile)
  ZORVEL_SAME(halfmoveClock)
  ZORVEL_SAME(chess960)
  for (i32 c = 0; c < 2; ++c) {
    ZORVEL_SAME(occupiedBy[c])
    ZORVEL_SAME(material[c])
    ZORVEL_SAME(phaseBySide[c])
    ZORVEL_SAME(kingSquare[c])
    ZORVEL_SAME(castleKingSquare[c])
    for (i32 t = 0; t < 8; ++t) ZORVEL_SAME(pieces[c][t])
    for (i32 k = 0; k < 2; ++k) {
      ZORVEL_SAME(castlePath[k][c])
      ZORVEL_SAME(castleRookSquare[k][c])
    }
  }
  for (i32 sq = 0; sq < 64; ++sq) ZORVEL_SAME(squares[sq])
#undef ZORVEL_SAME
  return ::testing::AssertionSuccess();
}

// Keys, material, phase and signature agree with a fresh SetPosition of
// the same placement, side, rights, en-passant file and clock.
inline ::testing::AssertionResult MatchesFreshSetPosition(const Board& b) {
  if (!b.IsConsistent()) return ::testing::AssertionFailure() << "inconsistent board";
  i8 codes[64];
  PieceCodes(b, codes);
  // The castling rooks by file, in the order ParseFen gives them.
  const i32 rookFiles[4] = {
      FileOf(b.castleRookSquare[CastleLong][Black]), FileOf(b.castleRookSquare[CastleShort][Black]),
      FileOf(b.castleRookSquare[CastleLong][White]), FileOf(b.castleRookSquare[CastleShort][White])};
  Board fresh{};
  fresh.SetPosition(codes, b.sideToMove, b.castleRights, b.epFile, b.halfmoveClock, rookFiles);
  if (fresh.castleRights != b.castleRights) return ::testing::AssertionFailure() << "rights";
  for (i32 c = 0; c < 2; ++c)
    for (i32 kind = 0; kind < 2; ++kind)
      if ((b.castleRights & (c == White ? 1 : 4) << kind) &&
          fresh.castleRookSquare[kind][c] != b.castleRookSquare[kind][c])
        return ::testing::AssertionFailure() << "castling rook";
  if (fresh.key != b.key) return ::testing::AssertionFailure() << "key";
  if (fresh.pawnKey != b.pawnKey) return ::testing::AssertionFailure() << "pawn key";
  if (fresh.material[0] != b.material[0] || fresh.material[1] != b.material[1])
    return ::testing::AssertionFailure() << "material";
  if (fresh.phase != b.phase || fresh.phaseBySide[0] != b.phaseBySide[0] ||
      fresh.phaseBySide[1] != b.phaseBySide[1])
    return ::testing::AssertionFailure() << "phase";
  if (fresh.materialSignature != b.materialSignature)
    return ::testing::AssertionFailure() << "signature";
  return ::testing::AssertionSuccess();
}

// All pseudo-legal moves: captures, then quiet moves.
inline std::vector<Move> AllMoves(const Board& b) {
  ScoredMove list[MaxMoves];
  const i32 n = GenerateMoves(b, list, false);
  std::vector<Move> moves;
  for (i32 i = 0; i < n; ++i) moves.push_back(list[i].move);
  return moves;
}

inline std::vector<Move> Generated(const Board& b, i32 (*generator)(const Board&, ScoredMove*)) {
  ScoredMove list[MaxMoves];
  const i32 n = generator(b, list);
  std::vector<Move> moves;
  for (i32 i = 0; i < n; ++i) moves.push_back(list[i].move);
  return moves;
}

inline bool IsLegalMove(Board b, Move m) {
  UndoInfo undo;
  b.MakeMove(m, undo);
  return !b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove);
}

inline std::vector<Move> LegalMoves(const Board& b) {
  std::vector<Move> legal;
  for (const Move m : AllMoves(b))
    if (IsLegalMove(b, m)) legal.push_back(m);
  return legal;
}

inline std::string MoveText(Move m) {
  char text[MoveTextSize];
  MoveToLongAlgebraic(&m, text);
  return text;
}

inline std::vector<std::string> MoveTexts(const std::vector<Move>& moves) {
  std::vector<std::string> texts;
  for (const Move m : moves) texts.push_back(MoveText(m));
  return texts;
}

// The generated move with this long algebraic text; fails the test when
// there is none.
inline Move GeneratedMoveByText(const Board& b, const std::string& text) {
  ScoredMove list[MaxMoves];
  const i32 n = b.InCheck() ? GenerateEvasions(b, list) : GenerateMoves(b, list, false);
  for (i32 i = 0; i < n; ++i)
    if (MoveText(list[i].move) == text) return list[i].move;
  ADD_FAILURE() << "no move " << text;
  return 0;
}

constexpr u64 Sq(i32 square) { return 1ULL << square; }

// Square from its name, "e4" -> 28.
constexpr i32 S(const char* name) { return (name[1] - '1') * 8 + (name[0] - 'a'); }
