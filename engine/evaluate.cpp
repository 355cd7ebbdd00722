#include "engine/evaluate.h"

#include "engine/eval_tables.h"
#include "engine/kpk.h"
#include "engine/pawn_hash.h"
#include "engine/personality.h"
#include "engine/search_thread.h"

namespace {

// Scores are summed in u32 and turned back into i32 only to divide and to
// return. The sums then wrap exactly like 32-bit machine arithmetic: a
// personality file may set any 32-bit weight, and an absurd one must give a
// meaningless score, never a signed overflow.
constexpr i32 Signed(u32 sum) { return static_cast<i32>(sum); }
constexpr u32 Wrap(i32 value) { return static_cast<u32>(value); }

// a / b truncating toward zero for a divisor that comes from the weights:
// 0 gives 0 and -1 negates without overflow.
inline i32 DivideBy(i32 a, i32 b) {
  if (b == 0) return 0;
  if (b == -1) return Signed(0u - Wrap(a));
  return a / b;
}

// clang-format off
enum : i32 {
  A1, B1, C1, D1, E1, F1, G1, H1,
  A2, B2, C2, D2, E2, F2, G2, H2,
  A3, B3, C3, D3, E3, F3, G3, H3,
  A6 = 40, B6, C6, D6, E6, F6, G6, H6,
  A7, B7, C7, D7, E7, F7, G7, H7,
  A8, B8, C8, D8, E8, F8, G8, H8,
};
// clang-format on

constexpr u64 Bit(i32 sq) { return 1ULL << sq; }
// Every square of bits is in set.
constexpr bool All(u64 set, u64 bits) { return (set & bits) == bits; }

inline i32 HighestSquare(u64 bb) { return 63 - __builtin_clzll(bb); }

inline i32 Distance(i32 a, i32 b) {
  const i32 df = FileOf(a) > FileOf(b) ? FileOf(a) - FileOf(b) : FileOf(b) - FileOf(a);
  const i32 dr = RankOf(a) > RankOf(b) ? RankOf(a) - RankOf(b) : RankOf(b) - RankOf(a);
  return df > dr ? df : dr;
}

// Fills toward rank 8 and toward rank 1, the squares themselves included.
constexpr u64 NorthFill(u64 b) {
  b |= b << 8;
  b |= b << 16;
  return b | b << 32;
}
constexpr u64 SouthFill(u64 b) {
  b |= b >> 8;
  b |= b >> 16;
  return b | b >> 32;
}
// The squares beside each square of the set.
constexpr u64 Sideways(u64 b) { return ((b << 1) & NotFileA) | ((b >> 1) & NotFileH); }

template <i32 Side>
constexpr u64 PawnAttackSet(u64 pawns) {
  return Side == White ? ((pawns << 7) & NotFileH) | ((pawns << 9) & NotFileA)
                       : ((pawns >> 9) & NotFileH) | ((pawns >> 7) & NotFileA);
}

// ---------------------------------------------------------------------------
// Endgames recognised by the material signature.

enum EndingRule : u8 {
  EndingDraw,
  EndingScale2,
  EndingScale4,
  EndingScale8,
  EndingLoneKing,
  EndingKingPawn
};

struct EndingSignature {
  u32 first;   // one side's half of the signature...
  u32 second;  // ...and the other's, with either colour on either side
  EndingRule rule;
};

// Halves count pawns 0x1, knights 0x10, bishops 0x100, rooks 0x1000, queens 0x10000.
constexpr EndingSignature EndingSignatures[] = {
    {0x0, 0x20, EndingDraw},         // K v KNN
    {0x10, 0x10, EndingDraw},        // KN v KN
    {0x100, 0x100, EndingDraw},      // KB v KB
    {0x100, 0x10, EndingDraw},       // KB v KN
    {0x20, 0x20, EndingScale2},      // KNN v KNN
    {0x10, 0x20, EndingScale2},      // KN v KNN
    {0x100, 0x20, EndingScale2},     // KB v KNN
    {0x110, 0x10, EndingScale2},     // KBN v KN
    {0x110, 0x100, EndingScale2},    // KBN v KB
    {0x200, 0x10, EndingScale4},     // KBB v KN
    {0x200, 0x100, EndingScale4},    // KBB v KB
    {0x10, 0x1, EndingScale8},       // KN v KP
    {0x100, 0x1, EndingScale8},      // KB v KP
    {0x1000, 0x10, EndingScale8},    // KR v KN
    {0x1000, 0x100, EndingScale8},   // KR v KB
    {0x10000, 0x0, EndingLoneKing},  // KQ v K
    {0x1000, 0x0, EndingLoneKing},   // KR v K
    {0x1, 0x0, EndingKingPawn},      // KP v K
};

// Queen or rook against a bare king: drive the king to the edge with the
// own king close by.
i32 LoneKingScore(const Board& board, i32 strong, i32 pieceType) {
  const i32 weakKing = board.kingSquare[strong ^ 1];
  const u32 v = Wrap(PieceValue[pieceType]) + Wrap(LoneKingEdgeBonus[weakKing]) +
                Wrap(KingProximityBonus[Distance(board.kingSquare[strong], weakKing)]);
  return Signed(board.sideToMove == strong ? v : 0u - v);
}

// King and pawn against king, from the bitbase, which is oriented for a
// White pawn: a Black pawn is asked as the position mirrored top to bottom.
i32 KingPawnScore(const Board& board, i32 strong) {
  const u64 pawns = board.pieces[strong][Pawn];
  if (!pawns) return 0;
  const i32 pawn = LowestSquare(pawns);
  bool wins;
  i32 relativeRank;
  if (strong == White) {
    wins = ProbeKpk(board.sideToMove == White ? 1 : 0, board.kingSquare[White],
                    board.kingSquare[Black], pawn);
    relativeRank = RankOf(pawn);
  } else {
    wins = ProbeKpk(board.sideToMove == Black ? 1 : 0, board.kingSquare[Black] ^ 56,
                    board.kingSquare[White] ^ 56, pawn ^ 56);
    relativeRank = 7 - RankOf(pawn);
  }
  if (!wins) return 0;
  const u32 v = Wrap(PieceValue[Pawn]) + Wrap(8 * relativeRank);
  return Signed(board.sideToMove == strong ? v : 0u - v);
}

// Known endings of few pieces. Returns true with the final score (for the
// side to move) in score; otherwise sets scale, which stays 32 when nothing
// is recognised.
bool RecogniseEnding(const Board& board, i32& score, i32& scale) {
  const u32 white = static_cast<u32>(board.materialSignature >> 32);
  const u32 black = static_cast<u32>(board.materialSignature);
  if (((white | black) & 0xF) == 0 &&
      Signed(Wrap(board.material[Black]) + Wrap(board.material[White])) <= PieceValue[Bishop]) {
    score = 0;  // not enough to mate
    return true;
  }
  for (const EndingSignature& e : EndingSignatures) {
    if (!((white == e.first && black == e.second) || (white == e.second && black == e.first)))
      continue;
    const i32 strong = white != 0 ? White : Black;  // for the lone-king endings
    switch (e.rule) {
      case EndingDraw:
        score = 0;
        return true;
      case EndingScale2:
        scale = 2;
        return false;
      case EndingScale4:
        scale = 4;
        return false;
      case EndingScale8:
        scale = 8;
        return false;
      case EndingLoneKing:
        score = LoneKingScore(board, strong, (white | black) == 0x10000 ? Queen : Rook);
        return true;
      case EndingKingPawn:
        score = KingPawnScore(board, strong);
        return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Pawn structure.

// One side's pawn scores (piece-square values and penalties) and its passed
// pawns that are not doubled.
template <i32 Us>
void ScorePawnSide(const Board& board, u64 enemyPawnAttacks, u32& mg, u32& eg, u64& passedOut) {
  constexpr i32 Them = Us ^ 1;
  const u64 own = board.pieces[Us][Pawn];
  const u64 enemy = board.pieces[Them][Pawn];

  // behindOwn: squares with an own pawn ahead on the file, so a pawn there
  // is doubled. enemyAhead: squares with an enemy pawn ahead on the file;
  // beside them an enemy pawn is diagonally ahead or further. supported:
  // squares with an own pawn beside or behind on an adjacent file.
  // stopAttacked: squares whose square ahead an enemy pawn attacks.
  u64 behindOwn, enemyAhead, supported, stopAttacked;
  if (Us == White) {
    behindOwn = SouthFill(own >> 8);
    enemyAhead = SouthFill(enemy >> 8);
    supported = NorthFill(Sideways(own));
    stopAttacked = enemyPawnAttacks >> 8;
  } else {
    behindOwn = NorthFill(own << 8);
    enemyAhead = NorthFill(enemy << 8);
    supported = SouthFill(Sideways(own));
    stopAttacked = enemyPawnAttacks << 8;
  }
  const u64 doubledSet = own & behindOwn;
  const u64 passedSet = own & ~(enemyAhead | Sideways(enemyAhead));
  const u64 unsupportedSet = own & ~supported & stopAttacked;

  u32 pmg = 0, peg = 0;
  u64 passed = 0;
  for (u64 bb = own; bb;) {
    const i32 sq = PopLowestSquare(bb);
    const u64 bit = Bit(sq);
    pmg += Wrap(PieceSquareTable[Us][Pawn][sq].mg);
    peg += Wrap(PieceSquareTable[Us][Pawn][sq].eg);
    const bool isDoubled = (doubledSet & bit) != 0;
    const bool isPassed = (passedSet & bit) != 0;
    const bool isIsolated = (own & AdjacentFilesMask[FileOf(sq)]) == 0;
    // Of two pawns on a file only the front one can earn the passed bonus.
    if (isPassed && !isDoubled) passed |= bit;
    if (isDoubled) {
      pmg -= Wrap(DoubledPawnPenalty.mg);
      peg -= Wrap(DoubledPawnPenalty.eg);
    }
    if (isIsolated) {
      pmg -= Wrap(IsolatedPawnPenalty.mg);
      peg -= Wrap(IsolatedPawnPenalty.eg);
    } else if (!isPassed && (unsupportedSet & bit)) {
      pmg -= Wrap(BackwardPawnPenalty.mg);
      peg -= Wrap(BackwardPawnPenalty.eg);
    }
  }
  mg = pmg;
  eg = peg;
  passedOut = passed;
}

// Fills every field of entry with the pawn structure of the board.
void ScorePawns(const Board& board, PawnHashEntry& entry) {
  const u64 whiteAttacks = PawnAttackSet<White>(board.pieces[White][Pawn]);
  const u64 blackAttacks = PawnAttackSet<Black>(board.pieces[Black][Pawn]);
  u32 wmg, weg, bmg, beg;
  ScorePawnSide<White>(board, blackAttacks, wmg, weg, entry.whitePassed);
  ScorePawnSide<Black>(board, whiteAttacks, bmg, beg, entry.blackPassed);
  entry.mg = Signed(wmg - bmg);
  entry.eg = Signed(weg - beg);
  entry.key = board.pawnKey;
}

// One side's passed-pawn bonuses. Passed pawns change with every piece
// move, so this is not cached.
template <i32 Us>
void ScorePassedPawns(const Board& board, u64 passed, u32& mg, u32& eg) {
  constexpr i32 Them = Us ^ 1;
  const i32 ownKing = board.kingSquare[Us];
  const i32 enemyKing = board.kingSquare[Them];
  const u64 ownPawns = board.pieces[Us][Pawn];
  u32 smg = 0, seg = 0;
  for (u64 bb = passed; bb;) {
    const i32 sq = PopLowestSquare(bb);
    const i32 relativeRank = Us == White ? RankOf(sq) : 7 - RankOf(sq);
    const i32 bmg = PassedPawnBonus[relativeRank].mg;
    const i32 beg = PassedPawnBonus[relativeRank].eg;
    smg += Wrap(bmg);
    seg += Wrap(beg);
    // The shift drops off the board for a pawn on its last rank.
    const u64 ahead = Us == White ? Bit(sq) << 8 : Bit(sq) >> 8;
    if (board.occupiedBy[Them] & ahead) {
      smg -= Wrap(bmg >> 1);
      seg -= Wrap(beg >> 1);
    }
    if (PawnAttacks[Them][sq] & ownPawns) {
      smg += Wrap(bmg >> 1);
      seg += Wrap(beg >> 1);
    }
    seg += Wrap(Distance(enemyKing, sq) - Distance(ownKing, sq) + 1);
  }
  mg = smg;
  eg = seg;
}

// ---------------------------------------------------------------------------
// Pieces, mobility and king safety.

struct PieceTerms {
  u32 mg = 0;  // piece-square, outpost and rook terms
  u32 eg = 0;
  u32 mobilityMg = 0;  // kept apart: the personality scales it
  u32 mobilityEg = 0;
  u64 attacks[8] = {};  // union of the attack sets by piece type, for king safety
};

template <i32 Us, i32 Type>
inline void AddPiece(PieceTerms& t, i32 sq, u64 attacks, u64 reachable) {
  const ScorePair& pst = PieceSquareTable[Us][Type][sq];
  const ScorePair& mobility = MobilityBonus[Type][PopCount(attacks & reachable)];
  t.mg += Wrap(pst.mg);
  t.eg += Wrap(pst.eg);
  t.mobilityMg += Wrap(mobility.mg);
  t.mobilityEg += Wrap(mobility.eg);
  t.attacks[Type] |= attacks;
}

template <i32 Us>
void ScorePieces(const Board& board, u64 enemyPawnAttacks, PieceTerms& t) {
  constexpr i32 Them = Us ^ 1;
  const u64 occupied = board.occupied;
  const u64 ownPawns = board.pieces[Us][Pawn];
  const u64 enemyPawns = board.pieces[Them][Pawn];
  // Squares a piece counts for mobility: not own, not covered by enemy pawns.
  const u64 reachable = ~board.occupiedBy[Us] & ~enemyPawnAttacks;

  for (u64 bb = board.pieces[Us][Knight]; bb;) {
    const i32 sq = PopLowestSquare(bb);
    AddPiece<Us, Knight>(t, sq, KnightAttacks[sq], reachable);
    // An outpost: out of reach of enemy pawns and defended by an own one.
    const i32 outpost = KnightOutpostBonus[Us][sq];
    if (outpost != 0 && !(enemyPawnAttacks & Bit(sq)) && (PawnAttacks[Them][sq] & ownPawns)) {
      t.mg += Wrap(outpost);
      t.eg += Wrap(outpost);
    }
  }
  for (u64 bb = board.pieces[Us][Bishop]; bb;) {
    const i32 sq = PopLowestSquare(bb);
    AddPiece<Us, Bishop>(t, sq, BishopAttacks(sq, occupied), reachable);
  }
  for (u64 bb = board.pieces[Us][Rook]; bb;) {
    const i32 sq = PopLowestSquare(bb);
    AddPiece<Us, Rook>(t, sq, RookAttacks(sq, occupied), reachable);
    const u64 file = FileMask[FileOf(sq)];
    if (!(ownPawns & file)) {
      const ScorePair& bonus = (enemyPawns & file) ? RookSemiOpenFileBonus : RookOpenFileBonus;
      t.mg += Wrap(bonus.mg);
      t.eg += Wrap(bonus.eg);
    }
    // The seventh rank counts while it holds enemy pawns or cuts off the king.
    const bool seventh =
        Us == White ? RankOf(sq) == 6 &&
                          (RankOf(board.kingSquare[Black]) == 7 || (enemyPawns & RankMask[6]))
                    : RankOf(sq) == 1 &&
                          (RankOf(board.kingSquare[White]) == 0 || (enemyPawns & RankMask[1]));
    if (seventh) {
      t.mg += Wrap(RookSeventhRankBonus.mg);
      t.eg += Wrap(RookSeventhRankBonus.eg);
    }
  }
  for (u64 bb = board.pieces[Us][Queen]; bb;) {
    const i32 sq = PopLowestSquare(bb);
    AddPiece<Us, Queen>(t, sq, QueenAttacks(sq, occupied), reachable);
  }
}

// The king's pawn shelter and the enemy pieces bearing on the squares around
// it, scaled by the enemy's material (no attack without pieces left).
template <i32 Us>
i32 KingSafety(const EvalSettings& settings, const Board& board, const PieceTerms& enemy,
               u32 enemyMaterialMg) {
  const i32 king = board.kingSquare[Us];
  const u64 ownPawns = board.pieces[Us][Pawn];

  u32 shelter = 0;
  if (Us == White ? king < 16 : king >= 48) {
    const i32 kingFile = FileOf(king);
    const i32 first = kingFile > 0 ? kingFile - 1 : 0;
    const i32 last = kingFile < 7 ? kingFile + 1 : 7;
    for (i32 file = first; file <= last; ++file) {
      // The file's rearmost own pawn, by relative rank; 0 for none.
      const u64 onFile = ownPawns & FileMask[file];
      i32 index = 0;
      if (onFile)
        index = Us == White ? RankOf(LowestSquare(onFile)) : 7 - RankOf(HighestSquare(onFile));
      shelter -= Wrap(KingShieldPenalty[index]);
    }
  }

  const u64 zone = KingAttacks[king];
  i32 units = 2 * PopCount(enemy.attacks[Knight] & zone) +
              2 * PopCount(enemy.attacks[Bishop] & zone) +
              3 * PopCount(enemy.attacks[Rook] & zone) + 5 * PopCount(enemy.attacks[Queen] & zone);
  if (units > 30) units = 31;

  i32 safety =
      DivideBy(Signed((shelter - Wrap(KingAttackPenalty[units])) * enemyMaterialMg), startMaterial);
  const Personality& personality = settings.personality;
  if (personality.active) {
    const i32 weight =
        Us == settings.evalRootSide ? personality.KingSafetyOwn : personality.KingSafetyOpp;
    safety = Signed(Wrap(safety) * Wrap(weight)) / 100;
  }
  return safety;
}

}  // namespace

i32 Evaluate(const EvalSettings& settings, const Board& board) {
  const Personality& personality = settings.personality;

  // 1-2. Known endings, only with little material left.
  i32 scale = 32;
  if (board.phase <= 8) {
    i32 score;
    if (RecogniseEnding(board, score, scale)) return score;
  }

  // 3. Material, bishop pair, no pawns, tempo.
  const u64 signature = board.materialSignature;
  u32 materialMg[2], materialEg[2];
  for (i32 side = Black; side <= White; ++side) {
    materialMg[side] = materialEg[side] = Wrap(board.material[side]);
    if (((signature >> (32 * side + 8)) & 0xF) > 1) {
      materialMg[side] += Wrap(BishopPairBonus.mg);
      materialEg[side] += Wrap(BishopPairBonus.eg);
    }
    if (!board.pieces[side][Pawn]) {
      materialMg[side] -= Wrap(NoPawnsPenalty);
      materialEg[side] -= Wrap(NoPawnsPenalty);
    }
  }
  u32 mg = materialMg[White] - materialMg[Black];
  u32 eg = materialEg[White] - materialEg[Black];
  if (board.sideToMove == White) {
    mg += Wrap(TempoBonus.mg);
    eg += Wrap(TempoBonus.eg);
  } else {
    mg -= Wrap(TempoBonus.mg);
    eg -= Wrap(TempoBonus.eg);
  }

  // 4. Fixed patterns.
  const u64 whitePawns = board.pieces[White][Pawn];
  const u64 blackPawns = board.pieces[Black][Pawn];
  {
    const u64 wn = board.pieces[White][Knight], bn = board.pieces[Black][Knight];
    const u64 wb = board.pieces[White][Bishop], bb = board.pieces[Black][Bishop];
    const u64 wr = board.pieces[White][Rook], br = board.pieces[Black][Rook];
    const i32 wk = board.kingSquare[White], bk = board.kingSquare[Black];
    // Central pawns at home behind a piece block the development.
    if ((whitePawns & Bit(D2)) && board.squares[D3]) mg -= Wrap(BlockedCentralPawnPenalty);
    if ((whitePawns & Bit(E2)) && board.squares[E3]) mg -= Wrap(BlockedCentralPawnPenalty);
    if ((blackPawns & Bit(D7)) && board.squares[D6]) mg += Wrap(BlockedCentralPawnPenalty);
    if ((blackPawns & Bit(E7)) && board.squares[E6]) mg += Wrap(BlockedCentralPawnPenalty);
    // Knights and bishops that took a rook-file pawn and cannot get out.
    if ((wn & Bit(A7)) && All(blackPawns, Bit(B7) | Bit(A6))) mg -= Wrap(TrappedKnightPenalty);
    if ((wn & Bit(H7)) && All(blackPawns, Bit(G7) | Bit(H6))) mg -= Wrap(TrappedKnightPenalty);
    if ((bn & Bit(A2)) && All(whitePawns, Bit(A3) | Bit(B2))) mg += Wrap(TrappedKnightPenalty);
    if ((bn & Bit(H2)) && All(whitePawns, Bit(H3) | Bit(G2))) mg += Wrap(TrappedKnightPenalty);
    if ((wb & Bit(A7)) && (blackPawns & Bit(B6))) mg -= Wrap(TrappedBishopPenalty);
    if ((wb & Bit(H7)) && (blackPawns & Bit(G6))) mg -= Wrap(TrappedBishopPenalty);
    if ((bb & Bit(A2)) && (whitePawns & Bit(B3))) mg += Wrap(TrappedBishopPenalty);
    if ((bb & Bit(H2)) && (whitePawns & Bit(G3))) mg += Wrap(TrappedBishopPenalty);
    // A rook shut in by its own uncastled king.
    if (((wk == F1 || wk == G1 || wk == H1) && (wr & (Bit(G1) | Bit(H1)))) ||
        ((wk == A1 || wk == B1 || wk == C1) && (wr & (Bit(A1) | Bit(B1)))))
      mg -= Wrap(TrappedRookPenalty);
    if (((bk == F8 || bk == G8 || bk == H8) && (br & (Bit(G8) | Bit(H8)))) ||
        ((bk == A8 || bk == B8 || bk == C8) && (br & (Bit(A8) | Bit(B8)))))
      mg += Wrap(TrappedRookPenalty);
  }

  // 5-6. Pawn structure from the owner's pawn hash (computed on a miss, and
  // without caching when there is no hash), then the passed pawns.
  if (board.pawnKey != 0) {
    PawnHashEntry uncached;
    const PawnHashEntry* pawns = &uncached;
    SearchThread* owner = board.owner;
    if (owner && owner->pawnHash) {
      PawnHashEntry& entry =
          owner->pawnHash[static_cast<u32>(board.pawnKey) & static_cast<u32>(owner->pawnHashMask)];
      if (entry.key != board.pawnKey) ScorePawns(board, entry);
      pawns = &entry;
    } else {
      ScorePawns(board, uncached);
    }
    mg += Wrap(pawns->mg);
    eg += Wrap(pawns->eg);

    u32 wmg, weg, bmg, beg;
    ScorePassedPawns<White>(board, pawns->whitePassed, wmg, weg);
    ScorePassedPawns<Black>(board, pawns->blackPassed, bmg, beg);
    mg += wmg - bmg;
    eg += weg - beg;
  }

  // 7. Pieces.
  PieceTerms white, black;
  ScorePieces<White>(board, PawnAttackSet<Black>(blackPawns), white);
  ScorePieces<Black>(board, PawnAttackSet<White>(whitePawns), black);
  mg += white.mg - black.mg;
  eg += white.eg - black.eg;

  // 8. Mobility, scaled by the personality for the engine's side and the other.
  if (!personality.active) {
    mg += white.mobilityMg - black.mobilityMg;
    eg += white.mobilityEg - black.mobilityEg;
  } else {
    const u32 own = Wrap(personality.MobilityOwn);
    const u32 opp = Wrap(personality.MobilityOpp);
    const u32 whiteWeight = settings.evalRootSide == White ? own : opp;
    const u32 blackWeight = settings.evalRootSide == White ? opp : own;
    mg += Wrap(Signed(white.mobilityMg * whiteWeight - black.mobilityMg * blackWeight) / 100);
    eg += Wrap(Signed(white.mobilityEg * whiteWeight - black.mobilityEg * blackWeight) / 100);
  }

  // 9. King safety.
  const i32 whiteSafety = KingSafety<White>(settings, board, black, materialMg[Black]);
  const i32 blackSafety = KingSafety<Black>(settings, board, white, materialMg[White]);

  // 10. Kings' squares, then the blend of middle and end game by phase.
  const ScorePair& whiteKing = PieceSquareTable[White][King][board.kingSquare[White]];
  const ScorePair& blackKing = PieceSquareTable[Black][King][board.kingSquare[Black]];
  const u32 mgTotal =
      Wrap(whiteSafety) + Wrap(whiteKing.mg) + mg - (Wrap(blackSafety) + Wrap(blackKing.mg));
  const u32 egTotal = eg + Wrap(whiteKing.eg) - Wrap(blackKing.eg);
  // Not clamped: promotions can take it past 24.
  const u32 phase = Wrap(board.phaseBySide[Black] + board.phaseBySide[White]);
  i32 score = Signed(phase * mgTotal + (24u - phase) * egTotal) / 24;

  // 11. Drawish endings keep a fraction of the score.
  if (scale != 32) score = Signed(Wrap(scale) * Wrap(score)) / 32;

  // 12. Noise, fixed for a position: for a strength limit, or by the personality.
  const i32 noise = static_cast<i32>(board.key % 200) - 100;
  const u32 elo = static_cast<u32>(settings.elo);
  if (settings.strengthLimited && !personality.active && elo < 2000) {
    const u32 strength = elo * 100 / 2000;
    score = Signed((100 - strength) * Wrap(noise) + strength * Wrap(score)) / 100;
  } else if (personality.active && personality.Randomness != 0) {
    const u32 randomness = Wrap(personality.Randomness);
    score = Signed(randomness * Wrap(noise) + (100u - randomness) * Wrap(score)) / 100;
  }

  if (score > EvalLimit) score = EvalLimit;
  if (score < -EvalLimit) score = -EvalLimit;

  // 13. For the side to move.
  return board.sideToMove == White ? score : -score;
}

i32 EvaluateLazy(const EvalSettings& settings, const Board& board, i32 alpha, i32 beta) {
  u32 lazy = Wrap(board.material[White]) - Wrap(board.material[Black]);
  if (board.sideToMove == Black) lazy = 0u - lazy;
  if (Signed(lazy + LazyEvalMargin) < alpha || Signed(lazy - LazyEvalMargin) > beta)
    return Signed(lazy);
  return Evaluate(settings, board);
}
