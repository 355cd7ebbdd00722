// Principal-variation search below the root: draw tests, mate-distance
// bounds, table cut, razoring and static cut, null move, internal iterative
// deepening, futility and move-count pruning, late-move reductions, and the
// offer of the remaining moves to idle threads.
#include "board/movepicker.h"
#include "engine/engine.h"
#include "engine/evaluate.h"
#include "engine/search_internal.h"

namespace {

// Margins by remaining plies; only entries 0..3 are reached (depth <= 15).
constexpr i32 FutilityMargin[8] = {0, 100, 200, 300, 975, 975, 975, 975};
constexpr i32 RazorMargin[8] = {0, 200, 400, 600, 975, 975, 975, 975};

// Stands for "static evaluation not computed".
constexpr i32 NoEval = 0x7FFF;

// A picker stage that hands out quiet moves (7) or held-back captures (8).
constexpr i32 StageQuiet = 7;

// Takes a null move back.
inline void UnmakeNullMove(Board& b, const UndoInfo& undo) {
  b.opponent = b.sideToMove;
  b.sideToMove ^= 1;
  b.key = undo.key;
  b.pawnKey = undo.pawnKey;
  b.epFile = undo.epFile;
  b.halfmoveClock = undo.halfmoveClock;
}

}  // namespace

// A quiet move that refuted a node: a killer at its ply, and its history
// grows by the square of the remaining plies while it stays within 9999.
void UpdateQuietCutoff(SearchContext& c, const Board& b, Move m, i32 ply, i32 plies) {
  Move* killers = c.killers[ply];
  if (m != killers[0]) {
    killers[1] = killers[0];
    killers[0] = m;
  }
  u16& entry = c.history[b.sideToMove][MovingPiece(m)][ToSquare(m)];
  const u16 grown = static_cast<u16>(entry + plies * plies);
  if (grown <= 9999) entry = grown;
}

i32 SearchContext::SearchPly1(Board& b, i32 alpha, i32 beta, i32 depth, u8 pvNode, u8 inCheck) {
  // The node one ply below the root is the general node at ply 1: the ply
  // limit cannot apply and a null move is always allowed there.
  return Search(b, alpha, beta, depth, 1, 1, pvNode, inCheck);
}

i32 SearchContext::Search(Board& b, i32 alpha, i32 beta, i32 depth, i32 ply, u8 nullAllowed,
                          u8 pvNode, u8 inCheck) {
  // 1. No line yet.
  pvLength[ply] = 0;
  pv[ply][0] = 0;

  // 2. Limits and stop.
  if (thread->index == 0) {
    if (!engine->PollTimeAndInput()) return 0;
  } else if (engine->stopReason.load(std::memory_order_relaxed) != StopNone) {
    return 0;
  }

  // 3.-6. Draws: ply limit, insufficient material, fifty moves, repetition.
  if (ply > MaxSearchPly) return DrawValue(*engine, b);
  if (InsufficientMaterial(b)) return DrawValue(*engine, b);
  if (b.halfmoveClock >= 100 && (!inCheck || FiftyMoveDraw(b))) return DrawValue(*engine, b);
  if (IsRepetition(b, keys, keyCount)) return DrawValue(*engine, b);

  // 7. Selective depth.
  if (selDepth < ply) selDepth = ply;

  // 8. No score beyond a mate from here can matter.
  if (alpha < ply - MateScore) alpha = ply - MateScore;
  if (beta > MateScore - ply) beta = MateScore - ply;
  if (beta <= alpha) return alpha;

  // 9. Transposition table.
  Move hashMove = 0;
  {
    i32 ttScore = 0;
    if (tt->Probe(b.key, depth, ply, alpha, beta, hashMove, ttScore) != ProbeMiss) return ttScore;
  }

  const i32 dp = depth / 4;
  const bool eligible = !pvNode && !inCheck && depth <= 15;
  const bool hasPieces = b.phaseBySide[b.sideToMove] != 0;
  i32 staticEval = NoEval;

  // 10. Razoring and the static cut, near the leaves of non-PV nodes.
  if (eligible && hasPieces && (beta < MateBound && beta > -MateBound)) {
    staticEval = EvaluateLazy(*personality, b, alpha, beta);
    if (!hashMove && staticEval + RazorMargin[dp] < beta) {
      const i32 t = beta - RazorMargin[dp];
      const i32 q = QuiesceWithPoll(b, t - 1, t, 0, ply + 1, 0, 0);
      if (q < t) return q;
    }
    if (staticEval - FutilityMargin[dp] >= beta) return staticEval - FutilityMargin[dp];
  }

  // 11. Null move: without pieces zugzwang is too likely.
  if (!pvNode && !inCheck && nullAllowed && engine->limits.nullMovePruning && hasPieces &&
      depth >= 8) {
    PushKey(b.key);
    UndoInfo undo;
    b.MakeNullMove(undo);
    currentMove[ply] = 0;
    const i32 nd = depth - 4 * (3 + dp / 8) - 4;
    const i32 score = nd <= 3 ? -QuiesceWithPoll(b, -beta, 1 - beta, 0, ply + 1, 0, 0)
                              : -Search(b, -beta, 1 - beta, nd, ply + 1, 0, 0, 0);
    UnmakeNullMove(b, undo);
    PopKey();
    if (engine->stopReason.load(std::memory_order_relaxed) != StopNone) return 0;
    if (score >= beta) return score;
  }

  // 12. Internal iterative deepening finds a first move for PV nodes.
  if (pvNode && !inCheck && depth >= 20 && !hashMove && nullAllowed) {
    pvLength[ply] = 0;
    pv[ply][0] = 0;
    Search(b, alpha, beta, depth - 8, ply, 1, 1, 0);
    hashMove = pv[ply][0];
  }

  // 13. Unwind on a stop or a refuted split point above.
  if (MustUnwind(*this)) return 0;
  pvLength[ply] = 0;
  pv[ply][0] = 0;

  // 14. Futility: quiet moves cannot lift a hopeless static score to alpha.
  u8 futilityFlag = 0;
  i32 futilityBase = 0;
  if (eligible && b.phase > 8) {
    if (staticEval == NoEval) staticEval = EvaluateLazy(*personality, b, alpha, beta);
    futilityBase = staticEval + FutilityMargin[dp];
    futilityFlag = futilityBase <= alpha ? 1 : 0;
  }

  // 15. Move picker.
  MovePicker picker;
  picker.nextStage = inCheck ? 9 : 1;
  picker.hashMove = hashMove;
  picker.killer1 = killers[ply][0];
  picker.killer2 = killers[ply][1];
  picker.ply = ply;
  i32 moveCount = 0;
  Move bestMove = 0;
  const u64 nodeKey = b.key;
  const bool npsLimited = engine->limits.npsLimit != 0;
  const bool reductions = engine->limits.lateMoveReductions != 0;

  // 16. Move loop.
  ScoredMove next;
  i32 stage;
  while ((stage = picker.Next(b, next)) != 0) {
    const Move m = next.move;
    UndoInfo undo;
    b.MakeMove(m, undo);
    if (b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove)) {
      b.UnmakeMove(m, undo);
      continue;
    }
    currentMove[ply] = m;
    PushKey(nodeKey);
    ++nodes;
    thread->AddNode();

    const u8 givesCheck = b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent) ? 1 : 0;
    const bool pawnPush = IsSeventhRankPush(m);
    const i32 extension = (givesCheck || pawnPush) ? 4 : 0;
    const bool reducible = !givesCheck && !pawnPush;

    // Futility and move-count pruning; a pruned move still counts.
    if ((futilityFlag && moveCount > 0 && reducible && IsQuiet(m)) ||
        (depth <= 63 && !inCheck && !pvNode && reducible && stage >= StageQuiet &&
         moveCount > LateMovePruningCount[dp])) {
      b.UnmakeMove(m, undo);
      PopKey();
      ++moveCount;
      continue;
    }

    if (npsLimited && ++thread->npsCounter > 63) thread->LimitNodesPerSecond();

    const i32 nd = depth + extension - 4;
    i32 score;
    if (moveCount == 0) {
      score = nd <= 3 ? -QuiesceWithPoll(b, -beta, -alpha, 0, ply + 1, pvNode, givesCheck)
                      : -Search(b, -beta, -alpha, nd, ply + 1, 1, pvNode, givesCheck);
    } else {
      if (reductions && moveCount > 3 && depth > 11 && !inCheck && reducible &&
          stage == StageQuiet) {
        const i32 row = dp < 63 ? dp : 63;
        const i32 column = moveCount < 63 ? moveCount : 63;
        i32 r = depth - 4 - 4 * LmrTable[row][column];
        if (r < 4) r = 4;
        score = -Search(b, -alpha - 1, -alpha, r, ply + 1, 1, 0, 0);
      } else {
        score = alpha + 1;
      }
      if (score > alpha) {
        score = nd <= 3 ? -QuiesceWithPoll(b, -alpha - 1, -alpha, 0, ply + 1, 0, givesCheck)
                        : -Search(b, -alpha - 1, -alpha, nd, ply + 1, 1, 0, givesCheck);
        if (score > alpha && score < beta) {
          score = nd <= 3 ? -QuiesceWithPoll(b, -beta, -alpha, 0, ply + 1, 1, givesCheck)
                          : -Search(b, -beta, -alpha, nd, ply + 1, 1, 1, givesCheck);
        }
      }
    }

    ++moveCount;
    b.UnmakeMove(m, undo);
    PopKey();
    if (MustUnwind(*this)) return 0;

    if (score > alpha) {
      if (score >= beta) {
        tt->Store(nodeKey, m, score, depth, ply, BoundLower);
        if (!inCheck && IsQuiet(m)) UpdateQuietCutoff(*this, b, m, ply, dp);
        return score;
      }
      bestMove = m;
      if (pvNode) UpdatePv(*this, ply, m);
      alpha = score;
    }

    // Offer the remaining moves to idle threads.
    if (pool->threadCount > 1 && depth > minSplitDepth &&
        thread->splitPointCount < MaxSplitPoints && HelperAvailable(*this)) {
      if (Split(b, &picker, alpha, beta, depth, ply, moveCount, inCheck, NodeKindInterior,
                futilityFlag, futilityBase, &alpha, &bestMove)) {
        if (MustUnwind(*this)) return 0;
        if (alpha >= beta) {
          // The split point hands back the move that refuted the node.
          const Move refutation = bestMove ? bestMove : m;
          tt->Store(nodeKey, refutation, alpha, depth, ply, BoundLower);
          if (!inCheck && IsQuiet(refutation)) UpdateQuietCutoff(*this, b, refutation, ply, dp);
          return alpha;
        }
        break;
      }
    }
  }

  // 17. No legal move: mate or stalemate.
  if (moveCount == 0) {
    pvLength[ply] = 0;
    pv[ply][0] = 0;
    return inCheck ? ply - MateScore : DrawValue(*engine, b);
  }
  if (bestMove)
    tt->Store(nodeKey, bestMove, alpha, depth, ply, BoundExact);
  else
    tt->Store(nodeKey, hashMove, alpha, depth, ply, BoundUpper);
  return alpha;
}
