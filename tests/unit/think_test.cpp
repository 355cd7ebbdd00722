// The root search driver: time allocation, search modes and their stops,
// MultiPV lines, the order of the reports, ponder searches and the end of a
// search.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "engine/search_internal.h"
#include "engine_helpers.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// The time limit for White in clock mode.
u32 ClockLimit(float clockMs, i32 movesToGo, i32 incrementMs, i32 searches) {
  SearchLimits limits;
  limits.mode = ModeClock;
  limits.clock[White] = clockMs;
  limits.movesToGo = movesToGo;
  limits.increment[White] = incrementMs;
  limits.searchesThisGame = searches;
  return SearchTimeLimit(limits, White);
}

TEST(TimeAllocation, ClockModeFormulas) {
  // 40 moves to go, a minute left, first search of the game: doubled.
  EXPECT_EQ(ClockLimit(60000.0f, 40, 0, 0), 3000000u);
  EXPECT_EQ(ClockLimit(60000.0f, 40, 0, 10), 1500000u);
  // No moves to go with an increment: increment plus a thirtieth of the clock.
  EXPECT_EQ(ClockLimit(60000.0f, 0, 1000, 10), 3000000u);
  EXPECT_EQ(ClockLimit(60000.0f, 0, 1000, 0), 6000000u);
  // Without an increment a fortieth.
  EXPECT_EQ(ClockLimit(60000.0f, 0, 0, 10), 1500000u);
  EXPECT_EQ(ClockLimit(60000.0f, 0, -5, 10), 1500000u);
  // The ARMv7-A build rounds increment plus a thirtieth once (fused
  // multiply-add), the others twice; here that is one microsecond.
#if defined(__arm__) && defined(__ARM_FEATURE_FMA)
  EXPECT_EQ(ClockLimit(61817.0f, 0, 37, 10), 2097566u);
#else
  EXPECT_EQ(ClockLimit(61817.0f, 0, 37, 10), 2097567u);
#endif
  // One move to go: half the clock.
  EXPECT_EQ(ClockLimit(60000.0f, 1, 0, 10), 30000000u);
  // The factor falls by 0.1 per search, to 1.1 at the tenth (a little less
  // in single precision).
  EXPECT_EQ(ClockLimit(60000.0f, 40, 0, 9), 1649999u);
  EXPECT_EQ(ClockLimit(60000.0f, 40, 0, 5), 2250000u);
  // The side to move's clock and increment count.
  SearchLimits limits;
  limits.mode = ModeClock;
  limits.searchesThisGame = 10;
  limits.clock[White] = 60000.0f;
  limits.clock[Black] = 120000.0f;
  EXPECT_EQ(SearchTimeLimit(limits, Black), 3000000u);
  // Far beyond 32 bits saturates; an empty clock gives nothing.
  EXPECT_EQ(ClockLimit(1.0e9f, 1, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(ClockLimit(-5.0f, 40, 0, 0), 0u);
  // The constant is the single-precision 0x42055556.
  const float third = 33.333336f;
  u32 bits;
  std::memcpy(&bits, &third, sizeof bits);
  EXPECT_EQ(bits, 0x42055556u);
}

TEST(TimeAllocation, OtherModes) {
  SearchLimits limits;
  limits.moveTime = 2500000;
  for (i32 mode : {ModeDepth, ModeNodes, ModeMoveTime}) {
    limits.mode = mode;
    EXPECT_EQ(SearchTimeLimit(limits, White), 2500000u);
  }
  limits.mode = ModeInfinite;
  EXPECT_EQ(SearchTimeLimit(limits, White), 0xFFFFFFFFu);
}

TEST(AspirationWindow, WidensByDoublingStepsThenOpens) {
  AspirationWindow w{70, 130, AspirationStep};
  // Four fails high widen beta by 30, 60, 120 and 240, the fifth opens it.
  const i32 betas[] = {160, 220, 340, 580, InfiniteScore};
  for (i32 beta : betas) {
    EXPECT_EQ(WidenAspiration(w, w.beta), BoundLower);
    EXPECT_EQ(w.beta, beta);
    EXPECT_EQ(w.alpha, 70);
  }
  AspirationWindow low{70, 130, AspirationStep};
  EXPECT_EQ(WidenAspiration(low, 50), BoundUpper);
  EXPECT_EQ(low.alpha, 40);
  EXPECT_EQ(low.delta, 60);
  EXPECT_EQ(WidenAspiration(low, 100), BoundExact);
  // A mate score opens the window fully whatever the result.
  AspirationWindow mate{70, 130, AspirationStep};
  EXPECT_EQ(WidenAspiration(mate, 31990), BoundLower);
  EXPECT_EQ(mate.alpha, -InfiniteScore);
  EXPECT_EQ(mate.beta, InfiniteScore);
  EXPECT_EQ(mate.delta, 641);
  AspirationWindow edge{-31990, -31970, AspirationStep};
  EXPECT_EQ(WidenAspiration(edge, -31980), BoundExact);
  EXPECT_EQ(edge.alpha, -InfiniteScore);
}

class ThinkTest : public ::testing::Test {
 protected:
  void SetUp() override { engine = MakeEngine(&listener); }
  void TearDown() override { drawScore = 0; }

  RecordingListener listener;
  std::unique_ptr<Engine> engine;
};

TEST_F(ThinkTest, FixedDepthReportsInOrderAndPlaysTheMove) {
  SetDepthLimit(*engine, 5);
  EXPECT_EQ(engine->Think(0), 1);
  // One report per iteration, depths 1..5, then the end.
  const std::vector<RecordingListener::Report> pvs = listener.Of("pv");
  ASSERT_EQ(pvs.size(), 5u);
  for (i32 i = 0; i < 5; ++i) {
    EXPECT_EQ(pvs[i].depth, i + 1);
    EXPECT_EQ(pvs[i].bound, BoundExact);
    EXPECT_FALSE(pvs[i].pv.empty());
  }
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.reports.back().kind, "done");
  EXPECT_EQ(listener.reports.back().score, StopNormal);
  EXPECT_EQ(listener.Count("depth"), 0);  // not within the first two seconds
  EXPECT_EQ(engine->stopReason, StopNormal);
  EXPECT_EQ(engine->limits.depthReached, 5);
  EXPECT_EQ(engine->searching, 0);
  ASSERT_NE(engine->bestMove, 0u);
  EXPECT_EQ(engine->bestMove, pvs.back().pv[0]);
  ASSERT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_EQ(engine->gameHistory.back().move, engine->bestMove);
  EXPECT_EQ(engine->limits.searchesThisGame, 1);
  EXPECT_EQ(engine->evalRootSide, White);
  EXPECT_EQ(engine->tt.age, 1u);
}

TEST_F(ThinkTest, ProgressReportsAfterTwoSeconds) {
  // A slow listener makes the search take more than two seconds by the end
  // of iteration 2; from iteration 3 on depths and current moves are reported.
  listener.onPv = [](const RecordingListener::Report& r) {
    if (r.depth == 1) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  };
  SetDepthLimit(*engine, 4);
  engine->Think(0);
  const auto& reports = listener.reports;
  std::vector<std::string> kinds;
  for (const auto& r : reports)
    if (kinds.empty() || kinds.back() != r.kind) kinds.push_back(r.kind);
  const std::vector<std::string> expected = {"pv", "depth", "currmove", "pv", "depth",
                                             "currmove", "pv", "done"};
  // Iteration 2 ends past the mark: its report is plain, iteration 3 starts reporting.
  ASSERT_GE(kinds.size(), 4u);
  EXPECT_EQ(listener.Of("depth").front().depth, 3);
  EXPECT_EQ(listener.Count("depth"), 2);
  EXPECT_EQ(listener.Of("currmove").front().line, 1);
  EXPECT_EQ(listener.Count("currmove"), 40);  // 20 root moves in iterations 3 and 4
  EXPECT_EQ(reports.back().kind, "done");
  EXPECT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(std::vector<std::string>(kinds.end() - 7, kinds.end()),
            std::vector<std::string>(expected.begin() + 1, expected.end()));
}

TEST_F(ThinkTest, DepthLimitZeroSearchesNothing) {
  SetDepthLimit(*engine, 0);
  engine->Think(0);
  EXPECT_EQ(engine->bestMove, 0u);
  EXPECT_EQ(engine->limits.depthReached, 0);
  EXPECT_EQ(engine->stopReason, StopNormal);
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.Of("done")[0].score, StopNormal);
  EXPECT_EQ(listener.Count("pv"), 0);
  EXPECT_TRUE(engine->gameHistory.empty());
}

TEST_F(ThinkTest, NodeLimitStopsAtTheLimit) {
  engine->limits.mode = ModeNodes;
  engine->limits.nodeLimit = 5000;
  engine->Think(0);
  EXPECT_EQ(engine->stopReason, StopNormal);
  EXPECT_GE(engine->mainContext.nodes, 5000u);
  EXPECT_LT(engine->mainContext.nodes, 5100u);
  EXPECT_NE(engine->bestMove, 0u);
  EXPECT_EQ(listener.Count("done"), 1);
}

TEST_F(ThinkTest, SingleLegalMoveInClockMode) {
  SetGamePosition(*engine, "7k/8/8/8/8/8/6q1/7K w - - 0 1");
  engine->limits.mode = ModeClock;
  engine->limits.clock[White] = 600000.0f;
  engine->Think(0);
  EXPECT_EQ(engine->limits.depthReached, 0);
  EXPECT_EQ(listener.Count("pv"), 1);
  EXPECT_EQ(CoordinateText(engine->bestMove), "h1g2");
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  // Outside clock mode the single move is searched to the depth asked.
  SetGamePosition(*engine, "7k/8/8/8/8/8/6q1/7K w - - 0 1");
  SetDepthLimit(*engine, 3);
  engine->Think(0);
  EXPECT_EQ(engine->limits.depthReached, 3);
}

TEST_F(ThinkTest, TheTimeRuleAppliesInClockModeOnly) {
  // No time at all: clock mode ends after iteration 2 by the 0.6 rule, before
  // the poll has first read the clock.
  engine->limits.mode = ModeClock;
  engine->limits.clock[White] = 0.0f;
  engine->Think(0);
  EXPECT_EQ(engine->limits.timeLimit, 0u);
  EXPECT_EQ(engine->limits.depthReached, 1);
  ASSERT_NE(engine->bestMove, 0u);
  // A move-time search with no time runs until its first full poll.
  ASSERT_TRUE(engine->SetFen(StartFen));
  engine->limits.mode = ModeMoveTime;
  engine->limits.moveTime = 0;
  engine->Think(0);
  EXPECT_GE(engine->limits.depthReached, 3);
  EXPECT_NE(engine->bestMove, 0u);
}

TEST_F(ThinkTest, AClockBelowTheMarginIsAnsweredInsideTheFirstIteration) {
  // 10 ms leave no time for the move once the margin is kept: the search
  // stops at its first read of the clock, here before iteration 1 has ended,
  // and plays the best move the root ordering found.
  SetGamePosition(*engine, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  engine->limits.mode = ModeClock;
  engine->limits.clock[White] = 10.0f;
  engine->limits.movesToGo = 0;
  engine->Think(0);
  EXPECT_EQ(engine->limits.timeLimit, 0u);
  EXPECT_EQ(engine->limits.depthReached, 0);
  EXPECT_EQ(listener.Count("pv"), 0);
  ASSERT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_EQ(CoordinateText(engine->bestMove), "e5d7");
}

TEST_F(ThinkTest, MateStopsClockSearchesAfterIterationSix) {
  SetGamePosition(*engine, "6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
  engine->limits.mode = ModeClock;
  engine->limits.clock[White] = 1.0e7f;
  engine->limits.movesToGo = 1;
  engine->Think(0);
  EXPECT_EQ(engine->limits.depthReached, 5);
  EXPECT_EQ(engine->rootLines[0].score, MateScore - 1);
  EXPECT_EQ(CoordinateText(engine->bestMove), "a1a8");
}

TEST_F(ThinkTest, MultiPvLinesSkipTheFirstMovesOfFinishedLines) {
  // Three legal moves: the king takes the rook, or the knight moves.
  SetGamePosition(*engine, "k7/8/8/8/8/8/1r6/K6N w - - 0 1");
  engine->multiPv = 5;
  SetDepthLimit(*engine, 4);
  engine->Think(0);
  EXPECT_EQ(engine->lineCount, 3);
  std::set<Move> firsts;
  for (i32 l = 0; l < 3; ++l) {
    ASSERT_GT(engine->rootLines[l].pvLength, 0);
    firsts.insert(engine->rootLines[l].pv[0]);
    EXPECT_EQ(engine->rootLines[l].depth, 4);
    if (l > 0) {
      EXPECT_GE(engine->rootLines[l - 1].score, engine->rootLines[l].score);
    }
  }
  EXPECT_EQ(firsts.size(), 3u);
  EXPECT_EQ(CoordinateText(engine->rootLines[0].pv[0]), "a1b2");
  EXPECT_EQ(engine->bestMove, engine->rootLines[0].pv[0]);
  // Each iteration reports all three lines once, numbered and sorted.
  const auto reports = listener.Of("multipv");
  ASSERT_EQ(reports.size(), 12u);
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].line, static_cast<i32>(i % 3) + 1);
    EXPECT_EQ(reports[i].depth, static_cast<i32>(i / 3) + 1);
    if (i % 3) {
      EXPECT_GE(reports[i - 1].score, reports[i].score);
    }
  }
  EXPECT_EQ(listener.Count("pv"), 0);

  // In clock mode only one line is searched.
  listener.reports.clear();
  SetGamePosition(*engine, "k7/8/8/8/8/8/1r6/K6N w - - 0 1");
  engine->limits.mode = ModeClock;
  engine->limits.clock[White] = 0.0f;
  engine->Think(0);
  EXPECT_EQ(engine->lineCount, 1);
  EXPECT_EQ(listener.Count("multipv"), 0);
  EXPECT_GT(listener.Count("pv"), 0);
}

TEST_F(ThinkTest, InfiniteSearchReportsButDoesNotPlay) {
  engine->limits.mode = ModeInfinite;
  listener.onPv = [this](const RecordingListener::Report& r) {
    if (r.depth == 4) engine->stopReason = StopNormal;
  };
  engine->Think(0);
  EXPECT_EQ(engine->limits.timeLimit, 0xFFFFFFFFu);
  EXPECT_NE(engine->bestMove, 0u);
  EXPECT_TRUE(engine->gameHistory.empty());
  EXPECT_EQ(engine->limits.depthReached, 3);
  EXPECT_EQ(listener.Count("done"), 1);
}

TEST_F(ThinkTest, QuitEndsWithoutAMove) {
  engine->limits.mode = ModeInfinite;
  listener.onPv = [this](const RecordingListener::Report& r) {
    if (r.depth == 3) engine->stopReason = StopQuit;
  };
  engine->Think(0);
  EXPECT_EQ(engine->bestMove, 0u);
  EXPECT_TRUE(engine->gameHistory.empty());
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.Of("done")[0].score, StopQuit);
  EXPECT_EQ(engine->searching, 0);
}

TEST_F(ThinkTest, PonderSearches) {
  engine->ponderEnabled = 1;
  // The guessed reply is on the board; the ponder search reaches its depth
  // limit, takes the guess back and keeps its move.
  ASSERT_TRUE(engine->PlayMoveList("e2e4 e7e5"));
  SetDepthLimit(*engine, 4);
  engine->Think(1);
  EXPECT_EQ(engine->stopReason, StopPonderDepth);
  EXPECT_EQ(engine->pondering, 0);
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_NE(engine->bestMove, 0u);
  EXPECT_EQ(listener.Of("done").back().score, StopPonderDepth);

  // Stopped while pondering.
  ASSERT_TRUE(engine->ParseAndMakeMove("e7e5"));
  engine->limits.mode = ModeInfinite;
  listener.onPv = [this](const RecordingListener::Report& r) {
    if (r.depth == 3) engine->stopReason = StopPonder;
  };
  engine->Think(1);
  EXPECT_EQ(engine->stopReason, StopPonder);
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_NE(engine->bestMove, 0u);

  // Quit while pondering takes the guess back and plays nothing.
  ASSERT_TRUE(engine->ParseAndMakeMove("e7e5"));
  listener.onPv = [this](const RecordingListener::Report& r) {
    if (r.depth == 2) engine->stopReason = StopQuit;
  };
  engine->Think(1);
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_EQ(engine->bestMove, 0u);

  // Without ponderEnabled a ponder request is an ordinary search.
  ASSERT_TRUE(engine->ParseAndMakeMove("e7e5"));
  engine->ponderEnabled = 0;
  listener.onPv = nullptr;
  SetDepthLimit(*engine, 3);
  engine->Think(1);
  EXPECT_EQ(engine->gameHistory.size(), 3u);
  EXPECT_EQ(engine->stopReason, StopNormal);
}

TEST_F(ThinkTest, PonderMoveIsALegalReply) {
  engine->ponderEnabled = 1;
  SetDepthLimit(*engine, 5);
  engine->Think(0);
  const Move ponder = engine->ponderMove;
  ASSERT_NE(ponder, 0u);
  EXPECT_TRUE(engine->board.IsPseudoLegal(ponder));
  EXPECT_TRUE(engine->ParseAndMakeMove(CoordinateText(ponder).c_str()));
  // A one-ply search leaves no reply in its line: the table or the first
  // legal reply supplies one.
  SetDepthLimit(*engine, 1);
  engine->Think(0);
  EXPECT_NE(engine->ponderMove, 0u);
  EXPECT_TRUE(engine->board.IsPseudoLegal(engine->ponderMove));
}

TEST_F(ThinkTest, AStopBeforeTheStartEndsTheSearchAtOnce) {
  // A stop that came before the search started ends it before any line has
  // been searched, with a legal move, played as usual.
  engine->stopReason = StopNormal;
  SetDepthLimit(*engine, 6);
  engine->Think(0, false);
  EXPECT_EQ(listener.Count("pv"), 0);
  EXPECT_EQ(engine->limits.depthReached, 0);
  EXPECT_EQ(engine->stopReason, StopNormal);
  EXPECT_EQ(listener.Count("done"), 1);
  ASSERT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_EQ(engine->gameHistory.back().move, engine->bestMove);
  // A ponder search ends as stopped while pondering: the guess is taken
  // back and the move kept for the answer.
  engine->ponderEnabled = 1;
  ASSERT_TRUE(engine->ParseAndMakeMove("e7e5"));
  engine->stopReason = StopNormal;
  engine->Think(1, false);
  EXPECT_EQ(listener.Count("pv"), 0);
  EXPECT_EQ(engine->stopReason, StopPonder);
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  ASSERT_TRUE(engine->ParseAndMakeMove("e7e5"));
  EXPECT_TRUE(engine->board.IsPseudoLegal(engine->bestMove));
  // A quit ends it with nothing played.
  engine->NewGame();
  engine->stopReason = StopQuit;
  engine->Think(0, false);
  EXPECT_EQ(engine->bestMove, 0u);
  EXPECT_EQ(engine->gameHistory.size(), 0u);
}

TEST_F(ThinkTest, AStopDuringTheRootOrderingAnswersWithTheBestMoveScored) {
  // White is lost whatever it plays; taking the rook (generated first) loses
  // least, and so it is the answer wherever the stop falls: before the
  // ordering has scored anything, while it scores the other moves (whose
  // cut-short or missing scores must not count as even), or in the search.
  const char* fen = "4k3/q7/8/3r4/4P3/8/8/7K w - - 0 1";
  engine->limits.mode = ModeNodes;
  for (u64 limit = 1; limit <= 300; ++limit) {
    SetGamePosition(*engine, fen);
    engine->limits.nodeLimit = limit;
    engine->Think(0);
    ASSERT_EQ(CoordinateText(engine->bestMove), "e4d5") << "stopped at node " << limit;
  }
}

TEST_F(ThinkTest, APonderHitBeforeTheStartMakesAnOrdinarySearch) {
  engine->ponderEnabled = 1;
  engine->ponderHitLatch = 1;
  SetDepthLimit(*engine, 3);
  engine->Think(1);
  EXPECT_EQ(engine->ponderHitLatch, 0);
  EXPECT_EQ(engine->pondering, 0);
  // Played like the engine's own move, not taken back as a ponder search is.
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.reports.back().score, StopNormal);

  // The clock sent with the hit holds from the start, already for the first
  // report: 30 s instead of 60, 40 moves to go, the first search of a game
  // (2 x 30000 / 40 ms). So whether the hit came before pondering had begun
  // or before the search was even started as a ponder search.
  u32 firstLimit = 0;
  listener.onPv = [&](const RecordingListener::Report& r) {
    if (r.depth == 1) firstLimit = engine->limits.timeLimit;
  };
  for (i32 ponder : {1, 0}) {
    engine->NewGame();
    engine->limits.mode = ModeClock;
    engine->limits.clock[White] = engine->limits.clock[Black] = 60000.0f;
    engine->limits.movesToGo = 40;
    engine->limits.depthCap = 2;
    engine->ponderHitLatch = static_cast<u8>(ponder);
    engine->ponderHitClockMs = 30000;
    firstLimit = 0;
    engine->Think(ponder);
    EXPECT_EQ(firstLimit, 1500000u) << "ponder " << ponder;
    EXPECT_EQ(engine->ponderHitClockMs, -1);
    EXPECT_EQ(engine->gameHistory.size(), 1u);
  }
}

TEST_F(ThinkTest, AStopBeforeAnyMoveRaisedAlphaStillAnswersWithAMove) {
  // The node limit stops the search at its first poll, during the root ordering.
  engine->limits.mode = ModeNodes;
  engine->limits.nodeLimit = 0;
  engine->Think(0);
  EXPECT_NE(engine->bestMove, 0u);
  EXPECT_EQ(engine->gameHistory.size(), 1u);
  EXPECT_EQ(engine->limits.depthReached, 0);
}

TEST_F(ThinkTest, NothingIsAllocatedBeyondTheReservedHistory) {
  // The game record grows by one move per search; its reserved room is not
  // exceeded in a short game.
  const UndoInfo* before = engine->gameHistory.data();
  for (i32 i = 0; i < 6; ++i) {
    SetDepthLimit(*engine, 3);
    engine->Think(0);
  }
  EXPECT_EQ(engine->gameHistory.size(), 6u);
  EXPECT_EQ(static_cast<const void*>(engine->gameHistory.data()), static_cast<const void*>(before));
  EXPECT_TRUE(engine->board.IsConsistent());
}

}  // namespace

namespace {

// The command side stops a running search from another thread, as the
// input thread does.
TEST(ThinkThreaded, StopFromAnotherThread) {
  RecordingListener listener;
  std::atomic<i32> reportedDepth{0};
  listener.onPv = [&](const RecordingListener::Report& r) { reportedDepth = r.depth; };
  auto engine = MakeEngine(&listener);
  engine->limits.mode = ModeInfinite;
  std::thread searcher([&] { engine->Think(0); });
  while (reportedDepth.load() < 3) std::this_thread::yield();
  EXPECT_EQ(engine->searching, 1);
  engine->stopReason = StopNormal;
  searcher.join();
  EXPECT_EQ(engine->searching, 0);
  EXPECT_NE(engine->bestMove, 0u);
  EXPECT_GE(engine->limits.depthReached, 2);
  EXPECT_EQ(listener.Count("done"), 1);
  EXPECT_TRUE(engine->gameHistory.empty());
}

}  // namespace

namespace {

// A search stopped part way through an iteration answers with its lines as
// they stand, also those the iteration had not reported yet: the last first
// line the interface has seen starts with the move the search answers, and a
// line of the stopped iteration carries the score and bound its own search
// found, which a search that completes the iteration gives the same moves.
TEST(ThinkStopped, TheLinesShownAreTheLinesFound) {
  using Report = RecordingListener::Report;
  RecordingListener listener;
  auto engine = MakeEngine(&listener);
  ASSERT_EQ(engine->pool.threadCount, 1);
  // The lines the interface ends with, by line number.
  auto search = [&](i32 mode, u64 nodes, i32 depth) {
    engine->NewGame();
    SetGamePosition(*engine, "r1b2rk1/2q1b1pp/p2ppn2/1p6/3QP3/1BN1B3/PPP3PP/R4RK1 w - - 0 1");
    engine->multiPv = 3;
    engine->limits.mode = mode;
    engine->limits.nodeLimit = nodes;
    engine->limits.depthLimit = depth;
    listener.reports.clear();
    engine->Think(0);
    std::map<i32, Report> shown;
    for (const Report& r : listener.reports)
      if (r.kind == "multipv") shown[r.line] = r;
    return shown;
  };
  std::map<i32, std::map<i32, Report>> completed;  // by depth
  i32 compared = 0;
  // Node limits stop the search at the same place on every target, and one
  // thread searches the iterations before the stop as a search to a depth does.
  for (u64 nodes = 20000; nodes <= 60000; nodes += 2000) {
    const std::map<i32, Report> stopped = search(ModeNodes, nodes, 0);
    ASSERT_EQ(stopped.count(1), 1u) << nodes << " nodes";
    EXPECT_EQ(CoordinateText(stopped.at(1).pv[0]), CoordinateText(engine->bestMove))
        << nodes << " nodes";
    i32 depth = 0;
    for (const auto& entry : stopped) depth = std::max(depth, entry.second.depth);
    if (!completed.count(depth)) completed[depth] = search(ModeDepth, 0, depth);
    for (const auto& entry : stopped) {
      const Report& line = entry.second;
      if (line.depth != depth) continue;
      for (const auto& done : completed[depth]) {
        if (done.second.depth != depth || done.second.pv != line.pv) continue;
        ++compared;
        EXPECT_EQ(line.score, done.second.score) << nodes << " nodes, line " << entry.first;
        EXPECT_EQ(line.bound, done.second.bound) << nodes << " nodes, line " << entry.first;
      }
    }
  }
  EXPECT_GE(compared, 20);
}

}  // namespace
