// The root search driver: root moves, book, time allocation, root ordering,
// iterative deepening with aspiration windows and several lines, reports,
// and the end of the search with the best and the ponder move.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "board/movegen.h"
#include "board/movepicker.h"
#include "common/log.h"
#include "engine/engine.h"
#include "engine/search_internal.h"

namespace {

constexpr i32 MaxIterations = MaxPly - 1;  // 127 plies: the TT depth field and PV rows
constexpr double ProgressDelay = 2000000.0;  // microseconds before progress reports begin
// What a clock-mode search leaves on the clock: a tenth of it, at least 50 ms.
constexpr float ClockMarginMinimumMs = 50.0f;
constexpr float ClockMarginShare = 0.1f;

// A float count of microseconds as an unsigned 32-bit number: negative gives
// 0 and values beyond the range give the largest.
u32 SaturateMicroseconds(float t) {
  if (!(t > 0.0f)) return 0;
  if (t >= 4294967296.0f) return 0xFFFFFFFFu;
  return static_cast<u32>(t);
}

bool LeavesKingSafe(Board& b, Move m) {
  UndoInfo undo;
  b.MakeMove(m, undo);
  const bool safe = !b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove);
  b.UnmakeMove(m, undo);
  return safe;
}

// The first legal move in generation order, 0 when there is none.
Move FirstLegalMove(Board& b) {
  ScoredMove list[MaxMoves];
  const bool inCheck = b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent);
  const i32 count = GenerateMoves(b, list, inCheck);
  for (i32 i = 0; i < count; ++i)
    if (LeavesKingSafe(b, list[i].move)) return list[i].move;
  return 0;
}

// Stable insertion sort of the root list, highest score first.
void SortRootMoves(MovePicker& list) {
  for (u32 i = 1; i < list.end; ++i) {
    const ScoredMove item = list.moves[i];
    i32 j = static_cast<i32>(i) - 1;
    while (j >= 0 && list.moves[j].score < item.score) {
      list.moves[j + 1] = list.moves[j];
      --j;
    }
    list.moves[j + 1] = item;
  }
}

// Brings a move to the front of the root list, the moves before it each
// moving one place back.
void MoveToFront(MovePicker& list, Move m) {
  u32 k = 0;
  while (k < list.end && list.moves[k].move != m) ++k;
  if (k == 0 || k == list.end) return;
  const ScoredMove item = list.moves[k];
  for (; k > 0; --k) list.moves[k] = list.moves[k - 1];
  list.moves[0] = item;
}

// What a score says of a line searched with this window.
i32 WindowBound(const AspirationWindow& w, i32 score) {
  return score <= w.alpha ? BoundUpper : score >= w.beta ? BoundLower : BoundExact;
}

}  // namespace

i32 WidenAspiration(AspirationWindow& w, i32 score) {
  i32 bound = BoundExact;
  if (score <= w.alpha) {
    w.alpha = 2 * w.delta > AspirationOpen ? -InfiniteScore : std::max(w.alpha - w.delta, -InfiniteScore);
    w.delta *= 2;
    bound = BoundUpper;
  } else if (score >= w.beta) {
    w.beta = 2 * w.delta > AspirationOpen ? InfiniteScore : std::min(w.beta + w.delta, InfiniteScore);
    w.delta *= 2;
    bound = BoundLower;
  }
  // After a mate score only the full window is trustworthy.
  if (score >= MateBound || score <= -MateBound) {
    w.alpha = -InfiniteScore;
    w.beta = InfiniteScore;
    w.delta = AspirationOpen + 1;
  }
  return bound;
}

u32 SearchTimeLimit(const SearchLimits& limits, i32 sideToMove) {
  if (limits.mode == ModeInfinite) return 0xFFFFFFFFu;
  if (limits.mode != ModeClock) return limits.moveTime > 0 ? static_cast<u32>(limits.moveTime) : 0u;
  return ClockTimeLimit(limits, sideToMove, limits.searchesThisGame);
}

u32 ClockTimeLimit(const SearchLimits& limits, i32 sideToMove, i32 searchesBefore) {
  // In single precision. 33.333336f is the float 0x42055556.
  const float clock = limits.clock[sideToMove];
  const i32 increment = limits.increment[sideToMove];
  // A count below zero says no more than no count.
  const i32 movesToGo = limits.movesToGo > 0 ? limits.movesToGo : 0;
  float t;
  if (movesToGo == 0 && increment > 0) {
    const float incrementUs = static_cast<float>(increment) * 1000.0f;
#if defined(__arm__) && defined(__ARM_FEATURE_FMA)
    // The ARMv7-A build rounds this sum once, with a fused multiply-add.
    t = std::fma(clock, 33.333336f, incrementUs);
#else
    t = incrementUs + clock * 33.333336f;
#endif
  } else if (movesToGo == 0)
    t = clock * 25.0f;
  else if (movesToGo == 1)
    t = clock * 500.0f;
  else
    t = clock * 1000.0f / static_cast<float>(movesToGo);
  u32 limit = SaturateMicroseconds(t);

  // The first searches of a game get more: twice the time, then 0.1 less
  // each search up to the tenth.
  const i32 n = searchesBefore;
  if (n >= 0 && n < 10)
    limit = SaturateMicroseconds(static_cast<float>(limit) * (2.0f - 0.1f * static_cast<float>(n)));

  // Never more than the clock holds less a margin for the time checks and
  // the way to the interface ("movestogo 1" would give the whole clock, and
  // a large increment more than the clock holds).
  const u32 cap = ClockLessMarginMicroseconds(clock);
  return limit < cap ? limit : cap;
}

u32 ClockLessMarginMicroseconds(float clockMs) {
  const float marginMs = std::max(ClockMarginMinimumMs, clockMs * ClockMarginShare);
  return SaturateMicroseconds((clockMs - marginMs) * 1000.0f);
}

i32 SearchDepthLimit(const SearchLimits& limits) {
  i32 depth = MaxIterations;
  if (limits.mode == ModeDepth && limits.depthLimit < depth) depth = limits.depthLimit;
  // A cap holds in every mode but the infinite one: a search under a clock
  // stops at the cap or at its time, whichever comes first.
  if (limits.depthCap > 0 && limits.mode != ModeInfinite && limits.depthCap < depth)
    depth = limits.depthCap;
  return depth;
}

namespace {

// The time and depth a search has been given.
void LogSearchLimits(const SearchLimits& limits, i32 sideToMove, i32 maxDepth) {
  if (limits.mode == ModeClock)
    gLog.Info("search : %u ms for the move (clock %.0f ms, %d moves to go), depth %d",
              limits.timeLimit / 1000, static_cast<double>(limits.clock[sideToMove]),
              limits.movesToGo, maxDepth);
  else if (limits.mode == ModeMoveTime)
    gLog.Info("search : %u ms for the move, depth %d", limits.timeLimit / 1000, maxDepth);
  else
    gLog.Info("search : no time limit, depth %d", maxDepth);
}

}  // namespace

void Engine::LoadSearchKeys() {
  // The search path needs room for up to MaxPly keys on top of the game's.
  constexpr i32 GameRoom = KeyStackSize - MaxPly;
  const i32 count = gameKeyCount < GameRoom ? gameKeyCount : GameRoom;
  std::memcpy(mainContext.keys, gameKeys + (gameKeyCount - count), sizeof(u64) * count);
  mainContext.keyCount = count;
}

void Engine::ReportLines(LineReport which, i32 line, double elapsed) {
  const SearchContext& c = mainContext;
  if (which == LineReport::Finished && lineCount > 1) {
    // Deeper lines first, then higher scores.
    for (i32 i = 0; i < lineCount; ++i) {
      for (i32 j = i + 1; j < lineCount; ++j) {
        const u32 di = static_cast<u32>(rootLines[i].depth);
        const u32 dj = static_cast<u32>(rootLines[j].depth);
        if (dj > di || (dj == di && rootLines[j].score > rootLines[i].score))
          std::swap(rootLines[i], rootLines[j]);
      }
    }
    // With several lines a finished one is shown with the rest at the end of
    // the iteration, unless the search reports its progress.
    if (line != lineCount - 1 && !limits.reportProgress) return;
  }
  // A failed window marks every line with its bound.
  const i32 failedBound = rootLines[line].bound;
  for (i32 i = 0; i < lineCount; ++i) {
    RootLine& l = rootLines[i];
    if (which == LineReport::Unsent && !l.unsent) continue;
    l.unsent = 0;
    const i32 bound = which == LineReport::Failed ? failedBound : l.bound;
    if (lineCount == 1)
      listener->OnPvInfo(l.depth, l.score, l.pv, l.pvLength, c.nodes, c.selDepth, bound, elapsed);
    else
      listener->OnMultiPvInfo(i + 1, l.depth, l.score, l.pv, l.pvLength, c.nodes, c.selDepth,
                              bound, elapsed);
  }
}

void Engine::TakeLine(i32 line, i32 iteration, i32 score, i32 bound) {
  const SearchContext& c = mainContext;
  RootLine& l = rootLines[line];
  l.score = score;
  l.bound = static_cast<u8>(bound);
  if (c.pvLength[0] == 0) return;
  l.pvLength = c.pvLength[0];
  std::memcpy(l.pv, c.pv[0], sizeof(Move) * l.pvLength);
  l.depth = iteration;
  l.unsent = 1;
}

i32 Engine::SearchRootMoves(MovePicker& list, i32 iteration, i32 alpha, i32 beta) {
  SearchContext& c = mainContext;
  SearchThread* const main = c.thread;
  Board& root = c.board;
  const i32 depth = 4 * iteration;
  const u64 rootKey = root.key;

  c.pvLength[0] = 0;
  c.pv[0][0] = 0;
  if (limits.reportProgress) listener->OnDepth(iteration);
  main->booked = 1;
  const u8 rootInCheck = root.IsAttacked(root.kingSquare[root.sideToMove], root.opponent) ? 1 : 0;
  i32 bestScore = alpha;
  Move best = 0;
  const i32 count = static_cast<i32>(list.end);

  for (i32 i = 0; i < count; ++i) {
    const Move m = list.moves[i].move;
    if (multiPv >= 2 && linesDone >= 1) {
      bool excluded = false;
      for (i32 k = 0; k < linesDone; ++k) excluded |= excludedMoves[k] == m;
      if (excluded) continue;
    }
    c.PushKey(rootKey);
    UndoInfo undo;
    root.MakeMove(m, undo);
    c.currentMove[0] = m;
    ++c.nodes;
    main->AddNode();
    if (limits.reportProgress) listener->OnCurrMove(m, i + 1);

    const u8 givesCheck = root.IsAttacked(root.kingSquare[root.sideToMove], root.opponent) ? 1 : 0;
    const i32 toRank = RankOf(ToSquare(m));
    const bool pawnPush = MovingPiece(m) == Pawn && (toRank == 1 || toRank == 6);
    const i32 extension = (givesCheck || pawnPush || rootMoveCount == 1) ? 4 : 0;
    const i32 nd = depth + extension - 4;

    i32 score;
    if (i == 0) {
      score = nd >= 4 ? -c.SearchPly1(root, -beta, -alpha, nd, 1, givesCheck)
                      : -c.QuiescePly1(root, -beta, -alpha, 0, 1, givesCheck);
    } else {
      score = nd >= 4 ? -c.SearchPly1(root, -alpha - 1, -alpha, nd, 0, givesCheck)
                      : -c.QuiescePly1(root, -alpha - 1, -alpha, 0, 0, givesCheck);
      if (score > alpha && score < beta) {
        score = nd >= 4 ? -c.SearchPly1(root, -beta, -alpha, nd, 1, givesCheck)
                        : -c.QuiescePly1(root, -beta, -alpha, 0, 1, givesCheck);
      }
    }
    root.UnmakeMove(m, undo);
    c.PopKey();
    if (MustUnwind(c)) return bestScore;

    if (score > alpha) {
      UpdatePv(c, 0, m);
      if (score >= beta) {
        tt.Store(rootKey, m, score, depth, 0, BoundLower);
        if (!rootInCheck && CapturedPiece(m) == NoPiece && PromotionPiece(m) == NoPiece)
          UpdateQuietCutoff(c, root, m, 0, iteration);
        return score;
      }
      best = m;
      alpha = bestScore = score;
    }

    // Offer the remaining root moves to idle threads.
    if (pool.threadCount > 1 && depth > minSplitDepth && i + 1 < rootMoveCount - 1 &&
        main->splitPointCount < MaxSplitPoints && HelperAvailable(c)) {
      if (c.Split(root, &list, alpha, beta, depth, 0, i + 1, rootInCheck, NodeKindRoot, 0, 0,
                  &bestScore, &best)) {
        if (MustUnwind(c)) return bestScore;
        if (bestScore >= beta) {
          // The split point does not say which move refuted; credit the last
          // one searched here.
          tt.Store(rootKey, m, bestScore, depth, 0, BoundLower);
          if (!rootInCheck && CapturedPiece(m) == NoPiece && PromotionPiece(m) == NoPiece)
            UpdateQuietCutoff(c, root, m, 0, iteration);
          return bestScore;
        }
        break;
      }
    }
  }
  tt.Store(rootKey, best, bestScore, depth, 0, best ? BoundExact : BoundUpper);
  return bestScore;
}

// The search's own elapsed time: advanced after every search of the root
// moves by the wall-clock time since the previous stamp. It counts from the
// start of the search, the root ordering included.
struct Engine::SearchClock {
  Timer stamp;
  double elapsed = 0.0;

  void Advance() {
    elapsed += stamp.ElapsedMicroseconds();
    stamp.Start();
  }
};

i32 Engine::Think(i32 ponder, bool resetStopReason) {
  SearchClock clock;
  BeginSearch(ponder, clock);
  MovePicker rootList;
  GenerateRootMoves(rootList);
  // Mate or stalemate: nothing to search.
  if (rootMoveCount == 0) {
    listener->OnSearchDone(StopNormal);
    searching = 0;
    return 1;
  }

  i32 maxDepth = MaxIterations;
  Move best = PlayableBookMove(rootList);
  if (best) {
    // A book move is played without searching.
    ClearNodeCounts();
    limits.depthReached = 1;
    if (!pondering) stopReason = StopNormal;
  } else {
    PrepareSearch(resetStopReason, maxDepth);
    OrderRootMoves(rootList);
    best = Deepen(rootList, maxDepth, clock);
    if (stopReason == StopQuit) {
      // Quit or abort: nothing is played.
      searching = 0;
      if (pondering) UndoMove();
      listener->OnSearchDone(stopReason);
      return 1;
    }
  }
  FinishSearch(best, maxDepth);
  return 1;
}

void Engine::BeginSearch(i32 ponder, SearchClock& clock) {
  limits.searchStart.Start();
  // A fresh table whose pages are still being provided is completed first,
  // within this search's time, so that the search itself never waits for a
  // page (the protocols wait for it before "readyok" and "pong" already).
  tt.WaitUntilReady();
  clock.stamp.Start();
  rootSide = board.sideToMove;
  evalRootSide = rootSide;
  pondering = (ponder && ponderEnabled) ? 1 : 0;
  bestMove = 0;
  ponderMove = 0;
  searching = 1;
  // A ponder hit that came after the request but before pondering was set.
  if (ponderHitLatch.exchange(0)) pondering = 0;
  // The pool may have recreated its threads since the last search.
  if (mainContext.thread != pool.mainThread) LinkMainThread();
  mainContext.board = board;
  mainContext.board.owner = mainContext.thread;
}

void Engine::GenerateRootMoves(MovePicker& list) {
  std::memset(&list, 0, sizeof list);
  ScoredMove scratch[MaxMoves];
  const bool inCheck = board.IsAttacked(board.kingSquare[board.sideToMove], board.opponent);
  const i32 count = GenerateMoves(board, scratch, inCheck);
  for (i32 i = 0; i < count; ++i)
    if (LeavesKingSafe(board, scratch[i].move)) list.moves[list.end++] = {scratch[i].move, 0};
  rootMoveCount = static_cast<i32>(list.end);
}

Move Engine::PlayableBookMove(const MovePicker& list) {
  // An infinite search is an analysis, which runs until it is stopped: the
  // book has no say there.
  if (limits.mode == ModeInfinite) return 0;
  const Move m = ProbeBook();
  if (!m) return 0;
  bool isRootMove = false;
  for (u32 i = 0; i < list.end; ++i) isRootMove |= list.moves[i].move == m;
  return isRootMove && LeavesKingSafe(board, m) ? m : 0;
}

void Engine::ClearNodeCounts() {
  mainContext.nodes = 0;
  mainContext.selDepth = 0;
  for (SearchThread* t : pool.threads)
    if (t) t->nodes = 0;
}

void Engine::PrepareSearch(bool resetStopReason, i32& maxDepth) {
  // Fresh counters and move-ordering tables.
  ClearNodeCounts();
  for (SearchThread* t : pool.threads)
    if (t) std::memset(t->history, 0, sizeof t->history);
  for (SearchThread* t : pool.threads)
    if (t) std::memset(t->killers, 0, sizeof t->killers);

  limits.pollCounter = 0;
  // A stop that came before the search started stands: the root ordering
  // and the first iteration give way to it at once, and the search answers
  // with the first root move.
  if (resetStopReason) stopReason = StopNone;
  limits.timeLimit = SearchTimeLimit(limits, board.sideToMove);
  maxDepth = SearchDepthLimit(limits);
  LogSearchLimits(limits, board.sideToMove, maxDepth);
  i32 lines = multiPv;
  if (limits.mode == ModeClock) lines = 1;
  limits.reportProgress = 0;
  ponderMove = 0;
  tt.age = (tt.age + 1) % 32;
  ++limits.searchesThisGame;
  // A ponder hit that came before the search began: the clock sent with it
  // holds from the start, not only from the first time check.
  if (!pondering) TakePonderHitClock();
  if (lines < 1) lines = 1;
  if (lines > MaxRootLines) lines = MaxRootLines;
  lineCount = lines < rootMoveCount ? lines : rootMoveCount;
  for (i32 l = 0; l < lineCount; ++l) {
    rootLines[l].prevScore = rootLines[l].score = 0;
    rootLines[l].depth = rootLines[l].pvLength = 0;
    rootLines[l].unsent = 0;
    rootLines[l].pv[0] = 0;
  }
}

void Engine::OrderRootMoves(MovePicker& list) {
  SearchContext& c = mainContext;
  Board& root = c.board;
  c.rootMoves = &list;
  c.pvLength[0] = 0;
  c.pv[0][0] = 0;
  LoadSearchKeys();
  // Each root move is scored by a quiescence search of the position after it.
  // A move the stop left unscored, or whose search it cut short, goes behind
  // every scored one: a search stopped here answers with the best move found
  // so far, not with a move that nothing has looked at.
  for (u32 i = 0; i < list.end; ++i) {
    const Move m = list.moves[i].move;
    c.PushKey(root.key);
    UndoInfo undo;
    root.MakeMove(m, undo);
    const u8 givesCheck = root.IsAttacked(root.kingSquare[root.sideToMove], root.opponent) ? 1 : 0;
    c.pvLength[1] = 0;
    c.pv[1][0] = 0;
    i32 score = -InfiniteScore;
    if (PollTimeAndInput()) {
      const i32 searched = -c.Quiesce(root, -MateScore, MateScore, -1, 1, 1, givesCheck);
      if (stopReason.load(std::memory_order_relaxed) == StopNone) score = searched;
    }
    list.moves[i].score = score;
    root.UnmakeMove(m, undo);
    c.PopKey();
  }
  SortRootMoves(list);
  ClearNodeCounts();
  LoadSearchKeys();
}

Move Engine::Deepen(MovePicker& list, i32 maxDepth, SearchClock& clock) {
  Move best = 0;
  i32 iteration = 1;
  bool completed = false;
  for (; iteration <= maxDepth; ++iteration) {
    linesDone = 0;
    for (i32 l = 0; l < lineCount; ++l) rootLines[l].prevScore = rootLines[l].score;
    i32 lastScore = 0;
    for (i32 line = 0; line < lineCount; ++line) {
      if (!SearchLine(list, line, iteration, clock, lastScore) || line == lineCount - 1) break;
      excludedMoves[linesDone++] = mainContext.pv[0][0];
    }

    StopWhenDecided(iteration, lastScore, clock.elapsed);

    if (rootLines[0].pvLength > 0) {
      best = rootLines[0].pv[0];
      ponderMove = rootLines[0].pvLength >= 2 ? rootLines[0].pv[1] : 0;
      MoveToFront(list, best);
    }

    if (stopReason != StopNone) {
      // A stopped search answers with the lines as they stand, which the
      // reports so far need not show (lines before the last one of an
      // iteration, a failed window): the interface sees them first, in the
      // order the best move was taken from. A search abandoned without an
      // answer of its own has nothing to add.
      if (stopReason != StopPonder && stopReason != StopQuit)
        ReportLines(LineReport::Unsent, 0, clock.elapsed);
      break;
    }
    if (iteration == maxDepth) {
      stopReason = StopNormal;
      limits.depthReached = maxDepth;
      completed = true;
      break;
    }
  }
  mainContext.rootMoves = nullptr;
  if (stopReason == StopQuit) return best;
  // Stopped before any root move raised alpha: the first of the ordered
  // list is still a legal answer, where no move would be none.
  if (!best && maxDepth >= 1) best = list.moves[0].move;

  // The iteration in which the stop came does not count.
  if (!completed) {
    if (maxDepth < 1) {
      limits.depthReached = 0;
      if (stopReason == StopNone) stopReason = StopNormal;
    } else {
      limits.depthReached = iteration - 1;
    }
  }
  return best;
}

// Clock mode ends after an iteration when more time cannot change the move:
// a single legal move, a mate found, or most of the time spent.
void Engine::StopWhenDecided(i32 iteration, i32 lastScore, double elapsed) {
  if (limits.mode != ModeClock || pondering || stopReason != StopNone) return;
  if (rootMoveCount == 1) stopReason = StopNormal;
  if (iteration >= 6 && (lastScore >= MateBound || lastScore <= -MateBound))
    stopReason = StopNormal;
  if (iteration >= 2 && elapsed > 0.6 * static_cast<double>(limits.timeLimit))
    stopReason = StopNormal;
}

bool Engine::SearchLine(MovePicker& list, i32 line, i32 iteration, SearchClock& clock,
                        i32& lastScore) {
  const SearchContext& c = mainContext;
  AspirationWindow window{-InfiniteScore, InfiniteScore, AspirationStep};
  if (iteration > 5) {
    const i32 centre = rootLines[line].prevScore;
    window.alpha = std::max(centre - AspirationStep, -InfiniteScore);
    window.beta = std::min(centre + AspirationStep, InfiniteScore);
  }

  // Searched again with a wider window until the score falls inside it.
  for (;;) {
    const i32 score = SearchRootMoves(list, iteration, window.alpha, window.beta);
    c.thread->booked = 0;
    clock.Advance();
    lastScore = score;

    if (stopReason != StopNone) {
      // A stopped pass keeps the line it found, if any, with the score the
      // pass found for that line.
      if (c.pvLength[0] > 0) {
        TakeLine(line, iteration, score, WindowBound(window, score));
        ReportLines(LineReport::Finished, line, clock.elapsed);
      }
      return false;
    }

    if (clock.elapsed > ProgressDelay) limits.reportProgress = 1;
    const i32 bound = WidenAspiration(window, score);
    TakeLine(line, iteration, score, bound);
    if (bound == BoundExact) {
      if (c.pvLength[0] > 0) ReportLines(LineReport::Finished, line, clock.elapsed);
      return stopReason == StopNone;
    }
    if (limits.reportProgress || testSuiteMode) ReportLines(LineReport::Failed, line, clock.elapsed);
    if (stopReason != StopNone) return false;
  }
}

// A move to ponder on, the best move's line aside: the table's reply, else
// the first legal one.
void Engine::ChoosePonderMove(Move best) {
  UndoInfo undo;
  board.MakeMove(best, undo);
  if (!board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove)) {
    Move reply = 0;
    i32 score = 0;
    tt.Probe(board.key, 0, 0, -InfiniteScore, InfiniteScore, reply, score);
    if (!reply || !board.IsPseudoLegal(reply) || !LeavesKingSafe(board, reply))
      reply = FirstLegalMove(board);
    ponderMove = reply;
  }
  board.UnmakeMove(best, undo);
}

void Engine::FinishSearch(Move best, i32 maxDepth) {
  if (ponderEnabled && ponderMove == 0 && best) ChoosePonderMove(best);

  // Play the move, or end the ponder search.
  if (!pondering) {
    // An infinite search reports its move without playing it.
    if (best && limits.mode != ModeInfinite) RecordGameMove(best);
    bestMove = best;
  } else {
    pondering = 0;
    if (stopReason == StopPonder) {
      bestMove = best;
      UndoMove();
    } else {
      stopReason = limits.depthReached < maxDepth ? StopPonder : StopPonderDepth;
      UndoMove();
      bestMove = best;
    }
  }

  listener->OnSearchDone(stopReason);
  searching = 0;
}
