#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "board/movepicker.h"
#include "board_helpers.h"
#include "engine/search_thread.h"
#include "test_support.h"

namespace {

using Texts = std::vector<std::string>;

// Score the picker must leave alone for the hash move and the killers.
constexpr i32 Untouched = -777;

struct Picked {
  Move move;
  i32 score;
  i32 stage;
};

struct PickerRun {
  std::vector<Picked> picked;
  Move hashMoveAfter;
};

// Runs a picker over the whole node, the search's way.
PickerRun RunPicker(const Board& b, Move hash = 0, Move killer1 = 0, Move killer2 = 0) {
  auto picker = std::make_unique<MovePicker>();
  picker->nextStage = b.InCheck() ? StageHashMoveInCheck : StageHashMove;
  picker->ply = 3;
  picker->hashMove = hash;
  picker->killer1 = killer1;
  picker->killer2 = killer2;
  PickerRun run;
  ScoredMove out{0, Untouched};
  for (i32 stage; (stage = picker->Next(b, out)) != 0; out.score = Untouched) {
    EXPECT_EQ(stage, picker->stage);
    run.picked.push_back({out.move, out.score, stage});
    if (run.picked.size() > MaxMoves) {
      ADD_FAILURE() << "the picker does not end";
      break;
    }
  }
  EXPECT_EQ(picker->stage, 0);
  EXPECT_EQ(picker->nextStage, 0);
  EXPECT_EQ(picker->Next(b, out), 0);  // stays exhausted
  EXPECT_EQ(picker->ply, 3);
  run.hashMoveAfter = picker->hashMove;
  return run;
}

std::vector<Move> MovesOf(const PickerRun& run, i32 stage = 0) {
  std::vector<Move> moves;
  for (const Picked& p : run.picked)
    if (stage == 0 || p.stage == stage) moves.push_back(p.move);
  return moves;
}

Texts StageTexts(const PickerRun& run, i32 stage = 0) { return MoveTexts(MovesOf(run, stage)); }

std::vector<i32> Stages(const PickerRun& run) {
  std::vector<i32> stages;
  for (const Picked& p : run.picked) stages.push_back(p.stage);
  return stages;
}

const Picked* Find(const PickerRun& run, const std::string& text) {
  for (const Picked& p : run.picked)
    if (MoveText(p.move) == text) return &p;
  return nullptr;
}

// Everything the picker promises for one run: each pseudo-legal move of the
// node exactly once, the legal ones complete, stages in order, each move
// from the right stage with the right score.
void CheckRun(const Board& b, const PickerRun& run, Move hash, Move killer1, Move killer2,
              const std::string& where) {
  SCOPED_TRACE(where);
  const bool inCheck = b.InCheck();
  std::vector<Move> expected = inCheck ? Generated(b, GenerateEvasions) : AllMoves(b);
  const bool hashValid = b.IsPseudoLegal(hash);
  if (hashValid && std::find(expected.begin(), expected.end(), hash) == expected.end())
    expected.push_back(hash);  // in check, a pseudo-legal hash move that is no evasion
  std::vector<Move> moves = MovesOf(run);
  std::sort(expected.begin(), expected.end());
  std::sort(moves.begin(), moves.end());
  if (moves != expected) {
    std::vector<Move> extra, missing;
    std::set_difference(moves.begin(), moves.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    std::set_difference(expected.begin(), expected.end(), moves.begin(), moves.end(),
                        std::back_inserter(missing));
    FAIL() << "handed out but not generated: " << ::testing::PrintToString(MoveTexts(extra))
           << "; generated but not handed out: " << ::testing::PrintToString(MoveTexts(missing))
           << "; hash " << MoveText(hash) << " killers " << MoveText(killer1) << " "
           << MoveText(killer2);
  }

  std::vector<Move> legal;
  for (const Move m : moves)
    if (IsLegalMove(b, m)) legal.push_back(m);
  std::vector<Move> reference = LegalMoves(b);
  std::sort(reference.begin(), reference.end());
  EXPECT_EQ(legal, reference);
  EXPECT_EQ(run.hashMoveAfter, hashValid ? hash : 0u);

  i32 lastStage = 0;
  i32 lastScore = 0;
  for (const Picked& p : run.picked) {
    const Move m = p.move;
    SCOPED_TRACE(MoveText(m));
    ASSERT_GE(p.stage, lastStage);
    if (p.stage != lastStage) lastScore = 1 << 30;
    lastStage = p.stage;
    if (inCheck)
      ASSERT_TRUE(p.stage == StageHashMoveInCheck || p.stage == StageEvasions);
    else
      ASSERT_TRUE(p.stage <= StageBadCaptures && p.stage != StageGenerateCaptures &&
                  p.stage != StageGenerateQuiets);
    const bool listed = CapturedPiece(m) != NoPiece || PromotionPiece(m) != NoPiece;
    const bool cheaperVictim = PieceValue[CapturedPiece(m)] < PieceValue[MovingPiece(m)];
    switch (p.stage) {
      case StageHashMove:
      case StageHashMoveInCheck:
        EXPECT_EQ(m, hash);
        EXPECT_EQ(p.score, Untouched);
        break;
      case StageKiller1:
      case StageKiller2:
        EXPECT_EQ(m, p.stage == StageKiller1 ? killer1 : killer2);
        EXPECT_NE(m, hash);
        EXPECT_FALSE(listed);
        EXPECT_EQ(p.score, Untouched);
        break;
      case StageGoodCaptures:
      case StageBadCaptures:
        EXPECT_TRUE(listed);
        EXPECT_EQ(p.score, IsCaptureOrQueenPromotion(m) ? CaptureScore(m) : UnderPromotionScore);
        EXPECT_EQ(p.stage == StageBadCaptures, cheaperVictim && b.StaticExchange(m) < 0);
        break;
      case StageQuiets:
        EXPECT_FALSE(listed);
        EXPECT_EQ(p.score, QuietScore(b, m));
        EXPECT_TRUE(m != hash && m != killer1 && m != killer2);
        break;
      case StageEvasions: {
        i32 score = QuietScore(b, m);
        if (IsCaptureOrQueenPromotion(m))
          score = CaptureScore(m);
        else if (m == killer1)
          score = Killer1EvasionScore;
        else if (m == killer2)
          score = Killer2EvasionScore;
        EXPECT_EQ(p.score, score);
        break;
      }
    }
    if (p.stage == StageGoodCaptures || p.stage == StageQuiets || p.stage == StageBadCaptures ||
        p.stage == StageEvasions) {
      EXPECT_LE(p.score, lastScore);
      lastScore = p.score;
    }
  }
}

std::vector<std::string> SuiteFens() {
  std::vector<std::string> fens;
  for (const char* name : {"perft.epd", "wac.epd", "bratko-kopec.epd"}) {
    std::ifstream in(TestDataPath(name));
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) fens.push_back(line);
  }
  return fens;
}

class MovePickerTest : public ::testing::Test {
 protected:
  void SetUp() override { InitAttackTables(); }
};

TEST_F(MovePickerTest, EveryMoveOnceOverSuitesAndRandomGames) {
  std::mt19937 rng(11);
  const std::vector<std::string> fens = SuiteFens();
  ASSERT_GT(fens.size(), 300u);
  // Moves of other positions, mostly not pseudo-legal here; killers are
  // always quiet moves, as the search stores no others.
  std::vector<Move> foreign, foreignQuiets;
  i32 nodes = 0, inCheck = 0, invalidHash = 0;
  auto exercise = [&](const Board& b, const std::string& where) {
    const std::vector<Move> all = b.InCheck() ? Generated(b, GenerateEvasions) : AllMoves(b);
    std::vector<Move> quiets;
    for (const Move m : all)
      if (CapturedPiece(m) == NoPiece && PromotionPiece(m) == NoPiece) quiets.push_back(m);
    auto pick = [&](const std::vector<Move>& from) {
      return from.empty() ? Move{0} : from[rng() % from.size()];
    };
    const Move choices[][3] = {
        {0, 0, 0},
        {pick(all), pick(quiets), pick(quiets)},
        {pick(quiets), pick(quiets), pick(quiets)},
        {pick(foreign), pick(foreignQuiets), pick(quiets)},
        {pick(quiets), pick(foreignQuiets), pick(foreignQuiets)},
        {pick(all), 0, 0},
    };
    for (i32 i = 0; i < 6; ++i) {
      const Move hash = choices[i][0];
      Move killer1 = choices[i][1], killer2 = choices[i][2];
      if (i == 5) killer1 = hash;           // killer equal to the hash move
      if (killer2 == killer1) killer2 = 0;  // the search keeps them distinct
      const PickerRun run = RunPicker(b, hash, killer1, killer2);
      CheckRun(b, run, hash, killer1, killer2, where);
      if (HasFatalFailure()) return;
      invalidHash += hash != 0 && run.hashMoveAfter == 0;
    }
    ++nodes;
    inCheck += b.InCheck();
    for (const Move m : all) foreign.push_back(m);
    for (const Move m : quiets) foreignQuiets.push_back(m);
    for (std::vector<Move>* kept : {&foreign, &foreignQuiets})
      if (kept->size() > 4000) kept->erase(kept->begin(), kept->begin() + 2000);
  };

  // Half of the boards belong to a thread with random history counters.
  auto thread = std::make_unique<SearchThread>(0, nullptr, nullptr);
  for (auto& side : thread->history)
    for (auto& piece : side)
      for (u16& counter : piece) counter = static_cast<u16>(rng() % 10000);
  for (const std::string& fen : fens) {
    Board b = BoardFromFen(fen);
    if (nodes % 2) b.owner = thread.get();
    exercise(b, fen);
    if (HasFatalFailure()) return;
  }
  // Random games from the suite positions reach checks, promotions and
  // en passant in numbers.
  for (i32 game = 0; game < ForTarget(60, 10); ++game) {
    Board b = BoardFromFen(fens[rng() % fens.size()]);
    if (game % 2) b.owner = thread.get();
    for (i32 ply = 0; ply < 120; ++ply) {
      exercise(b, "game " + std::to_string(game) + " ply " + std::to_string(ply));
      if (HasFatalFailure()) return;
      const std::vector<Move> legal = LegalMoves(b);
      if (legal.empty()) break;
      UndoInfo undo;
      b.MakeMove(legal[rng() % legal.size()], undo);
    }
  }
  EXPECT_GT(nodes, ForTarget(5000, 1200));
  EXPECT_GT(inCheck, 50);
  EXPECT_GT(invalidHash, 100);
}

TEST_F(MovePickerTest, HashMoveValidation) {
  const Board start = BoardFromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  // Not pseudo-legal here: never handed out, and forgotten.
  const Move bogus[] = {EncodeMove(S("e2"), S("e5"), Pawn),
                        EncodeMove(S("g1"), S("f3"), Knight, Pawn),
                        EncodeMove(S("e7"), S("e5"), Pawn, 0, 0, MoveFlagDoublePush),
                        EncodeMove(S("d1"), S("d3"), Queen)};
  for (const Move m : bogus) {
    const PickerRun run = RunPicker(start, m);
    EXPECT_EQ(run.hashMoveAfter, 0u);
    EXPECT_EQ(Stages(run), std::vector<i32>(20, StageQuiets));
  }
  // A quiet hash move comes first and not again among the quiet moves.
  const Move e4 = GeneratedMoveByText(start, "e2-e4");
  PickerRun run = RunPicker(start, e4);
  ASSERT_EQ(run.picked.size(), 20u);
  EXPECT_EQ(run.picked[0].move, e4);
  EXPECT_EQ(run.picked[0].stage, StageHashMove);
  EXPECT_EQ(run.picked[0].score, Untouched);
  std::vector<Move> moves = MovesOf(run);
  EXPECT_EQ(std::count(moves.begin(), moves.end(), e4), 1);

  // A losing capture as hash move does not come back among the held-back
  // captures, a winning one not among the good ones.
  const Board b = BoardFromFen("4k3/2p5/3p4/8/5p2/8/3Q4/4K3 w - - 0 1");
  const Move qxd6 = GeneratedMoveByText(b, "Qd2xd6");
  const Move qxf4 = GeneratedMoveByText(b, "Qd2xf4");
  run = RunPicker(b);
  EXPECT_EQ(StageTexts(run, StageGoodCaptures), Texts{"Qd2xf4"});
  EXPECT_EQ(StageTexts(run, StageBadCaptures), Texts{"Qd2xd6"});
  run = RunPicker(b, qxd6);
  EXPECT_EQ(run.picked[0].move, qxd6);
  EXPECT_TRUE(StageTexts(run, StageBadCaptures).empty());
  EXPECT_EQ(StageTexts(run, StageGoodCaptures), Texts{"Qd2xf4"});
  run = RunPicker(b, qxf4);
  EXPECT_EQ(run.picked[0].move, qxf4);
  EXPECT_TRUE(StageTexts(run, StageGoodCaptures).empty());
  EXPECT_EQ(StageTexts(run, StageBadCaptures), Texts{"Qd2xd6"});
}

TEST_F(MovePickerTest, KillerValidation) {
  const Board start = BoardFromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  const Move nf3 = GeneratedMoveByText(start, "Ng1-f3");
  const Move d4 = GeneratedMoveByText(start, "d2-d4");
  // Handed out in stages 4 and 5 and not again among the quiet moves.
  PickerRun run = RunPicker(start, 0, nf3, d4);
  ASSERT_EQ(run.picked.size(), 20u);
  EXPECT_EQ(StageTexts(run, StageKiller1), Texts{"Ng1-f3"});
  EXPECT_EQ(StageTexts(run, StageKiller2), Texts{"d2-d4"});
  EXPECT_EQ(run.picked[0].score, Untouched);
  EXPECT_EQ(run.picked[1].score, Untouched);
  EXPECT_EQ(StageTexts(run, StageQuiets).size(), 18u);
  // A killer equal to the hash move comes out once, as the hash move.
  run = RunPicker(start, nf3, nf3, d4);
  EXPECT_EQ(Stages(run)[0], StageHashMove);
  EXPECT_TRUE(MovesOf(run, StageKiller1).empty());
  EXPECT_EQ(StageTexts(run, StageKiller2), Texts{"d2-d4"});
  run = RunPicker(start, d4, nf3, d4);
  EXPECT_EQ(StageTexts(run, StageKiller1), Texts{"Ng1-f3"});
  EXPECT_TRUE(MovesOf(run, StageKiller2).empty());
  EXPECT_EQ(run.picked.size(), 20u);
  // Killers that are not pseudo-legal here leave no trace, and the hash
  // move stays.
  const Move blocked = EncodeMove(S("d1"), S("h5"), Queen);
  const Move blackMove = EncodeMove(S("g8"), S("f6"), Knight);
  run = RunPicker(start, d4, blocked, blackMove);
  EXPECT_EQ(run.hashMoveAfter, d4);
  EXPECT_EQ(run.picked.size(), 20u);
  EXPECT_TRUE(MovesOf(run, StageKiller1).empty());
  EXPECT_TRUE(MovesOf(run, StageKiller2).empty());
}

TEST_F(MovePickerTest, CaptureOrdering) {
  // Pawn takes queen before queen takes pawn.
  PickerRun run = RunPicker(BoardFromFen("4k3/8/p7/3q4/4P3/8/8/Q3K3 w - - 0 1"));
  EXPECT_EQ(StageTexts(run, StageGoodCaptures), (Texts{"e4xd5", "Qa1xa6"}));
  EXPECT_EQ(run.picked[0].score, 50000 + 16 * 975 - 100);
  EXPECT_EQ(run.picked[1].score, 50000 + 16 * 100 - 975);
  // Among equal victims the cheaper attacker first.
  run = RunPicker(BoardFromFen("4k3/8/8/3r4/8/2N5/8/3RK3 w - - 0 1"));
  EXPECT_EQ(StageTexts(run, StageGoodCaptures), (Texts{"Nc3xd5", "Rd1xd5"}));
  // A queen promotion before a pawn taking a rook; under-promotions after
  // every capture, still in stage 3 on a safe square.
  run = RunPicker(BoardFromFen("4k3/1P6/8/3r4/4P3/8/8/4K3 w - - 0 1"));
  EXPECT_EQ(StageTexts(run, StageGoodCaptures),
            (Texts{"b7-b8=Q", "e4xd5", "b7-b8=R", "b7-b8=N", "b7-b8=B"}));
  EXPECT_EQ(run.picked[0].score, 65500);
  EXPECT_EQ(run.picked[1].score, 57900);
  EXPECT_EQ(run.picked[3].score, 4000);
  // A queen taking a pawn defended by a pawn comes out last, after the quiet moves.
  run = RunPicker(BoardFromFen("4k3/2p5/3p4/8/8/8/3Q4/4K3 w - - 0 1"));
  ASSERT_FALSE(run.picked.empty());
  EXPECT_EQ(MoveText(run.picked.back().move), "Qd2xd6");
  EXPECT_EQ(run.picked.back().stage, StageBadCaptures);
  EXPECT_EQ(run.picked.back().score, 50000 + 1600 - 975);
  EXPECT_GT(MovesOf(run, StageQuiets).size(), 20u);
  // A bishop taking a defended knight stays among the good captures.
  run = RunPicker(BoardFromFen("4k3/8/2p5/3n4/8/8/6B1/4K3 w - - 0 1"));
  EXPECT_EQ(StageTexts(run, StageGoodCaptures), Texts{"Bg2xd5"});
  // A king capture is never held back, defended or not.
  run = RunPicker(BoardFromFen("4k3/8/8/b7/8/8/3r4/4K3 w - - 0 1"));
  EXPECT_EQ(StageTexts(run, StageGoodCaptures), Texts{"Ke1xd2"});
  EXPECT_TRUE(MovesOf(run, StageBadCaptures).empty());
}

TEST_F(MovePickerTest, PromotionsOntoAttackedSquares) {
  // Attacked and undefended: every promotion is held back, the queen first.
  PickerRun run = RunPicker(BoardFromFen("7r/1P6/8/8/8/2k5/8/4K3 w - - 0 1"));
  EXPECT_TRUE(MovesOf(run, StageGoodCaptures).empty());
  EXPECT_EQ(StageTexts(run, StageBadCaptures), (Texts{"b7-b8=Q", "b7-b8=R", "b7-b8=N", "b7-b8=B"}));
  const Picked* knight = Find(run, "b7-b8=N");
  ASSERT_NE(knight, nullptr);
  EXPECT_EQ(knight->score, 4000);
  // Defended by the rook behind the pawn: all in stage 3.
  run = RunPicker(BoardFromFen("7r/1P6/8/8/8/2k5/8/1R2K3 w - - 0 1"));
  EXPECT_EQ(StageTexts(run, StageGoodCaptures),
            (Texts{"b7-b8=Q", "b7-b8=R", "b7-b8=N", "b7-b8=B"}));
  EXPECT_TRUE(MovesOf(run, StageBadCaptures).empty());
}

TEST_F(MovePickerTest, NoQuietMovesGoesFromKillersToBadCaptures) {
  // White's king is boxed in, its pawns blocked and its knight can only capture.
  const Board b = BoardFromFen("4k3/8/8/8/7p/pp2p1p1/PP3p2/Kb5N w - - 0 1");
  ASSERT_TRUE(Generated(b, GenerateQuiets).empty());
  const Move killer = EncodeMove(S("h1"), S("g3"), Knight);  // a quiet killer of another node
  const PickerRun run = RunPicker(b, 0, killer, EncodeMove(S("a1"), S("b1"), King));
  EXPECT_EQ(Stages(run), (std::vector<i32>{StageGoodCaptures, StageGoodCaptures, StageGoodCaptures,
                                           StageBadCaptures, StageBadCaptures}));
  EXPECT_EQ(StageTexts(run), (Texts{"Ka1xb1", "b2xa3", "a2xb3", "Nh1xf2", "Nh1xg3"}));
}

TEST_F(MovePickerTest, EvasionsCarryTheKillersAfterCaptures) {
  const Board b = BoardFromFen("R3r2k/8/8/8/8/2N5/8/4K3 w - - 0 1");
  ASSERT_TRUE(b.InCheck());
  const Move ne4 = GeneratedMoveByText(b, "Nc3-e4");
  const Move kf2 = GeneratedMoveByText(b, "Ke1-f2");
  PickerRun run = RunPicker(b, 0, ne4, kf2);
  EXPECT_EQ(StageTexts(run),
            (Texts{"Ra8xe8", "Nc3-e4", "Ke1-f2", "Ke1-d1", "Ke1-f1", "Ke1-d2", "Nc3-e2"}));
  EXPECT_EQ(Stages(run), std::vector<i32>(7, StageEvasions));
  EXPECT_EQ(run.picked[1].score, 45010);
  EXPECT_EQ(run.picked[2].score, 45000);
  EXPECT_EQ(run.picked[3].score, 4000);
  // An evasion as hash move comes first, in stage 9, and only once.
  const Move ne2 = GeneratedMoveByText(b, "Nc3-e2");
  run = RunPicker(b, ne2, ne4, kf2);
  EXPECT_EQ(StageTexts(run),
            (Texts{"Nc3-e2", "Ra8xe8", "Nc3-e4", "Ke1-f2", "Ke1-d1", "Ke1-f1", "Ke1-d2"}));
  EXPECT_EQ(run.picked[0].stage, StageHashMoveInCheck);
}

TEST_F(MovePickerTest, MatedSideGetsNothingAfterTheHashStage) {
  const Board b = BoardFromFen("R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1");
  ASSERT_TRUE(b.InCheck());
  EXPECT_TRUE(RunPicker(b).picked.empty());
  // A pseudo-legal hash move still comes out; the search finds it illegal.
  const Move g6 = EncodeMove(S("g7"), S("g6"), Pawn);
  const PickerRun run = RunPicker(b, g6);
  ASSERT_EQ(run.picked.size(), 1u);
  EXPECT_EQ(run.picked[0].stage, StageHashMoveInCheck);
  EXPECT_EQ(run.hashMoveAfter, g6);
}

TEST_F(MovePickerTest, HistoryOrdersQuietMovesOfTheOwnerThread) {
  auto thread = std::make_unique<SearchThread>(0, nullptr, nullptr);
  Board b = BoardFromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  b.owner = thread.get();
  thread->history[White][Knight][S("f3")] = 900;
  thread->history[White][Pawn][S("e4")] = 500;
  thread->history[White][Pawn][S("d4")] = 500;
  thread->history[Black][Pawn][S("a3")] = 9999;  // the other side's table is not read
  PickerRun run = RunPicker(b);
  const Texts quiets = StageTexts(run, StageQuiets);
  ASSERT_EQ(quiets.size(), 20u);
  EXPECT_EQ((Texts{quiets[0], quiets[1], quiets[2], quiets[3], quiets[4]}),
            (Texts{"Ng1-f3", "d2-d4", "e2-e4", "Nb1-a3", "Nb1-c3"}));
  EXPECT_EQ(run.picked[0].score, 4900);
  EXPECT_EQ(run.picked[1].score, 4500);
  EXPECT_EQ(run.picked[3].score, 4000);
  CheckRun(b, run, 0, 0, 0, "start position with history");

  // Black reads its own half; quiet evasions are ordered the same way.
  thread->history[Black][King][S("f8")] = 300;
  thread->history[Black][King][S("h7")] = 9999;
  b = BoardFromFen("6k1/8/8/8/8/8/8/4K1R1 b - - 0 1");
  run = RunPicker(b);  // no owner: all 4000, in generation order
  EXPECT_EQ(StageTexts(run), (Texts{"Kg8-f7", "Kg8-h7", "Kg8-f8", "Kg8-h8"}));
  EXPECT_EQ(run.picked[0].score, 4000);
  b.owner = thread.get();
  run = RunPicker(b);
  EXPECT_EQ(StageTexts(run), (Texts{"Kg8-h7", "Kg8-f8", "Kg8-f7", "Kg8-h8"}));
  EXPECT_EQ(run.picked[0].score, 13999);
  EXPECT_EQ(run.picked[1].score, 4300);
}

}  // namespace
