// The parallel search: whole searches on 2 to 64 threads (legal moves, exact
// mates, stop, quit, ponder, thread-count changes), and split points driven
// directly from thread 0's context: who may be booked, how nodes and lines
// come back to the master, and how a fail high ends the work below it.
#include <gtest/gtest.h>

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "board/movegen.h"
#include "board/movepicker.h"
#include "engine/search_internal.h"
#include "engine_helpers.h"

namespace {

constexpr const char* StartFen = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* ItalianFen =
    "r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/3P1N2/PPP2PPP/RNBQK2R w KQkq - 1 5";

// Varied positions: openings, middle games from the Bratko-Kopec suite, a
// root in check, promotions, a pawn ending.
const char* const Positions[] = {
    StartFen,
    ItalianFen,
    "r1b2rk1/2q1b1pp/p2ppn2/1p6/3QP3/1BN1B3/PPP3PP/R4RK1 w - - 0 1",
    "2q1rr1k/3bbnnp/p2p1pp1/2pPp3/PpP1P1P1/1P2BNNP/2BQ1PRK/7R b - - 0 1",
    "r3r1k1/ppqb1ppp/8/4p1NQ/8/2P5/PP3PPP/R3R1K1 b - - 0 1",
    "rnbqkbnr/ppp2ppp/8/3pp2Q/4P3/8/PPPP1PPP/RNB1KBNR b KQkq - 1 3",  // ...Qh5, no check
    "4k3/8/8/8/8/8/r7/R3K2R w KQ - 0 1",
    "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3",  // mated: no move
    "8/2P5/8/8/8/8/5kp1/K7 w - - 0 1",
    "8/8/1k6/8/2PK4/8/8/8 w - - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "6k1/5ppp/8/8/8/8/6PP/3r2K1 w - - 0 1",  // in check
};

// Positions with a mate in exactly this many moves (from the search tests).
struct MateCase {
  const char* fen;
  i32 moves;
};
const MateCase MateCases[] = {
    {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", 1},
    {"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1", 2},
    {"5k2/6pp/p1qN4/1p1p4/3P4/2PKP2Q/PP3r2/3R4 b - - 0 1", 2},
    {"k4r2/1R4pb/1pQp1n1p/3P4/5p1P/3P2P1/r1q1R2K/8 w - - 0 1", 3},
};

// Sets the global split depth for one test.
class SplitDepthScope {
 public:
  explicit SplitDepthScope(i32 depth) : saved_(minSplitDepth) { minSplitDepth = depth; }
  ~SplitDepthScope() { minSplitDepth = saved_; }

 private:
  i32 saved_;
};

// Recreates the engine's threads and links thread 0's context to the new
// thread 0, as the protocols and tools do after a change of thread count.
void SetThreads(Engine& engine, i32 n) {
  engine.pool.SetThreadCount(n);
  SearchThread* main = engine.pool.mainThread;
  engine.mainContext.thread = main;
  engine.mainContext.killers = main->killers;
  engine.mainContext.history = main->history;
  engine.board.owner = main;
  engine.mainContext.board.owner = main;
}

std::unique_ptr<Engine> MakeThreadedEngine(i32 threads, EngineListener* listener = nullptr) {
  auto engine = MakeEngine(listener);
  SetThreads(*engine, threads);
  engine->useInputThread = 1;  // the poll leaves standard input alone
  return engine;
}

// The legal moves of the engine's game position.
std::vector<Move> LegalMoves(Engine& engine) {
  Board& b = engine.board;
  ScoredMove list[MaxMoves];
  const bool inCheck = b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent);
  const i32 count = GenerateMoves(b, list, inCheck);
  std::vector<Move> legal;
  for (i32 i = 0; i < count; ++i) {
    UndoInfo undo;
    b.MakeMove(list[i].move, undo);
    if (!b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove)) legal.push_back(list[i].move);
    b.UnmakeMove(list[i].move, undo);
  }
  return legal;
}

bool Contains(const std::vector<Move>& moves, Move m) {
  for (Move x : moves)
    if (x == m) return true;
  return false;
}

u64 SlaveNodes(const Engine& engine) {
  u64 sum = 0;
  for (const SearchThread* t : engine.pool.threads)
    if (t->index > 0) sum += t->nodes.load();
  return sum;
}

// Searches every position to a fixed depth and checks that the move played
// is legal and that the helpers took part.
void SearchPositions(Engine& engine, i32 depth) {
  u64 helped = 0;
  for (const char* fen : Positions) {
    SetGamePosition(engine, fen);
    const std::vector<Move> legal = LegalMoves(engine);
    SetDepthLimit(engine, depth);
    engine.Think(0);
    EXPECT_EQ(engine.searching, 0);
    if (legal.empty()) {
      EXPECT_EQ(engine.bestMove, 0u) << fen;
      continue;
    }
    EXPECT_EQ(engine.stopReason, StopNormal);
    EXPECT_TRUE(Contains(legal, engine.bestMove)) << fen << " " << CoordinateText(engine.bestMove);
    ASSERT_FALSE(engine.gameHistory.empty());
    EXPECT_EQ(engine.gameHistory.back().move, engine.bestMove);
    EXPECT_EQ(engine.limits.depthReached, depth);
    EXPECT_TRUE(engine.board.IsConsistent());
    helped += SlaveNodes(engine);
    // Every split point has closed.
    for (const SearchThread* t : engine.pool.threads) {
      EXPECT_EQ(t->splitPointCount.load(), 0);
      EXPECT_EQ(t->booked.load(), 0);
    }
  }
  EXPECT_GT(helped, 0u);
}

TEST(ParallelSearchThreaded, LegalMovesOnTwoToSixtyFourThreads) {
  SplitDepthScope splitDepth(8);  // split from three plies on: many split points
  struct Run {
    i32 threads;
    i32 depth;
  };
  const Run runs[] = {{2, ForTarget(8, 4)},
                      {4, ForTarget(8, 4)},
                      {8, ForTarget(8, 4)},
                      {64, ForTarget(7, 3)}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.threads);
    auto engine = MakeThreadedEngine(run.threads);
    ASSERT_EQ(engine->pool.threads.size(), static_cast<std::size_t>(run.threads));
    SearchPositions(*engine, run.depth);
  }
}

TEST(ParallelSearchThreaded, MatesAtTheirExactDistance) {
  SplitDepthScope splitDepth(4);
  for (const i32 threads : {2, 4, 8}) {
    auto engine = MakeThreadedEngine(threads);
    for (const MateCase& m : MateCases) {
      const i32 plies = 2 * m.moves - 1;
      SetGamePosition(*engine, m.fen);
      engine->tt.Clear();
      SetDepthLimit(*engine, plies + 2);
      engine->Think(0);
      EXPECT_EQ(engine->rootLines[0].score, MateScore - plies) << threads << " " << m.fen;
      ASSERT_GE(engine->rootLines[0].pvLength, 1);
      EXPECT_EQ(engine->rootLines[0].pv[0], engine->bestMove);
    }
  }
}

TEST(ParallelSearchThreaded, OneThreadNeverSplits) {
  SplitDepthScope splitDepth(4);
  auto engine = MakeThreadedEngine(1);
  ASSERT_EQ(engine->pool.threads.size(), 1u);
  SetGamePosition(*engine, ItalianFen);
  SetDepthLimit(*engine, ForTarget(7, 5));
  engine->Think(0);
  // Split fills a slot before it books anybody: this one was never touched.
  const SearchThread* main = engine->pool.mainThread;
  EXPECT_EQ(main->splitPoints[0].master, nullptr);
  EXPECT_EQ(main->splitPointCount.load(), 0);
  EXPECT_EQ(main->activeSplitPoint, nullptr);

  // The same search on two threads splits, and thread 1 searches.
  SetThreads(*engine, 2);
  SetGamePosition(*engine, ItalianFen);
  engine->tt.Clear();
  engine->Think(0);
  EXPECT_EQ(engine->pool.mainThread->splitPoints[0].master, engine->pool.mainThread);
  EXPECT_GT(engine->pool.threads[1]->nodes.load(), 0u);
}

TEST(ParallelSearchThreaded, ThreadCountChangesBetweenSearches) {
  SplitDepthScope splitDepth(8);
  auto engine = MakeThreadedEngine(1);
  for (const i32 threads : {4, 1, 8, 2, ForTarget(64, 16), 3, 8}) {
    SetThreads(*engine, threads);
    ASSERT_EQ(engine->pool.threads.size(), static_cast<std::size_t>(threads));
    SetGamePosition(*engine, Positions[2]);
    const std::vector<Move> legal = LegalMoves(*engine);
    SetDepthLimit(*engine, ForTarget(7, 4));
    engine->Think(0);
    EXPECT_TRUE(Contains(legal, engine->bestMove)) << threads;
    EXPECT_EQ(engine->limits.depthReached, ForTarget(7, 4));
  }
}

// Runs an infinite (or ponder) search on its own thread and ends it from the
// test thread once the search has reported `depth`.
class BackgroundSearch {
 public:
  BackgroundSearch(Engine& engine, RecordingListener& listener, i32 ponder) : engine_(engine) {
    listener.onPv = [this](const RecordingListener::Report& r) { depth_ = r.depth; };
    thread_ = std::thread([this, ponder] { engine_.Think(ponder); });
  }
  ~BackgroundSearch() {
    if (thread_.joinable()) thread_.join();
  }
  void WaitForDepth(i32 depth) {
    while (depth_.load() < depth) std::this_thread::yield();
  }
  void Join() { thread_.join(); }

 private:
  Engine& engine_;
  std::atomic<i32> depth_{0};
  std::thread thread_;
};

TEST(ParallelSearchThreaded, StopQuitAndPonder) {
  SplitDepthScope splitDepth(8);
  RecordingListener listener;
  auto engine = MakeThreadedEngine(ForTarget(64, 8), &listener);
  const i32 depth = ForTarget(5, 3);

  // Stop.
  SetGamePosition(*engine, ItalianFen);
  std::vector<Move> legal = LegalMoves(*engine);
  engine->limits.mode = ModeInfinite;
  {
    BackgroundSearch search(*engine, listener, 0);
    search.WaitForDepth(depth);
    EXPECT_EQ(engine->searching, 1);
    engine->stopReason = StopNormal;
    search.Join();
  }
  EXPECT_EQ(engine->searching, 0);
  EXPECT_TRUE(Contains(legal, engine->bestMove));
  EXPECT_TRUE(engine->gameHistory.empty());  // an infinite search plays nothing
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.Of("done")[0].score, StopNormal);

  // Quit: no move.
  listener.reports.clear();
  {
    BackgroundSearch search(*engine, listener, 0);
    search.WaitForDepth(depth);
    engine->stopReason = StopQuit;
    search.Join();
  }
  EXPECT_EQ(engine->bestMove, 0u);
  ASSERT_EQ(listener.Count("done"), 1);
  EXPECT_EQ(listener.Of("done")[0].score, StopQuit);
  EXPECT_EQ(engine->searching, 0);

  // Stopped while pondering: the guessed move is taken back.
  engine->ponderEnabled = 1;
  ASSERT_TRUE(engine->ParseAndMakeMove("c1g5"));
  listener.reports.clear();
  {
    BackgroundSearch search(*engine, listener, 1);
    search.WaitForDepth(depth);
    EXPECT_EQ(engine->pondering, 1);
    engine->stopReason = StopPonder;
    search.Join();
  }
  EXPECT_EQ(engine->stopReason, StopPonder);
  EXPECT_TRUE(engine->gameHistory.empty());
  EXPECT_NE(engine->bestMove, 0u);

  // A ponder hit: the search goes on as an ordinary timed search, ends by
  // itself and plays its move.
  ASSERT_TRUE(engine->ParseAndMakeMove("c1g5"));
  legal = LegalMoves(*engine);
  engine->limits.mode = ModeMoveTime;
  engine->limits.moveTime = 50000;
  listener.reports.clear();
  {
    BackgroundSearch search(*engine, listener, 1);
    search.WaitForDepth(depth);
    engine->pondering = 0;
    engine->limits.pollCounter = engine->limits.pollPeriod;
    search.Join();
  }
  EXPECT_EQ(engine->stopReason, StopNormal);
  ASSERT_EQ(engine->gameHistory.size(), 2u);
  EXPECT_TRUE(Contains(legal, engine->gameHistory.back().move));
  EXPECT_EQ(listener.Count("done"), 1);
  engine->ponderEnabled = 0;
}

TEST(ParallelSearchThreaded, StopsAtAnyMomentLeaveThePoolIdle) {
  SplitDepthScope splitDepth(4);  // split points open and close all the time
  auto engine = MakeThreadedEngine(8);
  engine->limits.mode = ModeInfinite;
  for (i32 cycle = 0; cycle < ForTarget(60, 12); ++cycle) {
    SetGamePosition(*engine, Positions[cycle % 6]);
    // Cleared here, so that a stop coming before the search starts counts.
    engine->stopReason = StopNone;
    std::thread searcher([&] { engine->Think(0, false); });
    std::this_thread::sleep_for(std::chrono::microseconds(250 * (cycle % 9)));
    engine->stopReason = cycle % 5 == 4 ? StopQuit : StopNormal;
    searcher.join();
    EXPECT_EQ(engine->searching, 0);
    for (const SearchThread* t : engine->pool.threads) {
      EXPECT_EQ(t->splitPointCount.load(), 0);
      EXPECT_EQ(t->booked.load(), 0);
    }
  }
}

// Stops the search from a helper that is the last to leave a split point of
// thread 0, and holds every such helper from then on just before it wakes
// thread 0, until the pool's teardown asks it to stop (or a new booking needs
// it, or the test ends). Thread 0 looks at its split point every few
// milliseconds on its own, finds it empty and ends the search, so the pool is
// taken down while that wake-up is still to come: a teardown that deletes
// thread 0 before it has joined every helper deletes it under a held one,
// which is noted as it happens. Only helpers with no split point of their own
// open are held: a helper nested below another split point is still awaited
// there.
struct StopAtLastLeaving {
  StopAtLastLeaving() {
    SearchThread::lastLeaving = Hold;
    SearchThread::destroying = Destroying;
  }
  ~StopAtLastLeaving() {
    released = true;
    SearchThread::lastLeaving = nullptr;
    SearchThread::destroying = nullptr;
  }

  // The stop comes at the `leavingsBeforeStop`th leaving, as `stopKind`.
  static void Arm(i32 leavingsBeforeStop, i32 kind) {
    leavings = 0;
    stopAt = leavingsBeforeStop;
    stopKind = kind;
    held = 0;
    masterGone = 0;
    heldMaster = nullptr;
    released = false;
  }

  static void Hold(SearchThread& helper, SearchThread& master) {
    if (master.index != 0 || helper.splitPointCount.load() != 0) return;
    Engine& engine = *helper.engine;
    if (engine.stopReason.load() == StopNone) {
      if (++leavings < stopAt) return;
      engine.stopReason = stopKind.load();
    }
    heldMaster = &master;
    ++holding;
    ++held;
    while (!released.load() && !helper.booked.load() && !helper.StopRequested())
      std::this_thread::yield();
    --holding;
  }

  static void Destroying(SearchThread& thread) {
    if (&thread == heldMaster.load() && holding.load() > 0) ++masterGone;
  }

  static std::atomic<i32> leavings, stopAt, stopKind, held, holding, masterGone;
  static std::atomic<SearchThread*> heldMaster;
  static std::atomic<bool> released;
};
std::atomic<i32> StopAtLastLeaving::leavings{0};
std::atomic<i32> StopAtLastLeaving::stopAt{0};
std::atomic<i32> StopAtLastLeaving::stopKind{0};
std::atomic<i32> StopAtLastLeaving::held{0};
std::atomic<i32> StopAtLastLeaving::holding{0};
std::atomic<i32> StopAtLastLeaving::masterGone{0};
std::atomic<SearchThread*> StopAtLastLeaving::heldMaster{nullptr};
std::atomic<bool> StopAtLastLeaving::released{false};

TEST(ParallelSearchThreaded, QuitAndThreadCountChangesRightAfterAStop) {
  SplitDepthScope splitDepth(4);
  i32 threads = 2;
  auto engine = MakeThreadedEngine(threads);
  StopAtLastLeaving stopping;  // lets go before the engine goes
  i32 heldIntoTeardown = 0;
  for (i32 cycle = 0; cycle < ForTarget(24, 12); ++cycle) {
    SCOPED_TRACE(cycle);
    SetGamePosition(*engine, Positions[2 + cycle % 3]);
    // The node limit only bounds the work should the stop never come.
    engine->limits.mode = ModeNodes;
    engine->limits.nodeLimit = 5000000;
    StopAtLastLeaving::Arm(1 + cycle * 7 % 30, cycle % 2 ? StopQuit : StopNormal);
    engine->Think(0);
    EXPECT_GE(StopAtLastLeaving::held.load(), 1);
    if (StopAtLastLeaving::holding.load() > 0) ++heldIntoTeardown;

    // Quit, a new thread count, or a new engine, with a held helper about
    // to wake thread 0.
    switch (cycle % 3) {
      case 0:
        threads = threads == 4 ? 2 : threads + 1;
        SetThreads(*engine, threads);
        break;
      case 1:
        engine->Shutdown();
        engine->Init(1);
        break;
      default:
        engine = MakeThreadedEngine(threads);
        break;
    }
    EXPECT_EQ(StopAtLastLeaving::masterGone.load(), 0)
        << "thread 0 was deleted while a helper still had to wake it";
    EXPECT_EQ(StopAtLastLeaving::holding.load(), 0);
    ASSERT_EQ(engine->pool.threads.size(), static_cast<std::size_t>(threads));
  }
  // The teardowns met the window they are meant for.
  EXPECT_GT(heldIntoTeardown, 0);
}

TEST(ParallelSearchThreaded, MultiPvLinesWithThreads) {
  SplitDepthScope splitDepth(4);
  auto engine = MakeThreadedEngine(4);
  SetGamePosition(*engine, Positions[2]);
  engine->multiPv = 4;
  SetDepthLimit(*engine, ForTarget(6, 4));
  engine->Think(0);
  ASSERT_EQ(engine->lineCount, 4);
  std::vector<Move> firsts;
  for (i32 l = 0; l < 4; ++l) {
    ASSERT_GT(engine->rootLines[l].pvLength, 0);
    EXPECT_FALSE(Contains(firsts, engine->rootLines[l].pv[0])) << l;
    firsts.push_back(engine->rootLines[l].pv[0]);
    if (l > 0) {
      EXPECT_GE(engine->rootLines[l - 1].score, engine->rootLines[l].score);
    }
  }
}

TEST(ParallelSearchThreaded, CurrentMovesFromEveryThreadOnlyWhileReporting) {
  SplitDepthScope splitDepth(4);  // the root splits from iteration 2
  RecordingListener listener;
  auto engine = MakeThreadedEngine(4, &listener);
  SetDepthLimit(*engine, ForTarget(5, 3));
  SetGamePosition(*engine, StartFen);
  engine->Think(0);
  EXPECT_EQ(listener.Count("currmove"), 0);  // not within the first two seconds

  // A slow listener pushes the search past two seconds in iteration 1: from
  // iteration 3 on each root move is reported once, by whichever thread
  // takes it, in list order.
  listener.reports.clear();
  listener.onPv = [](const RecordingListener::Report& r) {
    if (r.depth == 1) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  };
  SetGamePosition(*engine, StartFen);
  SetDepthLimit(*engine, 4);
  engine->Think(0);
  const std::vector<RecordingListener::Report> moves = listener.Of("currmove");
  ASSERT_EQ(moves.size(), 40u);
  for (std::size_t i = 0; i < moves.size(); ++i) EXPECT_EQ(moves[i].line, static_cast<i32>(i % 20) + 1);
}

// Split points driven from thread 0's context on a prepared node.
class SplitThreaded : public ::testing::Test {
 protected:
  // A thread that counts as started but never runs the search loop: it can
  // be booked only by mistake, and a test never waits for it.
  static void* Idle(void*) { return nullptr; }
  static int CreateIdleThread(pthread_t* handle, const pthread_attr_t* attributes,
                              void* (*)(void*), void*) {
    return pthread_create(handle, attributes, Idle, nullptr);
  }
  static int FailCreation(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
    return EAGAIN;
  }

  void MakeEngineWith(i32 threads, int (*create)(pthread_t*, const pthread_attr_t*,
                                                 void* (*)(void*), void*) = nullptr) {
    engine = MakeEngine();
    auto saved = ThreadPool::createThread;
    if (create) ThreadPool::createThread = create;
    SetThreads(*engine, threads);
    ThreadPool::createThread = saved;
    engine->useInputThread = 1;
  }

  // Thread 0's context at the position, with the first move of a node at
  // ply 1 taken from a fresh picker (as if thread 0 had searched it).
  SearchContext& PrepareNode(const char* fen, Move first = 0) {
    SetGamePosition(*engine, fen);
    SearchContext& c = engine->mainContext;
    c.board = engine->board;
    c.board.owner = c.thread;
    c.keyCount = 0;
    c.nodes = 0;
    c.selDepth = 0;
    c.pvLength[1] = 0;
    engine->rootSide = engine->board.sideToMove;
    engine->stopReason = StopNone;
    engine->limits.mode = ModeDepth;
    engine->tt.Clear();
    std::memset(&picker, 0, sizeof picker);
    picker.nextStage = StageHashMove;
    picker.hashMove = first;
    picker.ply = 1;
    ScoredMove taken;
    EXPECT_NE(picker.Next(c.board, taken), 0);
    if (first) {
      EXPECT_EQ(taken.move, first);
    }
    for (SearchThread* t : engine->pool.threads) t->nodes = 0;
    return c;
  }

  i32 SplitHere(SearchContext& c, i32 alpha, i32 beta, i32 depth, i32* alphaOut, Move* best) {
    *alphaOut = alpha;
    *best = 0;
    return c.Split(c.board, &picker, alpha, beta, depth, 1, 1, 0, NodeKindInterior, 0, 0,
                   alphaOut, best);
  }

  MovePicker picker;
  std::unique_ptr<Engine> engine;
};

TEST_F(SplitThreaded, NobodyFreeLeavesTheMasterAsItWas) {
  MakeEngineWith(4, CreateIdleThread);
  SearchContext& c = PrepareNode(ItalianFen);
  SearchThread* main = engine->pool.mainThread;
  // Thread 0 already works below a split point of its own.
  main->splitPointCount = 1;
  main->activeSplitPoint = &main->splitPoints[0];

  i32 alpha;
  Move best;
  // Every other thread busy.
  for (i32 i = 1; i < 4; ++i) engine->pool.threads[i]->booked = 1;
  EXPECT_FALSE(HelperAvailable(c));
  EXPECT_EQ(SplitHere(c, -100, 100, 12, &alpha, &best), 0);
  EXPECT_EQ(main->splitPointCount.load(), 1);
  EXPECT_EQ(main->activeSplitPoint, &main->splitPoints[0]);
  EXPECT_EQ(alpha, -100);
  EXPECT_EQ(best, 0u);

  // Idle, but each waits for slaves of its own among which thread 0 is not.
  for (i32 i = 1; i < 4; ++i) {
    SearchThread* t = engine->pool.threads[i];
    t->booked = 0;
    t->splitPointCount = 1;
    t->splitPoints[0].slaveMask = t->mask | (i > 1 ? engine->pool.threads[1]->mask : 0);
  }
  EXPECT_FALSE(HelperAvailable(c));
  EXPECT_EQ(SplitHere(c, -100, 100, 12, &alpha, &best), 0);
  EXPECT_EQ(main->splitPointCount.load(), 1);
  EXPECT_EQ(main->activeSplitPoint, &main->splitPoints[0]);
  for (i32 i = 1; i < 4; ++i) EXPECT_EQ(engine->pool.threads[i]->booked.load(), 0);

  // Thread 1 may book the threads that wait for it, and no other.
  SearchContext other;
  other.thread = engine->pool.threads[1];
  other.pool = &engine->pool;
  EXPECT_TRUE(HelperAvailable(other));

  for (i32 i = 1; i < 4; ++i) {
    engine->pool.threads[i]->splitPointCount = 0;
    engine->pool.threads[i]->splitPoints[0].slaveMask = 0;
  }
  main->splitPointCount = 0;
  main->activeSplitPoint = nullptr;
}

TEST_F(SplitThreaded, ThreadsThatFailedToStartAreNeverBooked) {
  MakeEngineWith(3, FailCreation);
  for (const SearchThread* t : engine->pool.threads) EXPECT_FALSE(t->started);
  SearchContext& c = PrepareNode(ItalianFen);
  EXPECT_FALSE(HelperAvailable(c));
  i32 alpha;
  Move best;
  EXPECT_EQ(SplitHere(c, -100, 100, 12, &alpha, &best), 0);
  EXPECT_EQ(engine->pool.mainThread->splitPointCount.load(), 0);
  for (const SearchThread* t : engine->pool.threads) EXPECT_EQ(t->booked.load(), 0);
  // A whole search goes on alone.
  SetDepthLimit(*engine, 5);
  SetGamePosition(*engine, ItalianFen);
  engine->Think(0);
  EXPECT_EQ(engine->limits.depthReached, 5);
  EXPECT_NE(engine->bestMove, 0u);
}

TEST_F(SplitThreaded, WaitingMasterJoinsOnlyItsOwnSlaves) {
  SplitDepthScope splitDepth(1000);  // no nested split points
  MakeEngineWith(2);
  SearchContext& c = PrepareNode(ItalianFen);
  SearchThread* main = engine->pool.mainThread;
  SearchThread* helper = engine->pool.threads[1];
  main->booked = 1;

  // Thread 1 waits for slaves of its own; thread 0 is not one of them.
  helper->splitPointCount = 1;
  helper->splitPoints[0].slaveMask = helper->mask;
  i32 alpha;
  Move best;
  EXPECT_EQ(SplitHere(c, -InfiniteScore, InfiniteScore, 16, &alpha, &best), 0);
  EXPECT_EQ(helper->activeSplitPoint, nullptr);
  EXPECT_EQ(main->splitPointCount.load(), 0);

  // Now thread 0 works for it: it may be booked.
  helper->splitPoints[0].slaveMask = helper->mask | main->mask;
  const u64 nodesBefore = c.nodes;
  ASSERT_EQ(SplitHere(c, -InfiniteScore, InfiniteScore, 16, &alpha, &best), 1);
  EXPECT_EQ(helper->activeSplitPoint, &main->splitPoints[0]);
  // Everybody's nodes at the split point come back to the master's context.
  EXPECT_EQ(c.nodes - nodesBefore, main->nodes.load() + helper->nodes.load());
  EXPECT_GT(c.nodes, nodesBefore);
  EXPECT_GE(c.selDepth, 2);
  EXPECT_EQ(main->splitPointCount.load(), 0);
  EXPECT_EQ(main->activeSplitPoint, nullptr);
  EXPECT_EQ(main->booked.load(), 1);  // searching again
  EXPECT_EQ(helper->booked.load(), 0);
  EXPECT_EQ(main->splitPoints[0].slaveMask.load(), 0u);
  EXPECT_EQ(main->splitPoints[0].slaveCount, 0);
  // The best move and its line went into the master's PV row at the node.
  EXPECT_GT(alpha, -InfiniteScore);
  ASSERT_NE(best, 0u);
  EXPECT_TRUE(Contains(LegalMoves(*engine), best));
  ASSERT_GE(c.pvLength[1], 1);
  EXPECT_EQ(c.pv[1][0], best);

  helper->splitPointCount = 0;
  helper->splitPoints[0].slaveMask = 0;
}

TEST_F(SplitThreaded, FailHighSetsTheCutoff) {
  SplitDepthScope splitDepth(1000);
  MakeEngineWith(3);
  // The king steps first; a later move takes the queen.
  const Move kingStep = EncodeMove(4, 5, King);
  SearchContext& c = PrepareNode("4k3/8/8/3q4/8/8/3R4/4K3 w - - 0 1", kingStep);
  i32 alpha;
  Move best;
  ASSERT_EQ(SplitHere(c, 0, 300, 16, &alpha, &best), 1);
  EXPECT_GE(alpha, 300);
  EXPECT_EQ(engine->pool.mainThread->splitPoints[0].cutoff.load(), 1);
  EXPECT_EQ(CoordinateText(best), "d2d5");  // the refutation comes back
}

TEST_F(SplitThreaded, CutoffAboveEndsTheWorkBelow) {
  SplitDepthScope splitDepth(1000);
  MakeEngineWith(3);
  SearchContext& c = PrepareNode(Positions[2]);
  SearchThread* main = engine->pool.mainThread;
  const i32 depth = 40;  // ten plies: far beyond this test's time without the cut-off

  // A refuted split point above thread 0's node.
  SplitPoint& above = main->splitPoints[0];
  above.parent = nullptr;
  above.cutoff = 1;
  main->splitPointCount = 1;
  main->activeSplitPoint = &above;
  i32 alpha;
  Move best;
  ASSERT_EQ(SplitHere(c, -InfiniteScore, InfiniteScore, depth, &alpha, &best), 1);
  EXPECT_EQ(main->splitPoints[1].parent, &above);
  // Each thread took a move or two and left at once.
  for (i32 i = 0; i < 3; ++i) EXPECT_LT(engine->pool.threads[i]->nodes.load(), 5000u) << i;
  EXPECT_EQ(main->splitPointCount.load(), 1);
  EXPECT_EQ(main->activeSplitPoint, &above);

  above.cutoff = 0;
  main->splitPointCount = 0;
  main->activeSplitPoint = nullptr;
}

TEST_F(SplitThreaded, WaitingThreadZeroWatchesTheClock) {
  // Thread 0 alone checks the time limit. Waiting for a slave that takes
  // long, it must still see the time run out: the stop it sets is what ends
  // the slave's search.
  MakeEngineWith(2);
  SearchThread* main = engine->pool.mainThread;
  SplitPoint& sp = main->splitPoints[0];
  sp.master = main;
  sp.slaveMask = main->mask << 1;  // a slave still at work
  main->booked = 0;
  engine->stopReason = StopNone;
  engine->pondering = 0;
  engine->limits.mode = ModeMoveTime;
  engine->limits.timeLimit = 20000;
  engine->limits.searchStart.Start();

  std::thread slave([&] {
    while (engine->stopReason.load() == StopNone) std::this_thread::yield();
    main->sleepLock.Lock();
    sp.slaveMask = 0;
    main->wakeUp.Signal();
    main->sleepLock.Unlock();
  });
  main->IdleLoop(&sp);
  slave.join();
  EXPECT_EQ(engine->stopReason, StopNormal);
  EXPECT_GE(engine->limits.searchStart.ElapsedMicroseconds(), 20000.0);
}

TEST_F(SplitThreaded, NoNinthSplitPoint) {
  SplitDepthScope splitDepth(4);
  MakeEngineWith(2);
  SearchContext& c = PrepareNode(ItalianFen);
  SearchThread* main = engine->pool.mainThread;
  main->booked = 1;

  // Eight open split points on thread 0 (none refuted): its search goes on
  // alone although thread 1 is free.
  for (i32 i = 0; i < MaxSplitPoints; ++i) {
    main->splitPoints[i].parent = i ? &main->splitPoints[i - 1] : nullptr;
    main->splitPoints[i].cutoff = 0;
    main->splitPoints[i].slaveMask = main->mask;
  }
  main->splitPointCount = MaxSplitPoints;
  main->activeSplitPoint = &main->splitPoints[MaxSplitPoints - 1];
  SearchThread* helper = engine->pool.threads[1];
  helper->activeSplitPoint = nullptr;
  c.board = engine->board;
  c.Search(c.board, -InfiniteScore, InfiniteScore, 24, 2, 1, 1, 0);
  EXPECT_EQ(helper->nodes.load(), 0u);
  EXPECT_EQ(helper->activeSplitPoint, nullptr);  // never booked
  EXPECT_EQ(main->splitPointCount.load(), MaxSplitPoints);

  // With the slots free, the same search books thread 1 at a split point of
  // thread 0. Whether it then searches a node before thread 0 has taken
  // every move is up to the scheduler, so the booking is what is checked.
  main->splitPointCount = 0;
  main->activeSplitPoint = nullptr;
  engine->tt.Clear();
  c.Search(c.board, -InfiniteScore, InfiniteScore, 24, 2, 1, 1, 0);
  const SplitPoint* joined = helper->activeSplitPoint;
  bool bookedByThread0 = false;
  for (const SplitPoint& sp : main->splitPoints) bookedByThread0 |= joined == &sp;
  EXPECT_TRUE(bookedByThread0);
  EXPECT_EQ(main->splitPointCount.load(), 0);
}

}  // namespace
