// Small helpers the root driver, the main search and the quiescence search
// share: draw detection, draw values and the principal-variation update.
#pragma once

#include "board/board.h"
#include "board/movegen.h"
#include "engine/engine.h"

// Deepest ply a node may have; deeper nodes score as a draw, so the per-ply
// arrays (MaxPly rows) always have room for the node and its child.
constexpr i32 MaxSearchPly = MaxPly - 2;

// Pawn counts of both sides in the material signature.
constexpr u64 SignaturePawnsMask = 0xFULL | (0xFULL << 32);

// A draw scores drawScore for the side that did not start the search and
// -drawScore for the side that did.
inline i32 DrawValue(const Engine& engine, const Board& b) {
  return b.sideToMove == engine.rootSide ? -drawScore : drawScore;
}

// No pawns and at most a minor piece's worth of material in all.
inline bool InsufficientMaterial(const Board& b) {
  return (b.materialSignature & SignaturePawnsMask) == 0 &&
         b.material[Black] + b.material[White] <= PieceValue[Bishop];
}

// With the halfmove clock at 100 or more: a draw unless the side to move is
// checkmated.
inline bool FiftyMoveDraw(Board& b) {
  if (!b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent)) return true;
  ScoredMove list[MaxMoves];
  const i32 count = GenerateEvasions(b, list);
  for (i32 i = 0; i < count; ++i) {
    UndoInfo undo;
    b.MakeMove(list[i].move, undo);
    const bool legal = !b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove);
    b.UnmakeMove(list[i].move, undo);
    if (legal) return true;
  }
  return false;
}

// The position occurred 4, 6, 8 ... plies back, within the reversible moves
// (the top of the key stack is the position one ply back).
inline bool IsRepetition(const Board& b, const u64* keys, i32 keyCount) {
  if (b.halfmoveClock <= 3) return false;
  const i32 reach = b.halfmoveClock + 1;
  for (i32 k = 4; k <= reach && k <= keyCount; k += 2)
    if (keys[keyCount - k] == b.key) return true;
  return false;
}

// A pawn moving to its seventh rank (rank index 6 for White, 1 for Black).
inline bool IsSeventhRankPush(Move m) {
  if (MovingPiece(m) != Pawn) return false;
  const i32 rank = RankOf(ToSquare(m));
  return rank == 1 || rank == 6;
}

// Neither a capture nor a promotion.
inline bool IsQuiet(Move m) { return CapturedPiece(m) == NoPiece && PromotionPiece(m) == NoPiece; }

// Row ply of the PV table becomes the move followed by the line below it.
inline void UpdatePv(SearchContext& c, i32 ply, Move move) {
  const i32 length = c.pvLength[ply + 1] < MaxPly - 1 ? c.pvLength[ply + 1] : MaxPly - 1;
  Move* row = c.pv[ply];
  const Move* below = c.pv[ply + 1];
  row[0] = move;
  for (i32 i = 0; i < length; ++i) row[i + 1] = below[i];
  c.pvLength[ply] = length + 1 < MaxPly - 1 ? length + 1 : MaxPly - 1;
}

// A split point above this thread's node has been refuted.
inline bool CutoffOnChain(const SearchThread* thread) {
  for (const SplitPoint* sp = thread->activeSplitPoint; sp; sp = sp->parent)
    if (sp->cutoff.load(std::memory_order_relaxed)) return true;
  return false;
}

// The search must unwind: the engine stops, or a split point above is cut off.
inline bool MustUnwind(const SearchContext& c) {
  return c.engine->stopReason.load(std::memory_order_relaxed) != StopNone ||
         CutoffOnChain(c.thread);
}

// A quiet move refuted the node at ply: it becomes the first killer, and its
// history grows by plies squared while it stays within 9999 (search.cpp).
void UpdateQuietCutoff(SearchContext& c, const Board& b, Move m, i32 ply, i32 plies);

// Another thread could join a split point of this context's thread (split.cpp).
bool HelperAvailable(const SearchContext& c);

// The quiescence search's own generators (quiesce.cpp), each writing moves
// from the start of list and returning their number: captures and queen
// promotions; replies to check (king steps that are safe, then with a single
// checker captures of it and interpositions); quiet moves that give check.
i32 GenerateQuiesceCaptures(const Board& b, ScoredMove* list);
i32 GenerateQuiesceEvasions(const Board& b, ScoredMove* list);
i32 GenerateQuietChecks(const Board& b, ScoredMove* list);

// The aspiration window of a root line: it starts AspirationStep either side
// of the previous score and widens by a doubling step on each failure.
constexpr i32 AspirationStep = 30;
constexpr i32 AspirationOpen = 640;  // a step beyond this opens the window fully
struct AspirationWindow {
  i32 alpha;
  i32 beta;
  i32 delta;
};

// Classifies a root score against the window (BoundExact inside, BoundUpper
// failed low, BoundLower failed high) and widens the window after a failure;
// a mate score opens it fully (think.cpp).
i32 WidenAspiration(AspirationWindow& w, i32 score);
