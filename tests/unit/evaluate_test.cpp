#include "engine/evaluate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board_helpers.h"
#include "common/timer.h"
#include "engine/eval_tables.h"
#include "engine/kpk.h"
#include "engine/personality.h"
#include "engine/search_thread.h"
#include "test_support.h"

namespace {

// ---------------------------------------------------------------------------
// A plain evaluator written square by square from the rules, with ray walks
// and neighbour tests instead of bit sets and fills, and no cache. The real
// one must agree with it everywhere the endgame recognisers stay out.

bool OnBoard(i32 file, i32 rank) { return file >= 0 && file < 8 && rank >= 0 && rank < 8; }

bool Has(const Board& b, i32 colour, i32 type, i32 file, i32 rank) {
  if (!OnBoard(file, rank)) return false;
  const i32 sq = MakeSquare(file, rank);
  return b.squares[sq] == type && ((b.occupiedBy[colour] >> sq) & 1);
}

i32 Forward(i32 colour) { return colour == White ? 1 : -1; }
i32 RelativeRank(i32 colour, i32 rank) { return colour == White ? rank : 7 - rank; }

// Does a pawn of colour attack the square?
bool PawnHits(const Board& b, i32 colour, i32 file, i32 rank) {
  return Has(b, colour, Pawn, file - 1, rank - Forward(colour)) ||
         Has(b, colour, Pawn, file + 1, rank - Forward(colour));
}

i32 KingDistance(i32 a, i32 b) {
  return std::max(std::abs(FileOf(a) - FileOf(b)), std::abs(RankOf(a) - RankOf(b)));
}

u64 Reach(const Board& b, i32 sq, i32 type) {
  static const i32 knight[8][2] = {{1, 2},   {2, 1},   {2, -1}, {1, -2},
                                   {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
  static const i32 lines[8][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1},
                                  {1, 0}, {-1, 0}, {0, 1},  {0, -1}};
  u64 reach = 0;
  if (type == Knight) {
    for (const auto& d : knight)
      if (OnBoard(FileOf(sq) + d[0], RankOf(sq) + d[1]))
        reach |= Sq(MakeSquare(FileOf(sq) + d[0], RankOf(sq) + d[1]));
    return reach;
  }
  const i32 first = type == Rook ? 4 : 0;
  const i32 last = type == Bishop ? 4 : 8;
  for (i32 d = first; d < last; ++d) {
    for (i32 f = FileOf(sq) + lines[d][0], r = RankOf(sq) + lines[d][1]; OnBoard(f, r);
         f += lines[d][0], r += lines[d][1]) {
      reach |= Sq(MakeSquare(f, r));
      if (b.squares[MakeSquare(f, r)]) break;
    }
  }
  return reach;
}

struct PawnTerms {
  i32 mg = 0, eg = 0;  // White minus Black
  u64 passed[2] = {0, 0};
};

PawnTerms ReferencePawns(const Board& b) {
  PawnTerms t;
  for (i32 c = Black; c <= White; ++c) {
    const i32 sign = c == White ? 1 : -1;
    for (i32 sq = 0; sq < 64; ++sq) {
      if (!Has(b, c, Pawn, FileOf(sq), RankOf(sq))) continue;
      const i32 f = FileOf(sq), r = RankOf(sq), up = Forward(c);
      bool doubled = false, isolated = true, passed = true, supported = false;
      for (i32 rr = 0; rr < 8; ++rr) {
        const bool ahead = (rr - r) * up > 0;
        if (ahead && Has(b, c, Pawn, f, rr)) doubled = true;
        for (i32 ff = f - 1; ff <= f + 1; ++ff)
          if (ahead && Has(b, c ^ 1, Pawn, ff, rr)) passed = false;
        for (i32 ff = f - 1; ff <= f + 1; ff += 2) {
          if (Has(b, c, Pawn, ff, rr)) isolated = false;
          if (!ahead && Has(b, c, Pawn, ff, rr)) supported = true;
        }
      }
      i32 mg = PieceSquareTable[c][Pawn][sq].mg, eg = PieceSquareTable[c][Pawn][sq].eg;
      if (passed && !doubled) t.passed[c] |= Sq(sq);
      if (doubled) mg -= DoubledPawnPenalty.mg, eg -= DoubledPawnPenalty.eg;
      if (isolated) {
        mg -= IsolatedPawnPenalty.mg, eg -= IsolatedPawnPenalty.eg;
      } else if (!passed && !supported && PawnHits(b, c ^ 1, f, r + up)) {
        mg -= BackwardPawnPenalty.mg, eg -= BackwardPawnPenalty.eg;
      }
      t.mg += sign * mg;
      t.eg += sign * eg;
    }
  }
  return t;
}

// Steps 3 to 13 of the evaluation with the given scale.
i32 ReferenceEvaluate(const EvalSettings& s, const Board& b, i32 scale = 32) {
  const Personality& p = s.personality;
  i32 matMg[2], matEg[2], mg = 0, eg = 0;
  for (i32 c = Black; c <= White; ++c) {
    i32 bishops = 0, pawns = 0;
    for (i32 sq = 0; sq < 64; ++sq) {
      bishops += Has(b, c, Bishop, FileOf(sq), RankOf(sq));
      pawns += Has(b, c, Pawn, FileOf(sq), RankOf(sq));
    }
    matMg[c] = matEg[c] = b.material[c];
    if (bishops >= 2) matMg[c] += BishopPairBonus.mg, matEg[c] += BishopPairBonus.eg;
    if (pawns == 0) matMg[c] -= NoPawnsPenalty, matEg[c] -= NoPawnsPenalty;
  }
  const i32 tempo = b.sideToMove == White ? 1 : -1;
  mg += matMg[White] - matMg[Black] + tempo * TempoBonus.mg;
  eg += matEg[White] - matEg[Black] + tempo * TempoBonus.eg;

  // Fixed patterns, written by coordinates (file, rank from 0).
  auto pawnAt = [&](i32 c, i32 f, i32 r) { return Has(b, c, Pawn, f, r); };
  for (i32 f : {3, 4}) {
    if (pawnAt(White, f, 1) && b.squares[MakeSquare(f, 2)]) mg -= BlockedCentralPawnPenalty;
    if (pawnAt(Black, f, 6) && b.squares[MakeSquare(f, 5)]) mg += BlockedCentralPawnPenalty;
  }
  for (i32 f : {0, 7}) {
    const i32 in = f == 0 ? 1 : 6;  // the neighbouring file toward the centre
    if (Has(b, White, Knight, f, 6) && pawnAt(Black, in, 6) && pawnAt(Black, f, 5))
      mg -= TrappedKnightPenalty;
    if (Has(b, Black, Knight, f, 1) && pawnAt(White, f, 2) && pawnAt(White, in, 1))
      mg += TrappedKnightPenalty;
    if (Has(b, White, Bishop, f, 6) && pawnAt(Black, in, 5)) mg -= TrappedBishopPenalty;
    if (Has(b, Black, Bishop, f, 1) && pawnAt(White, in, 2)) mg += TrappedBishopPenalty;
  }
  for (i32 c = Black; c <= White; ++c) {
    const i32 k = b.kingSquare[c], home = c == White ? 0 : 7, sign = c == White ? -1 : 1;
    if (RankOf(k) != home) continue;
    const bool kingSide = FileOf(k) >= 5 && (Has(b, c, Rook, 6, home) || Has(b, c, Rook, 7, home));
    const bool queenSide = FileOf(k) <= 2 && (Has(b, c, Rook, 0, home) || Has(b, c, Rook, 1, home));
    if (kingSide || queenSide) mg += sign * TrappedRookPenalty;
  }

  if (b.pawnKey != 0) {
    const PawnTerms pawns = ReferencePawns(b);
    mg += pawns.mg;
    eg += pawns.eg;
    for (i32 c = Black; c <= White; ++c) {
      const i32 sign = c == White ? 1 : -1;
      for (i32 sq = 0; sq < 64; ++sq) {
        if (!(pawns.passed[c] & Sq(sq))) continue;
        const i32 r = RelativeRank(c, RankOf(sq));
        const i32 bmg = PassedPawnBonus[r].mg, beg = PassedPawnBonus[r].eg;
        i32 pmg = bmg, peg = beg;
        const i32 aheadRank = RankOf(sq) + Forward(c);
        if (OnBoard(FileOf(sq), aheadRank) && b.squares[MakeSquare(FileOf(sq), aheadRank)] &&
            ((b.occupiedBy[c ^ 1] >> MakeSquare(FileOf(sq), aheadRank)) & 1))
          pmg -= bmg / 2, peg -= beg / 2;
        if (PawnHits(b, c, FileOf(sq), RankOf(sq))) pmg += bmg / 2, peg += beg / 2;
        peg += KingDistance(b.kingSquare[c ^ 1], sq) - KingDistance(b.kingSquare[c], sq) + 1;
        mg += sign * pmg;
        eg += sign * peg;
      }
    }
  }

  i32 mobMg[2] = {0, 0}, mobEg[2] = {0, 0};
  u64 unions[2][8] = {};
  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 type = b.squares[sq];
    if (type < Knight || type > Queen) continue;
    const i32 c = (b.occupiedBy[White] >> sq) & 1 ? White : Black, sign = c == White ? 1 : -1;
    const u64 reach =
        type == Queen ? Reach(b, sq, Bishop) | Reach(b, sq, Rook) : Reach(b, sq, type);
    unions[c][type] |= reach;
    i32 n = 0;
    for (i32 t = 0; t < 64; ++t)
      if ((reach & Sq(t)) && !((b.occupiedBy[c] >> t) & 1) &&
          !PawnHits(b, c ^ 1, FileOf(t), RankOf(t)))
        ++n;
    mobMg[c] += MobilityBonus[type][n].mg;
    mobEg[c] += MobilityBonus[type][n].eg;
    i32 pmg = PieceSquareTable[c][type][sq].mg, peg = PieceSquareTable[c][type][sq].eg;
    if (type == Knight && KnightOutpostBonus[c][sq] != 0 &&
        !PawnHits(b, c ^ 1, FileOf(sq), RankOf(sq)) && PawnHits(b, c, FileOf(sq), RankOf(sq)))
      pmg += KnightOutpostBonus[c][sq], peg += KnightOutpostBonus[c][sq];
    if (type == Rook) {
      bool own = false, enemy = false, seventh = false;
      for (i32 r = 0; r < 8; ++r)
        own |= pawnAt(c, FileOf(sq), r), enemy |= pawnAt(c ^ 1, FileOf(sq), r);
      if (!own && enemy) pmg += RookSemiOpenFileBonus.mg, peg += RookSemiOpenFileBonus.eg;
      if (!own && !enemy) pmg += RookOpenFileBonus.mg, peg += RookOpenFileBonus.eg;
      if (RelativeRank(c, RankOf(sq)) == 6) {
        seventh = RelativeRank(c, RankOf(b.kingSquare[c ^ 1])) == 7;
        for (i32 f = 0; f < 8; ++f) seventh |= pawnAt(c ^ 1, f, RankOf(sq));
      }
      if (seventh) pmg += RookSeventhRankBonus.mg, peg += RookSeventhRankBonus.eg;
    }
    mg += sign * pmg;
    eg += sign * peg;
  }
  if (!p.active) {
    mg += mobMg[White] - mobMg[Black];
    eg += mobEg[White] - mobEg[Black];
  } else {
    const i32 wW = s.evalRootSide == White ? p.MobilityOwn : p.MobilityOpp;
    const i32 wB = s.evalRootSide == White ? p.MobilityOpp : p.MobilityOwn;
    mg += (mobMg[White] * wW - mobMg[Black] * wB) / 100;
    eg += (mobEg[White] * wW - mobEg[Black] * wB) / 100;
  }

  i32 safety[2];
  for (i32 c = Black; c <= White; ++c) {
    const i32 k = b.kingSquare[c];
    i32 shelter = 0;
    if (RelativeRank(c, RankOf(k)) <= 1) {
      for (i32 f = FileOf(k) - 1; f <= FileOf(k) + 1; ++f) {
        if (f < 0 || f > 7) continue;
        i32 index = 0;
        for (i32 step = 7; step >= 1; --step)  // ends at the rearmost pawn
          if (pawnAt(c, f, c == White ? step : 7 - step)) index = step;
        shelter -= KingShieldPenalty[index];
      }
    }
    i32 units = 0;
    for (i32 t = 0; t < 64; ++t) {
      if (KingDistance(t, k) != 1) continue;
      units += 2 * ((unions[c ^ 1][Knight] >> t) & 1) + 2 * ((unions[c ^ 1][Bishop] >> t) & 1) +
               3 * ((unions[c ^ 1][Rook] >> t) & 1) + 5 * ((unions[c ^ 1][Queen] >> t) & 1);
    }
    units = std::min(units, 31);
    safety[c] = (shelter - KingAttackPenalty[units]) * matMg[c ^ 1] / startMaterial;
    if (p.active)
      safety[c] = safety[c] * (c == s.evalRootSide ? p.KingSafetyOwn : p.KingSafetyOpp) / 100;
  }

  const i32 mgTotal = safety[White] + PieceSquareTable[White][King][b.kingSquare[White]].mg + mg -
                      (safety[Black] + PieceSquareTable[Black][King][b.kingSquare[Black]].mg);
  const i32 egTotal = eg + PieceSquareTable[White][King][b.kingSquare[White]].eg -
                      PieceSquareTable[Black][King][b.kingSquare[Black]].eg;
  const i32 ph = b.phaseBySide[0] + b.phaseBySide[1];
  i32 score = (ph * mgTotal + (24 - ph) * egTotal) / 24;
  score = scale * score / 32;
  const i32 noise = static_cast<i32>(b.key % 200) - 100;
  if (s.strengthLimited && !p.active && s.elo < 2000) {
    const i32 strength = s.elo * 100 / 2000;
    score = ((100 - strength) * noise + strength * score) / 100;
  }
  if (p.active && p.Randomness != 0)
    score = (p.Randomness * noise + (100 - p.Randomness) * score) / 100;
  return b.sideToMove == White ? score : -score;
}

// ---------------------------------------------------------------------------
// Positions.

// The same position with colours exchanged: ranks reversed, side to move,
// castling rights and en-passant side swapped.
Board Mirrored(const Board& b) {
  i8 codes[64], mirrored[64];
  PieceCodes(b, codes);
  for (i32 sq = 0; sq < 64; ++sq) mirrored[sq ^ 56] = static_cast<i8>(-codes[sq]);
  const u8 rights = static_cast<u8>(((b.castleRights & 3) << 2) | ((b.castleRights >> 2) & 3));
  Board m{};
  m.SetPosition(mirrored, b.sideToMove ^ 1, rights, b.epFile, b.halfmoveClock);
  m.owner = b.owner;
  return m;
}

// The same placement with the other side to move.
Board OtherSideToMove(const Board& b) {
  i8 codes[64];
  PieceCodes(b, codes);
  Board m{};
  m.SetPosition(codes, b.sideToMove ^ 1, b.castleRights, 0, b.halfmoveClock);
  m.owner = b.owner;
  return m;
}

const char* const StartFens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 9",
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "8/pp3k2/2p1p3/3pPp2/3P1P2/2P3K1/PP6/8 w - - 0 1",
    "8/P1k5/8/8/8/8/5Kp1/8 w - - 0 1",
    "2r3k1/1q1nbppp/r3p3/3pP3/pPpP4/P1Q2N2/2RN1PPP/2R4K b - b3 0 23",
};

// Positions of random legal games from several starts (with promotions,
// castling and en passant along the way), then the tactical test suites.
const std::vector<Board>& SamplePositions() {
  static const std::vector<Board> positions = [] {
    std::vector<Board> out;
    std::mt19937 rng(20240611);
    const i32 games = ForTarget(24, 4);
    for (const char* fen : StartFens) {
      const Board start = BoardFromFen(fen);
      for (i32 g = 0; g < games; ++g) {
        Board b = start;
        for (i32 ply = 0; ply < 160; ++ply) {
          const std::vector<Move> legal = LegalMoves(b);
          if (legal.empty()) break;
          UndoInfo undo;
          b.MakeMove(legal[rng() % legal.size()], undo);
          out.push_back(b);
        }
      }
    }
    for (const char* file : {"wac.epd", "bratko-kopec.epd"}) {
      std::ifstream in(TestDataPath(file));
      for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(BoardFromFen(line));
    }
    return out;
  }();
  return positions;
}

class Evaluation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitAttackTables();
    InitKpkBitbase();
    Personality builtIn{};
    builtIn.Init(0);
  }

  // A loaded personality with every scaling weight at 100 and no noise:
  // the same scores as no personality at all.
  static EvalSettings NeutralPersonality() {
    EvalSettings s{};
    s.personality.active = 1;
    s.personality.KingSafetyOwn = s.personality.KingSafetyOpp = 100;
    s.personality.MobilityOwn = s.personality.MobilityOpp = 100;
    return s;
  }

  EvalSettings plain{};  // no personality and no strength limit: no noise
};

// ---------------------------------------------------------------------------

TEST_F(Evaluation, AgreesWithSquareBySquareReference) {
  EvalSettings scaled = NeutralPersonality();
  scaled.personality.MobilityOwn = 150;
  scaled.personality.MobilityOpp = 60;
  scaled.personality.KingSafetyOwn = 130;
  scaled.personality.KingSafetyOpp = 75;
  i32 compared = 0;
  for (const Board& b : SamplePositions()) {
    if (b.phase <= 8) continue;  // the recognisers are tested on their own
    ++compared;
    ASSERT_EQ(Evaluate(plain, b), ReferenceEvaluate(plain, b)) << compared;
    for (i32 root = Black; root <= White; ++root) {
      scaled.evalRootSide = root;
      ASSERT_EQ(Evaluate(scaled, b), ReferenceEvaluate(scaled, b)) << compared;
    }
  }
  EXPECT_GT(compared, 1000 / (SlowTarget() ? 6 : 1));
}

TEST_F(Evaluation, ColourMirrorsEvaluateEqualForTheSideToMove) {
  EvalSettings scaled = NeutralPersonality();
  scaled.personality.MobilityOwn = 140;
  scaled.personality.KingSafetyOpp = 70;
  EvalSettings scaledMirror = scaled;
  for (const Board& b : SamplePositions()) {
    const Board m = Mirrored(b);
    ASSERT_TRUE(m.IsConsistent());
    ASSERT_EQ(Evaluate(plain, b), Evaluate(plain, m));
    // The engine's own side is mirrored too.
    for (i32 root = Black; root <= White; ++root) {
      scaled.evalRootSide = root;
      scaledMirror.evalRootSide = root ^ 1;
      ASSERT_EQ(Evaluate(scaled, b), Evaluate(scaledMirror, m));
    }
  }
  // Every recogniser as well.
  for (const char* fen :
       {"8/8/8/4k3/8/8/2N5/4K3 w - - 0 1", "k7/2K5/8/8/8/8/8/7Q b - - 0 1",
        "8/8/1k6/8/8/2K5/8/3R4 w - - 0 1", "8/8/8/8/k7/8/P7/7K w - - 0 1",
        "8/8/8/k3P3/8/8/8/7K b - - 0 1", "8/3n4/1k6/1n6/8/4N3/2K1N3/8 w - - 0 1",
        "8/1b6/1k6/8/8/4N3/2KB4/8 b - - 0 1", "8/1p6/1k6/8/8/4N3/2K5/8 w - - 0 1"}) {
    const Board b = BoardFromFen(fen);
    EXPECT_EQ(Evaluate(plain, b), Evaluate(plain, Mirrored(b))) << fen;
  }
}

TEST_F(Evaluation, SideToMoveChangesOnlyTheTempo) {
  for (const Board& b : SamplePositions()) {
    if (b.phase <= 8) continue;
    const Board other = OtherSideToMove(b);
    const i32 whiteView = b.sideToMove == White ? Evaluate(plain, b) : -Evaluate(plain, b);
    const i32 otherView =
        other.sideToMove == White ? Evaluate(plain, other) : -Evaluate(plain, other);
    // Twice the tempo bonus, blended by phase; each score is rounded toward zero.
    const i32 tempo = 2 * TempoBonus.mg;
    ASSERT_EQ(TempoBonus.mg, TempoBonus.eg);
    EXPECT_LE(std::abs((whiteView - otherView) * (b.sideToMove == White ? 1 : -1) - tempo), 1);
  }
}

TEST_F(Evaluation, InsufficientMaterialIsADraw) {
  for (const char* fen :
       {"8/8/8/4k3/8/8/8/4K3 w - - 0 1", "8/8/8/4k3/8/8/2N5/4K3 w - - 0 1",
        "8/8/8/4k3/8/8/2B5/4K3 b - - 0 1", "8/8/2n5/4k3/8/8/8/4K3 w - - 0 1",
        "8/8/2b5/4k3/8/8/8/4K3 b - - 0 1",
        // Signatures that return a draw: K v KNN, KN v KN, KB v KB, KB v KN.
        "8/8/2n5/4k3/8/8/2N5/4K3 w - - 0 1", "8/8/2b5/4k3/8/8/2N5/4K3 w - - 0 1",
        "8/8/2b5/4k3/8/8/2B5/4K3 w - - 0 1", "8/8/2nn4/4k3/8/8/8/4K3 w - - 0 1"}) {
    for (i32 side = Black; side <= White; ++side) {
      Board b = BoardFromFen(fen);
      if (b.sideToMove != side) b = OtherSideToMove(b);
      EXPECT_EQ(Evaluate(plain, b), 0) << fen << " side " << side;
      EXPECT_EQ(Evaluate(plain, Mirrored(b)), 0) << fen << " side " << side;
    }
  }
}

TEST_F(Evaluation, LoneKingIsDrivenToTheEdge) {
  // Lone king in the corner, kings at distance 2: 975 + 80 + 25.
  const Board queenSide = BoardFromFen("k7/2K5/8/8/8/8/8/7Q w - - 0 1");
  EXPECT_EQ(Evaluate(plain, queenSide), 1080);
  EXPECT_EQ(Evaluate(plain, OtherSideToMove(queenSide)), -1080);
  EXPECT_EQ(Evaluate(plain, Mirrored(queenSide)), 1080);
  // Rook, lone king on c3 (edge 20), kings at distance 3 (20): 540.
  const Board rook = BoardFromFen("7R/8/8/8/5K2/2k5/8/8 b - - 0 1");
  EXPECT_EQ(Evaluate(plain, rook), -540);
  EXPECT_EQ(Evaluate(plain, OtherSideToMove(rook)), 540);
}

TEST_F(Evaluation, KingAndPawnAgainstKing) {
  struct Case {
    const char* fen;
    i32 whiteToMove, blackToMove;  // scores for the side to move
  };
  const Case cases[] = {
      {"k7/8/8/8/8/P7/8/7K w - - 0 1", 0, 0},     // rook pawn, defender in the corner
      {"7k/8/p7/8/8/8/8/K7 w - - 0 1", 0, 0},     // the same for a Black pawn
      {"8/8/8/P3k3/8/8/8/7K w - - 0 1", 132, 0},  // outside the square unless White moves
      {"7k/8/8/8/p3K3/8/8/8 w - - 0 1", 0, 132},
      {"8/8/8/8/8/3k4/3P4/3K4 w - - 0 1", 0, 0},       // opposition: a draw whoever moves
      {"3k4/8/3K4/3P4/8/8/8/8 b - - 0 1", 132, -132},  // king in front on the sixth: won
      {"8/8/8/8/3K4/8/3P4/3k4 b - - 0 1", 108, 0},     // the pawn falls with Black to move
  };
  for (const Case& c : cases) {
    Board b = BoardFromFen(c.fen);
    if (b.sideToMove != White) b = OtherSideToMove(b);
    EXPECT_EQ(Evaluate(plain, b), c.whiteToMove) << c.fen;
    EXPECT_EQ(Evaluate(plain, OtherSideToMove(b)), c.blackToMove) << c.fen;
  }
}

TEST_F(Evaluation, DrawishEndingsAreScaled) {
  struct Case {
    const char* fen;
    i32 scale;
  };
  const Case cases[] = {
      {"8/3n4/1k6/1n6/8/4N3/2K1N3/8 w - - 0 1", 2},  // KNN v KNN
      {"8/3n4/1k6/8/8/4N3/2K1N3/8 b - - 0 1", 2},    // KNN v KN
      {"8/1b6/1k6/8/8/4N3/2KB4/8 b - - 0 1", 2},     // KBN v KB
      {"8/1b6/1k6/8/8/8/2KBB3/8 w - - 0 1", 4},      // KBB v KB
      {"8/1n6/1k6/8/8/8/2KBB3/8 w - - 0 1", 4},      // KBB v KN
      {"8/1p6/1k6/8/8/4N3/2K5/8 w - - 0 1", 8},      // KN v KP
      {"8/1p6/1k6/8/8/4B3/2K5/8 b - - 0 1", 8},      // KB v KP
      {"8/1n6/1k6/8/8/4R3/2K5/8 w - - 0 1", 8},      // KR v KN
  };
  for (const Case& c : cases) {
    const Board b = BoardFromFen(c.fen);
    const i32 unscaled = ReferenceEvaluate(plain, b);
    EXPECT_NE(unscaled, 0) << c.fen;
    EXPECT_EQ(Evaluate(plain, b), ReferenceEvaluate(plain, b, c.scale)) << c.fen;
    EXPECT_EQ(Evaluate(plain, Mirrored(b)), ReferenceEvaluate(plain, b, c.scale)) << c.fen;
  }
  // Signatures outside the table are not scaled.
  const Board rookPawn = BoardFromFen("8/1p6/1k6/8/8/4R3/2K5/8 w - - 0 1");
  EXPECT_EQ(Evaluate(plain, rookPawn), ReferenceEvaluate(plain, rookPawn));
}

TEST_F(Evaluation, NoRecogniserFromPhaseNine) {
  for (const char* fen :
       {"k7/2K5/8/8/8/8/8/7Q w - - 0 1", "8/8/2nn4/4k3/8/8/8/4K3 w - - 0 1",
        "8/3n4/1k6/1n6/8/4N3/2K1N3/8 w - - 0 1", "8/8/8/P3k3/8/8/8/7K w - - 0 1"}) {
    Board b = BoardFromFen(fen);
    b.phase = 9;  // the recognisers look only at this field
    EXPECT_EQ(Evaluate(plain, b), ReferenceEvaluate(plain, b)) << fen;
    b.phase = 8;
    EXPECT_NE(Evaluate(plain, b), ReferenceEvaluate(plain, b)) << fen;
  }
}

TEST_F(Evaluation, StrengthLimitMixesInNoise) {
  EvalSettings limited{};
  limited.strengthLimited = 1;
  for (const Board& b : SamplePositions()) {
    if (b.phase <= 8) continue;
    const i32 sign = b.sideToMove == White ? 1 : -1;
    const i32 base = sign * Evaluate(plain, b);  // White's view
    const i32 noise = static_cast<i32>(b.key % 200) - 100;
    limited.elo = 2000;
    ASSERT_EQ(Evaluate(limited, b), sign * base);
    limited.elo = 1000;  // half noise
    ASSERT_EQ(Evaluate(limited, b), sign * ((50 * noise + 50 * base) / 100));
    limited.elo = 0;  // pure noise
    ASSERT_EQ(Evaluate(limited, b), sign * noise);
    // A loaded personality turns the Elo noise off.
    EvalSettings personal = NeutralPersonality();
    personal.strengthLimited = 1;
    personal.elo = 1000;
    ASSERT_EQ(Evaluate(personal, b), sign * base);
    // Without the limit the Elo setting does nothing.
    limited.strengthLimited = 0;
    ASSERT_EQ(Evaluate(limited, b), sign * base);
    limited.strengthLimited = 1;
  }
}

TEST_F(Evaluation, PersonalityRandomness) {
  EvalSettings random = NeutralPersonality();
  for (const Board& b : SamplePositions()) {
    if (b.phase <= 8) continue;
    const i32 sign = b.sideToMove == White ? 1 : -1;
    const i32 base = sign * Evaluate(plain, b);
    const i32 noise = static_cast<i32>(b.key % 200) - 100;
    random.personality.Randomness = 0;
    ASSERT_EQ(Evaluate(random, b), sign * base);
    random.personality.Randomness = 100;
    ASSERT_EQ(Evaluate(random, b), sign * noise);
    random.personality.Randomness = 30;
    ASSERT_EQ(Evaluate(random, b), sign * ((30 * noise + 70 * base) / 100));
    // The noise belongs to the position: the same score every time.
    ASSERT_EQ(Evaluate(random, b), Evaluate(random, b));
  }
}

TEST_F(Evaluation, LazyAnswersWithMaterialOutsideTheWindow) {
  // White is a queen up (975).
  const Board b = BoardFromFen("4k3/pppp4/8/8/8/8/PPPP4/3QK3 w - - 0 1");
  EXPECT_EQ(EvaluateLazy(plain, b, -100, 100), 975);
  EXPECT_EQ(EvaluateLazy(plain, b, -32000, 649), 975);
  EXPECT_EQ(EvaluateLazy(plain, b, -32000, 650), Evaluate(plain, b));  // 975 - 325 is not above
  EXPECT_EQ(EvaluateLazy(plain, b, -32000, 32000), Evaluate(plain, b));
  const Board black = OtherSideToMove(b);
  EXPECT_EQ(EvaluateLazy(plain, black, -100, 100), -975);
  EXPECT_EQ(EvaluateLazy(plain, black, -649, 32000), -975);
  EXPECT_EQ(EvaluateLazy(plain, black, -650, 32000), Evaluate(plain, black));
  // A level position always gets the full evaluation.
  const Board level = BoardFromFen(StartFens[0]);
  EXPECT_EQ(EvaluateLazy(plain, level, -10, 10), Evaluate(plain, level));
}

TEST_F(Evaluation, AbsurdPersonalityWeightsStayDefined) {
  // Extreme weights wrap like 32-bit arithmetic instead of overflowing; the
  // sanitizer builds check that nothing undefined happens. Whatever comes out
  // stays within EvalLimit, never near a mate score.
  EvalSettings wild = NeutralPersonality();
  wild.personality.MobilityOwn = 2147483647;
  wild.personality.MobilityOpp = -2147483647 - 1;
  wild.personality.KingSafetyOwn = 2147483647;
  wild.personality.KingSafetyOpp = -2147483647 - 1;
  wild.personality.Randomness = -2147483647 - 1;
  const i32 savedStart = startMaterial;
  for (const i32 start : {savedStart, 0, -1}) {
    startMaterial = start;
    for (const Board& b : SamplePositions()) {
      const i32 score = Evaluate(wild, b);
      ASSERT_EQ(score, Evaluate(wild, b));
      ASSERT_LE(std::abs(score), EvalLimit);
      EvaluateLazy(wild, b, -32000, 32000);
    }
  }
  startMaterial = savedStart;
}

// ---------------------------------------------------------------------------
// The pawn hash of the owning search thread.

void* NoMemory(std::size_t) { return nullptr; }

class EvaluationPawnHash : public Evaluation {
 protected:
  void SetUp() override {
    thread_ = std::make_unique<SearchThread>(0, nullptr, nullptr);
    ASSERT_NE(thread_->pawnHash, nullptr);
  }

  Board Owned(const Board& b) const {
    Board owned = b;
    owned.owner = thread_.get();
    return owned;
  }

  PawnHashEntry& EntryOf(const Board& b) const {
    return thread_->pawnHash[static_cast<u32>(b.pawnKey) & static_cast<u32>(thread_->pawnHashMask)];
  }

  std::unique_ptr<SearchThread> thread_;
};

TEST_F(EvaluationPawnHash, CachedAndUncachedScoresAgree) {
  EvalSettings scaled = NeutralPersonality();
  scaled.personality.MobilityOwn = 120;
  scaled.personality.KingSafetyOpp = 90;
  for (const Board& b : SamplePositions()) {
    const Board owned = Owned(b);
    for (const EvalSettings* s : {&plain, &scaled}) {
      const i32 uncached = Evaluate(*s, b);
      ASSERT_EQ(Evaluate(*s, owned), uncached);  // a miss, or a hit left by an earlier position
      ASSERT_EQ(Evaluate(*s, owned), uncached);  // a hit
    }
    if (b.pawnKey != 0 && b.phase > 8) {  // a recognised ending returns before the pawns
      ASSERT_EQ(EntryOf(b).key, b.pawnKey);
    }
  }
}

TEST_F(EvaluationPawnHash, ThreadWithoutPawnHashEvaluatesUncached) {
  void* (*const allocate)(std::size_t) = SearchThread::allocateZeroed;
  SearchThread::allocateZeroed = NoMemory;
  SearchThread starved(1, nullptr, nullptr);
  SearchThread::allocateZeroed = allocate;
  ASSERT_EQ(starved.pawnHash, nullptr);
  for (const Board& b : SamplePositions()) {
    Board owned = b;
    owned.owner = &starved;
    ASSERT_EQ(Evaluate(plain, owned), Evaluate(plain, b));
  }
}

TEST_F(EvaluationPawnHash, EntryHoldsThePawnStructure) {
  // White: e4 and e5 are doubled and isolated; both are passed, but only the
  // front one counts as passed and the rear one pays the doubled penalty.
  // Black: a7 is isolated and passed.
  Board b = Owned(BoardFromFen("k7/p7/8/4P3/4P3/8/8/6K1 w - - 0 1"));
  Evaluate(plain, b);
  const auto pst = [](i32 c, const char* sq) { return PieceSquareTable[c][Pawn][S(sq)]; };
  PawnHashEntry e = EntryOf(b);
  EXPECT_EQ(e.key, b.pawnKey);
  EXPECT_EQ(e.whitePassed, Sq(S("e5")));
  EXPECT_EQ(e.blackPassed, Sq(S("a7")));
  EXPECT_EQ(e.mg, pst(White, "e4").mg + pst(White, "e5").mg - DoubledPawnPenalty.mg -
                      2 * IsolatedPawnPenalty.mg - (pst(Black, "a7").mg - IsolatedPawnPenalty.mg));
  EXPECT_EQ(e.eg, pst(White, "e4").eg + pst(White, "e5").eg - DoubledPawnPenalty.eg -
                      2 * IsolatedPawnPenalty.eg - (pst(Black, "a7").eg - IsolatedPawnPenalty.eg));

  // White d2 is backward: its neighbours c3 and e3 stand ahead of it and e4
  // covers d3. c3 is passed; e3 has e4 in front. Black e4 is isolated.
  b = Owned(BoardFromFen("k7/8/8/8/4p3/2P1P3/3P4/6K1 w - - 0 1"));
  Evaluate(plain, b);
  e = EntryOf(b);
  EXPECT_EQ(e.whitePassed, Sq(S("c3")));
  EXPECT_EQ(e.blackPassed, 0u);
  EXPECT_EQ(e.mg, pst(White, "c3").mg + pst(White, "d2").mg + pst(White, "e3").mg -
                      BackwardPawnPenalty.mg - (pst(Black, "e4").mg - IsolatedPawnPenalty.mg));
  // With a White pawn on c2 as well, d2 has a neighbour beside it and is not backward.
  b = Owned(BoardFromFen("k7/8/8/8/4p3/2P1P3/2PP4/6K1 w - - 0 1"));
  Evaluate(plain, b);
  e = EntryOf(b);
  EXPECT_EQ(e.whitePassed, Sq(S("c3")));  // c2 is behind it on the file
  EXPECT_EQ(e.mg, pst(White, "c2").mg + pst(White, "c3").mg + pst(White, "d2").mg +
                      pst(White, "e3").mg - DoubledPawnPenalty.mg -
                      (pst(Black, "e4").mg - IsolatedPawnPenalty.mg));
}

TEST_F(EvaluationPawnHash, EntryIsReplacedOnKeyMismatch) {
  const Board b = Owned(BoardFromFen(StartFens[2]));
  const i32 uncached = Evaluate(plain, b);
  Evaluate(plain, b);
  const PawnHashEntry good = EntryOf(b);

  // A stale entry under another key is recomputed and overwritten.
  EntryOf(b) = PawnHashEntry{b.pawnKey ^ 1, ~0ULL, ~0ULL, 5000, -5000};
  EXPECT_EQ(Evaluate(plain, b), uncached);
  EXPECT_EQ(std::memcmp(&EntryOf(b), &good, sizeof good), 0);

  // An entry under the right key is trusted as it is (100 per phase point;
  // the blend rounds toward zero).
  EntryOf(b).mg += 2400;
  EXPECT_NEAR(Evaluate(plain, b), uncached + 100 * b.phase, 1);
  EntryOf(b) = good;

  // Two pawn structures sharing a slot take turns in it.
  std::map<u32, const Board*> slots;
  for (const Board& other : SamplePositions()) {
    if (other.pawnKey == 0) continue;
    const auto [it, fresh] = slots.emplace(static_cast<u32>(other.pawnKey) & PawnHashMask, &other);
    if (fresh || it->second->pawnKey == other.pawnKey) continue;
    const Board first = Owned(*it->second), second = Owned(other);
    Evaluate(plain, first);
    EXPECT_EQ(EntryOf(first).key, first.pawnKey);
    EXPECT_EQ(Evaluate(plain, second), Evaluate(plain, other));
    EXPECT_EQ(EntryOf(first).key, second.pawnKey);
    EXPECT_EQ(Evaluate(plain, first), Evaluate(plain, *it->second));
    EXPECT_EQ(EntryOf(second).key, first.pawnKey);
    return;
  }
  ADD_FAILURE() << "no two sample pawn structures share a slot";
}

TEST_F(EvaluationPawnHash, PawnlessPositionsLeaveTheHashAlone) {
  for (i32 i = 0; i < PawnHashEntries; ++i)
    thread_->pawnHash[i] = PawnHashEntry{static_cast<u64>(i) * 0x9E3779B97F4A7C15ULL, 1, 2, 3, 4};
  const std::vector<PawnHashEntry> before(thread_->pawnHash, thread_->pawnHash + PawnHashEntries);
  for (const char* fen :
       {"rnbqkbnr/8/8/8/8/8/8/RNBQKBNR w KQkq - 0 1", "r3k3/8/8/8/8/8/8/R3K2R b KQq - 0 1",
        "k7/2K5/8/8/8/8/8/7Q w - - 0 1", "8/3n4/1k6/1n6/8/4N3/2K1N3/8 w - - 0 1"}) {
    const Board b = Owned(BoardFromFen(fen));
    ASSERT_EQ(b.pawnKey, 0u);
    Board asPhaseNine = b;
    asPhaseNine.phase = 9;
    // No pawn terms at all: the same as the reference, whose pawn terms are skipped too.
    EXPECT_EQ(Evaluate(plain, asPhaseNine), ReferenceEvaluate(plain, asPhaseNine)) << fen;
    Evaluate(plain, b);
  }
  EXPECT_EQ(std::memcmp(before.data(), thread_->pawnHash, before.size() * sizeof(PawnHashEntry)),
            0);
}

// Evaluations per second over the sample positions, one thread, with the
// pawn hash (each pawn structure is computed once, then read), and without.
// Run by hand on a Release build:
//   zorvel_unit_tests --gtest_also_run_disabled_tests --gtest_filter='*EvaluationSpeed*'
TEST_F(EvaluationPawnHash, DISABLED_EvaluationSpeed) {
  std::vector<Board> positions = SamplePositions();
  for (const bool cached : {true, false}) {
    for (Board& b : positions) b.owner = cached ? thread_.get() : nullptr;
    i64 sum = 0;
    u64 count = 0;
    Timer timer;
    timer.Start();
    while (timer.ElapsedMicroseconds() < 3e6) {
      for (const Board& b : positions) sum += Evaluate(plain, b);
      count += positions.size();
    }
    const double seconds = timer.ElapsedMicroseconds() / 1e6;
    std::printf(
        "%s: %llu evaluations of %zu positions in %.2f s: %.0f per second (checksum %lld)\n",
        cached ? "pawn hash" : "no pawn hash", static_cast<unsigned long long>(count),
        positions.size(), seconds, static_cast<double>(count) / seconds,
        static_cast<long long>(sum));
  }
}

}  // namespace
