// Quiescence search: captures and queen promotions (in check every evasion,
// at its first ply also quiet checks) until the position is quiet. It
// generates and orders its own moves with the attack tables and uses neither
// the transposition table nor the move picker.
#include "board/attacks.h"
#include "board/movegen.h"
#include "board/movepicker.h"
#include "engine/engine.h"
#include "engine/evaluate.h"
#include "engine/search_internal.h"

namespace {

constexpr u64 Bit(i32 sq) { return 1ULL << sq; }

// Captures of a dearer or equal piece are ordered on the capture scale
// shared with the move picker; captures of a cheaper piece and promotions
// without capture score 2000 and are searched only when the exchange does
// not lose.
constexpr i32 ExchangeTestScore = 2000;

// Squares reached by pawns of `side` stepping toward the enemy, one rank.
inline u64 PawnPush(u64 pawns, i32 side) { return side == White ? pawns << 8 : pawns >> 8; }

// Pawn captures toward files a (delta 7 for White) and h (delta 9 for
// White); for Black the square number drops by 7 and 9.
inline u64 PawnCaptures7(u64 pawns, i32 side) {
  return side == White ? (pawns & NotFileA) << 7 : (pawns & NotFileH) >> 7;
}
inline u64 PawnCaptures9(u64 pawns, i32 side) {
  return side == White ? (pawns & NotFileH) << 9 : (pawns & NotFileA) >> 9;
}

inline u64 PieceAttacks(i32 type, i32 sq, u64 occ) {
  switch (type) {
    case Knight: return KnightAttacks[sq];
    case Bishop: return BishopAttacks(sq, occ);
    case Rook: return RookAttacks(sq, occ);
    case Queen: return QueenAttacks(sq, occ);
    default: return KingAttacks[sq];
  }
}

// Pawn moves onto every square of `targets`, coming from `to - delta`.
inline i32 AddPawnMoves(const Board& b, u64 targets, i32 delta, i32 promotion, Move flags,
                        ScoredMove* list, i32 n) {
  while (targets) {
    const i32 to = PopLowestSquare(targets);
    list[n++].move = EncodeMove(to - delta, to, Pawn, b.squares[to], promotion, flags);
  }
  return n;
}

// Moves of the side to move's pieces of the types first..last onto every
// square of `allowed` they attack, lowest piece and target square first.
inline i32 AddPieceMoves(const Board& b, i32 first, i32 last, u64 allowed, ScoredMove* list,
                         i32 n) {
  for (i32 type = first; type <= last; ++type) {
    u64 pieces = b.pieces[b.sideToMove][type];
    while (pieces) {
      const i32 from = PopLowestSquare(pieces);
      u64 targets = PieceAttacks(type, from, b.occupied) & allowed;
      while (targets) {
        const i32 to = PopLowestSquare(targets);
        list[n++].move = EncodeMove(from, to, type, b.squares[to]);
      }
    }
  }
  return n;
}

}  // namespace

// Captures (not in check): pieces, then pawns by 7 and by 9, en passant,
// capture-promotions and pushes to the last rank, always to a queen.
i32 GenerateQuiesceCaptures(const Board& b, ScoredMove* list) {
  const i32 side = b.sideToMove;
  const u64 enemies = b.occupiedBy[b.opponent];
  const u64 occ = b.occupied;
  i32 n = AddPieceMoves(b, Knight, King, enemies, list, 0);
  const u64 pawns = b.pieces[side][Pawn];
  const u64 lastRank = RankMask[side == White ? 7 : 0];
  const i32 d7 = side == White ? 7 : -7;
  const i32 d9 = side == White ? 9 : -9;
  const i32 push = side == White ? 8 : -8;
  const u64 take7 = PawnCaptures7(pawns, side) & enemies;
  const u64 take9 = PawnCaptures9(pawns, side) & enemies;
  n = AddPawnMoves(b, take7 & ~lastRank, d7, NoPiece, 0, list, n);
  n = AddPawnMoves(b, take9 & ~lastRank, d9, NoPiece, 0, list, n);
  if (b.epFile != 0) {
    const i32 file = b.epFile - 1;
    const i32 target = side == White ? MakeSquare(file, 5) : MakeSquare(file, 2);
    if (b.pieces[b.opponent][Pawn] & Bit(target - push)) {
      u64 takers = PawnAttacks[b.opponent][target] & pawns;
      while (takers) {
        const i32 from = PopLowestSquare(takers);
        list[n++].move = EncodeMove(from, target, Pawn, Pawn, NoPiece, MoveFlagEnPassant);
      }
    }
  }
  n = AddPawnMoves(b, take7 & lastRank, d7, Queen, 0, list, n);
  n = AddPawnMoves(b, take9 & lastRank, d9, Queen, 0, list, n);
  n = AddPawnMoves(b, PawnPush(pawns, side) & ~occ & lastRank, push, Queen, 0, list, n);
  return n;
}

// Replies to check: king steps to safe squares, then with a single checker
// captures of it and interpositions.
i32 GenerateQuiesceEvasions(const Board& b, ScoredMove* list) {
  const i32 side = b.sideToMove;
  const i32 opp = b.opponent;
  const i32 king = b.kingSquare[side];
  const u64 occ = b.occupied;
  i32 n = 0;

  u64 steps = KingAttacks[king] & ~b.occupiedBy[side];
  const u64 withoutKing = occ & ~Bit(king);
  while (steps) {
    const i32 to = PopLowestSquare(steps);
    if (!b.IsAttackedOcc(to, opp, withoutKing))
      list[n++].move = EncodeMove(king, to, King, b.squares[to]);
  }

  const u64* enemy = b.pieces[opp];
  const u64 checkers = (KnightAttacks[king] & enemy[Knight]) |
                       (PawnAttacks[side][king] & enemy[Pawn]) |
                       (BishopAttacks(king, occ) & (enemy[Bishop] | enemy[Queen])) |
                       (RookAttacks(king, occ) & (enemy[Rook] | enemy[Queen]));
  if (checkers == 0 || MoreThanOne(checkers)) return n;
  const i32 checker = LowestSquare(checkers);
  const u64 target = Bit(checker) | Between[king][checker];

  n = AddPieceMoves(b, Knight, Queen, target, list, n);

  const u64 pawns = b.pieces[side][Pawn];
  const u64 lastRank = RankMask[side == White ? 7 : 0];
  const i32 d7 = side == White ? 7 : -7;
  const i32 d9 = side == White ? 9 : -9;
  const i32 push = side == White ? 8 : -8;
  const u64 take7 = PawnCaptures7(pawns, side) & Bit(checker);
  const u64 take9 = PawnCaptures9(pawns, side) & Bit(checker);
  n = AddPawnMoves(b, take7 & ~lastRank, d7, NoPiece, 0, list, n);
  n = AddPawnMoves(b, take9 & ~lastRank, d9, NoPiece, 0, list, n);
  if (b.epFile != 0) {
    const i32 file = b.epFile - 1;
    const i32 epTarget = side == White ? MakeSquare(file, 5) : MakeSquare(file, 2);
    if (checker == epTarget - push && (enemy[Pawn] & Bit(checker))) {
      u64 takers = PawnAttacks[opp][epTarget] & pawns;
      while (takers) {
        const i32 from = PopLowestSquare(takers);
        list[n++].move = EncodeMove(from, epTarget, Pawn, Pawn, NoPiece, MoveFlagEnPassant);
      }
    }
  }
  n = AddPawnMoves(b, take7 & lastRank, d7, Queen, 0, list, n);
  n = AddPawnMoves(b, take9 & lastRank, d9, Queen, 0, list, n);
  const u64 single = PawnPush(pawns, side) & ~occ;
  n = AddPawnMoves(b, single & target & ~lastRank, push, NoPiece, 0, list, n);
  const u64 thirdRank = RankMask[side == White ? 2 : 5];
  const u64 twice = PawnPush(single & thirdRank, side) & ~occ & target;
  n = AddPawnMoves(b, twice, 2 * push, NoPiece, MoveFlagDoublePush, list, n);
  n = AddPawnMoves(b, single & target & lastRank, push, Queen, 0, list, n);
  return n;
}

// Quiet moves that give check: first discovered checks, then direct checks
// by pieces that are not discoverers. Promotions are in the capture list.
i32 GenerateQuietChecks(const Board& b, ScoredMove* list) {
  const i32 side = b.sideToMove;
  const i32 enemyKing = b.kingSquare[b.opponent];
  const u64 occ = b.occupied;
  const u64 empty = ~occ;
  const u64* own = b.pieces[side];
  const i32 push = side == White ? 8 : -8;
  const u64 lastRank = RankMask[side == White ? 7 : 0];
  const u64 startRank = RankMask[side == White ? 1 : 6];
  i32 n = 0;

  u64 candidates =
      ((own[Rook] | own[Queen]) & (RankMask[RankOf(enemyKing)] | FileMask[FileOf(enemyKing)])) |
      ((own[Bishop] | own[Queen]) & (DiagonalMask[enemyKing] | AntiDiagonalMask[enemyKing]));
  u64 discoverers = 0;
  while (candidates) {
    const i32 slider = PopLowestSquare(candidates);
    const u64 line = Between[enemyKing][slider];
    const u64 blockers = line & occ;
    if (blockers == 0 || MoreThanOne(blockers) || !(blockers & b.occupiedBy[side])) continue;
    const i32 from = LowestSquare(blockers);
    const i32 type = b.squares[from];
    const u64 away = empty & ~line;
    discoverers |= blockers;
    if (type == Pawn) {
      const i32 to = from + push;
      if ((Bit(from + push) & lastRank) || !(empty & Bit(to))) continue;
      if (away & Bit(to)) list[n++].move = EncodeMove(from, to, Pawn);
      const i32 to2 = to + push;
      if ((Bit(from) & startRank) && (away & Bit(to2)))
        list[n++].move = EncodeMove(from, to2, Pawn, NoPiece, NoPiece, MoveFlagDoublePush);
    } else {
      u64 targets = PieceAttacks(type, from, occ) & away;
      while (targets) list[n++].move = EncodeMove(from, PopLowestSquare(targets), type);
    }
  }

  const u64 bishopLines = BishopAttacks(enemyKing, occ);
  const u64 rookLines = RookAttacks(enemyKing, occ);
  const u64 checkSquares[6] = {0, 0, KnightAttacks[enemyKing], bishopLines, rookLines,
                               bishopLines | rookLines};
  for (i32 type = Knight; type <= Queen; ++type) {
    u64 pieces = own[type] & ~discoverers;
    while (pieces) {
      const i32 from = PopLowestSquare(pieces);
      u64 targets = PieceAttacks(type, from, occ) & checkSquares[type] & empty;
      while (targets) list[n++].move = EncodeMove(from, PopLowestSquare(targets), type);
    }
  }
  // Squares from which a pawn of ours attacks the enemy king.
  const u64 pawnChecks = PawnAttacks[b.opponent][enemyKing];
  const u64 pawns = own[Pawn] & ~discoverers;
  const u64 single = PawnPush(pawns, side) & empty;
  n = AddPawnMoves(b, single & pawnChecks & ~lastRank, push, NoPiece, 0, list, n);
  const u64 thirdRank = RankMask[side == White ? 2 : 5];
  const u64 twice = PawnPush(single & thirdRank, side) & empty & pawnChecks;
  n = AddPawnMoves(b, twice, 2 * push, NoPiece, MoveFlagDoublePush, list, n);
  return n;
}

i32 SearchContext::QuiesceWithPoll(Board& b, i32 alpha, i32 beta, i32 depth, i32 ply, u8 pvNode,
                                   u8 inCheck) {
  pvLength[ply] = 0;
  pv[ply][0] = 0;
  if (thread->index == 0) {
    if (!engine->PollTimeAndInput()) return 0;
  } else if (engine->stopReason.load(std::memory_order_relaxed) != StopNone) {
    return 0;
  }
  if (ply > MaxSearchPly) return DrawValue(*engine, b);
  return Quiesce(b, alpha, beta, depth, ply, pvNode, inCheck);
}

i32 SearchContext::QuiescePly1(Board& b, i32 alpha, i32 beta, i32 depth, u8 pvNode, u8 inCheck) {
  pvLength[1] = 0;
  pv[1][0] = 0;
  if (thread->index == 0) {
    if (!engine->PollTimeAndInput()) return 0;
  } else if (engine->stopReason.load(std::memory_order_relaxed) != StopNone) {
    return 0;
  }
  return Quiesce(b, alpha, beta, depth, 1, pvNode, inCheck);
}

i32 SearchContext::Quiesce(Board& b, i32 alpha, i32 beta, i32 depth, i32 ply, u8 pvNode,
                           u8 inCheck) {
  // 1. Neither side can mate.
  if (InsufficientMaterial(b)) return DrawValue(*engine, b);

  // 2. Fifty moves, unless the side to move is mated.
  if (b.halfmoveClock >= 100 && FiftyMoveDraw(b)) return DrawValue(*engine, b);

  // 3. A repetition of a position with the same side to move.
  if (IsRepetition(b, keys, keyCount)) return DrawValue(*engine, b);

  // 4. Stand pat on the static score; far outside the window the material
  // balance alone decides.
  if (!inCheck) {
    const i32 quick = b.material[b.sideToMove] - b.material[b.opponent];
    const i32 eval = (alpha <= quick + 325 && quick - 325 <= beta)
                         ? Evaluate(*personality, b)
                         : quick;
    if (eval > alpha) {
      if (eval >= beta) return eval;
      alpha = eval;
    }
  }

  // 5. Captures, or every evasion in check, best first.
  ScoredMove list[MaxMoves];
  i32 count;
  if (inCheck) {
    count = GenerateQuiesceEvasions(b, list);
    const i32 side = b.sideToMove;
    for (i32 i = 0; i < count; ++i) {
      const Move m = list[i].move;
      list[i].score = (CapturedPiece(m) != NoPiece || PromotionPiece(m) == Queen)
                          ? CaptureScore(m)
                          : 4000 + history[side][MovingPiece(m)][ToSquare(m)];
    }
  } else {
    count = GenerateQuiesceCaptures(b, list);
    for (i32 i = 0; i < count; ++i) {
      const Move m = list[i].move;
      list[i].score = PieceValue[CapturedPiece(m)] < PieceValue[MovingPiece(m)]
                          ? ExchangeTestScore
                          : CaptureScore(m);
    }
  }
  SortMoves(list, count);

  i32 legalMoves = 0;
  // 6. Search them in order; 7. then the quiet checks, in generation order.
  for (i32 pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      if (inCheck || depth < 0) break;
      count = GenerateQuietChecks(b, list);
    }
    for (i32 i = 0; i < count; ++i) {
      const Move m = list[i].move;
      if (!inCheck && (pass == 1 || list[i].score <= ExchangeTestScore) &&
          b.StaticExchange(m) < 0)
        continue;
      const u64 keyBefore = b.key;
      UndoInfo undo;
      b.MakeMove(m, undo);
      if (b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove)) {
        b.UnmakeMove(m, undo);
        continue;
      }
      ++legalMoves;
      PushKey(keyBefore);
      currentMove[ply] = m;
      ++nodes;
      thread->AddNode();
      const u8 givesCheck =
          pass == 1 ? 1 : static_cast<u8>(b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent));
      const i32 score =
          -QuiesceWithPoll(b, -beta, -alpha, depth - 1, ply + 1, pvNode, givesCheck);
      b.UnmakeMove(m, undo);
      PopKey();
      if (engine->stopReason.load(std::memory_order_relaxed) != StopNone) return 0;
      if (score > alpha) {
        if (score >= beta) return score;
        alpha = score;
        if (pvNode) UpdatePv(*this, ply, m);
      }
    }
  }

  // 8. Mated: no legal evasion.
  if (legalMoves == 0 && inCheck) {
    pvLength[ply] = 0;
    pv[ply][0] = 0;
    return ply - MateScore;
  }
  return alpha;
}
