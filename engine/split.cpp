// Split points: young brothers wait. A thread that has searched the first
// move of a node deep enough offers the remaining moves to idle threads; they
// take moves from the node's picker one at a time under the split point's
// lock until the moves run out or one fails high. The master helps like any
// slave and then waits for the last one, meanwhile helping at split points
// its own slaves open below it. The lock order is written down at SplitPoint.
#include <pthread.h>
#include <sys/time.h>

#include <cstring>

#include "board/movepicker.h"
#include "engine/engine.h"
#include "engine/search_internal.h"

namespace {

constexpr auto Relaxed = std::memory_order_relaxed;

// How long thread 0 sleeps between looks at the clock and the input while it
// waits for its slaves: nobody else checks the limits.
constexpr long WatchIntervalMicroseconds = 5000;

inline i32 Max(i32 a, i32 b) { return a > b ? a : b; }

// Thread t may join a split point of master: it is idle, or it waits for its
// own slaves and master is one of them (it may help only those). A thread
// that never started never runs; thread 0 is never started but runs on the
// caller of Engine::Think, and waits as a master only there. Lockless, this
// is a hint; under the pool's lock it decides.
bool CanJoin(const SearchThread* t, const SearchThread* master) {
  // Acquire: pairs with the release of a thread leaving a split point, after
  // which its booker may write its activeSplitPoint.
  if (t == master || t->booked.load(std::memory_order_acquire)) return false;
  const i32 open = t->splitPointCount.load(Relaxed);
  if (open == 0) return t->started && !t->StopRequested();
  return (t->splitPoints[open - 1].slaveMask.load(Relaxed) & master->mask) != 0;
}

// The line m followed by the slave's line below it becomes the master's PV
// row at ply. Called under the split point's lock.
void WriteMasterPv(SplitPoint& sp, const SearchContext& c, i32 ply, Move m) {
  const i32 below = c.pvLength[ply + 1] < MaxPly - 1 ? c.pvLength[ply + 1] : MaxPly - 1;
  Move* row = sp.masterPv[ply];
  row[0] = m;
  std::memcpy(row + 1, c.pv[ply + 1], sizeof(Move) * below);
  sp.masterPvLength[ply] = below + 1 < MaxPly - 1 ? below + 1 : MaxPly - 1;
}

// The move loop of a node of Search at a split point. Entered and left with
// sp.lock held; the moves are searched without it.
void SearchInteriorMoves(SearchThread& self, SearchContext& c, SplitPoint& sp) {
  Board& b = c.board;
  const i32 d = sp.depth;
  const i32 p = sp.ply;
  const i32 dp = d / 4;
  const i32 beta = sp.beta;
  const u64 nodeKey = b.key;
  const bool reductions = self.engine->limits.lateMoveReductions != 0;
  i32 alpha = sp.bestScore.load(Relaxed);
  i32 m0 = sp.moveCount;
  c.pvLength[p] = 0;
  c.pv[p][0] = 0;

  ScoredMove next;
  i32 stage;
  while ((stage = sp.picker->Next(b, next)) != 0) {
    const Move m = next.move;
    UndoInfo undo;
    b.MakeMove(m, undo);
    if (b.IsAttacked(b.kingSquare[b.opponent], b.sideToMove)) {
      b.UnmakeMove(m, undo);
      continue;
    }
    c.currentMove[p] = m;
    c.PushKey(nodeKey);
    ++c.nodes;
    self.AddNode();
    const i32 n = ++sp.moveCount;
    alpha = Max(alpha, sp.bestScore.load(Relaxed));
    sp.lock.Unlock();

    const u8 givesCheck = b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent) ? 1 : 0;
    const bool pawnPush = IsSeventhRankPush(m);
    const i32 extension = (givesCheck || pawnPush) ? 4 : 0;
    const bool reducible = !givesCheck && !pawnPush;

    // Futility only; a split point prunes no move by its number.
    if (sp.futilityFlag && m0 > 0 && reducible && IsQuiet(m) && sp.futilityBase <= alpha) {
      b.UnmakeMove(m, undo);
      c.PopKey();
      m0 = n;
      sp.lock.Lock();
      continue;
    }

    alpha = Max(alpha, sp.bestScore.load(Relaxed));
    i32 score;
    if (reductions && m0 > 3 && d > 11 && !sp.inCheck && reducible && stage == StageQuiets) {
      const i32 row = dp < 63 ? dp : 63;
      const i32 column = n < 63 ? n : 63;
      i32 r = d - 4 - 4 * LmrTable[row][column];
      if (r < 4) r = 4;
      score = -c.Search(b, -alpha - 1, -alpha, r, p + 1, 1, 0, 0);
    } else {
      score = alpha + 1;
    }
    const i32 nd = d + extension - 4;
    if (score > alpha) {
      score = nd <= 3 ? -c.QuiesceWithPoll(b, -alpha - 1, -alpha, 0, p + 1, 0, givesCheck)
                      : -c.Search(b, -alpha - 1, -alpha, nd, p + 1, 1, 0, givesCheck);
      if (score > alpha && score < beta) {
        alpha = Max(alpha, sp.bestScore.load(Relaxed));
        score = nd <= 3 ? -c.QuiesceWithPoll(b, -beta, -alpha, 0, p + 1, 1, givesCheck)
                        : -c.Search(b, -beta, -alpha, nd, p + 1, 1, 1, givesCheck);
      }
    }
    b.UnmakeMove(m, undo);
    c.PopKey();

    sp.lock.Lock();
    if (MustUnwind(c)) return;
    alpha = Max(alpha, sp.bestScore.load(Relaxed));
    m0 = sp.moveCount;
    if (score > alpha) {
      if (score >= beta) {
        sp.bestMove = m;
        sp.bestScore.store(score, Relaxed);
        sp.cutoff.store(1, Relaxed);
        return;
      }
      WriteMasterPv(sp, c, p, m);
      sp.bestMove = m;
      sp.bestScore.store(score, Relaxed);
      alpha = score;
    }
  }
}

// The move loop of the root at a split point; root moves are legal and are
// neither pruned nor reduced. Entered and left with sp.lock held.
void SearchRootMovesAt(SearchThread& self, SearchContext& c, SplitPoint& sp) {
  Engine& e = *self.engine;
  Board& b = c.board;
  const MovePicker& list = *sp.picker;
  const i32 count = static_cast<i32>(list.end);
  const i32 d = sp.depth;
  const i32 beta = sp.beta;
  const u64 rootKey = b.key;
  i32 alpha = sp.bestScore.load(Relaxed);
  c.pvLength[0] = 0;
  c.pv[0][0] = 0;

  while (sp.moveCount < count) {
    const Move m = list.moves[sp.moveCount].move;
    // The first moves of the lines already finished in this iteration.
    if (e.multiPv > 1) {
      bool excluded = false;
      for (i32 k = 0; k < e.linesDone; ++k) excluded |= e.excludedMoves[k] == m;
      if (excluded) {
        ++sp.moveCount;
        continue;
      }
    }
    c.PushKey(rootKey);
    UndoInfo undo;
    b.MakeMove(m, undo);
    c.currentMove[0] = m;
    ++c.nodes;
    self.AddNode();
    const i32 n = ++sp.moveCount;
    alpha = Max(alpha, sp.bestScore.load(Relaxed));
    // Under the lock, so that the slaves' reports come one at a time.
    if (e.limits.reportProgress) e.listener->OnCurrMove(m, n);
    sp.lock.Unlock();

    const u8 givesCheck = b.IsAttacked(b.kingSquare[b.sideToMove], b.opponent) ? 1 : 0;
    const i32 extension = (givesCheck || IsSeventhRankPush(m)) ? 4 : 0;
    const i32 nd = d + extension - 4;
    alpha = Max(alpha, sp.bestScore.load(Relaxed));
    i32 score = nd <= 3 ? -c.QuiescePly1(b, -alpha - 1, -alpha, 0, 0, givesCheck)
                        : -c.SearchPly1(b, -alpha - 1, -alpha, nd, 0, givesCheck);
    if (score > alpha && score < beta) {
      alpha = Max(alpha, sp.bestScore.load(Relaxed));
      score = nd <= 3 ? -c.QuiescePly1(b, -beta, -alpha, 0, 1, givesCheck)
                      : -c.SearchPly1(b, -beta, -alpha, nd, 1, givesCheck);
    }
    b.UnmakeMove(m, undo);
    c.PopKey();

    sp.lock.Lock();
    if (MustUnwind(c)) return;
    alpha = Max(alpha, sp.bestScore.load(Relaxed));
    if (score > alpha) {
      WriteMasterPv(sp, c, 0, m);
      if (score >= beta) {
        sp.bestScore.store(score, Relaxed);
        sp.cutoff.store(1, Relaxed);
        return;
      }
      sp.bestMove = m;
      sp.bestScore.store(score, Relaxed);
      alpha = score;
    }
  }
}

// Searches at sp with a context of this thread's own, then leaves it and
// wakes the master when the last helper is gone.
void WorkAt(SearchThread& self, SplitPoint& sp) {
  // A fresh context on this thread's stack (about 70 KB): the board, the key
  // stack and the killer rows the node needs, nothing of the master's else.
  SearchContext c;
  c.engine = self.engine;
  c.thread = &self;
  c.pool = self.pool;
  c.personality = self.personality;
  c.tt = self.tt;
  c.killers = self.killers;
  c.history = self.history;
  c.board = *sp.board;
  c.board.owner = &self;
  c.keyCount = *sp.masterKeyCount;
  std::memcpy(c.keys, sp.masterKeys, sizeof(u64) * static_cast<std::size_t>(c.keyCount));
  const i32 firstRow = sp.ply >= 2 ? sp.ply - 2 : 0;
  std::memcpy(self.killers[firstRow], sp.killers[firstRow],
              sizeof(sp.killers[0]) * static_cast<std::size_t>(MaxPly - firstRow));

  sp.lock.Lock();
  if (sp.nodeKind == NodeKindRoot)
    SearchRootMovesAt(self, c, sp);
  else
    SearchInteriorMoves(self, c, sp);

  // Release: everything this thread did at sp, its reads of its own
  // activeSplitPoint included, comes before a new booking.
  self.booked.store(0, std::memory_order_release);
  sp.nodes += c.nodes;
  if (sp.selDepth < c.selDepth) sp.selDepth = c.selDepth;
  const u64 left = sp.slaveMask.load(Relaxed) & ~self.mask;
  sp.slaveMask.store(left, Relaxed);
  --sp.slaveCount;
  SearchThread* const master = sp.master;
  sp.lock.Unlock();
  // The master tests the mask under its sleepLock before it waits, so this
  // wake-up, made outside the split point's lock, is not lost.
  if (left == 0 && master != &self) {
    if (SearchThread::lastLeaving) SearchThread::lastLeaving(self, *master);
    master->sleepLock.Lock();
    master->wakeUp.Signal();
    master->sleepLock.Unlock();
  }
}

}  // namespace

bool HelperAvailable(const SearchContext& c) {
  for (const SearchThread* t : c.pool->threads)
    if (t && CanJoin(t, c.thread)) return true;
  return false;
}

void SearchThread::Run() { IdleLoop(nullptr); }

void SearchThread::IdleLoop(SplitPoint* waitFor) {
  const bool watchLimits = waitFor && index == 0 && engine;
  for (;;) {
    sleepLock.Lock();
    // Every predicate is tested under sleepLock, and whoever changes one
    // signals under it, so no wake-up is lost. Booked work comes first: a
    // thread that was booked must leave the split point before anything else.
    for (;;) {
      if (booked.load(Relaxed)) break;
      if (waitFor ? waitFor->slaveMask.load(Relaxed) == 0 : StopRequested()) {
        sleepLock.Unlock();
        return;
      }
      if (!watchLimits) {
        wakeUp.Wait(sleepLock);
        continue;
      }
      timeval now;
      gettimeofday(&now, nullptr);
      long usec = now.tv_usec + WatchIntervalMicroseconds;
      timespec deadline;
      deadline.tv_sec = now.tv_sec + usec / 1000000;
      deadline.tv_nsec = (usec % 1000000) * 1000;
      if (pthread_cond_timedwait(&wakeUp.condition, &sleepLock.mutex, &deadline) != 0) {
        sleepLock.Unlock();
        // No other thread checks the time limit and the input.
        engine->PollNow();
        sleepLock.Lock();
      }
    }
    SplitPoint* sp = activeSplitPoint;
    sleepLock.Unlock();
    WorkAt(*this, *sp);
  }
}

i32 SearchContext::Split(Board& b, MovePicker* picker, i32 /*alpha*/, i32 beta, i32 depth,
                         i32 ply, i32 moveCount, u8 inCheck, u8 nodeKind, u8 futilityFlag,
                         i32 futilityBase, i32* alphaOut, Move* bestMoveOut) {
  SearchThread* const self = thread;
  const i32 slot = self->splitPointCount.load(Relaxed);
  SplitPoint& sp = self->splitPoints[slot];

  // 1. The slot is not open yet: filling it needs no lock.
  sp.parent = self->activeSplitPoint;
  sp.master = self;
  sp.board = &b;
  sp.picker = picker;
  sp.masterKeyCount = &keyCount;
  sp.masterKeys = keys;
  sp.masterPvLength = pvLength;
  sp.masterPv = pv;
  sp.depth = depth;
  sp.ply = ply;
  sp.updatePv = 1;
  sp.inCheck = inCheck;
  sp.nodeKind = nodeKind;
  sp.futilityFlag = futilityFlag;
  sp.futilityBase = futilityBase;
  sp.beta = beta;
  sp.cutoff.store(0, Relaxed);
  sp.moveCount = moveCount;
  sp.nodes = 0;
  sp.selDepth = selDepth;
  sp.bestMove = *bestMoveOut;
  sp.bestScore.store(*alphaOut, Relaxed);
  sp.slaveMask.store(self->mask, Relaxed);
  sp.slaveCount = 1;
  const i32 firstRow = ply >= 2 ? ply - 2 : 0;
  std::memcpy(sp.killers[firstRow], killers[firstRow],
              sizeof(sp.killers[0]) * static_cast<std::size_t>(MaxPly - firstRow));

  // 2. Open it.
  ThreadPool& p = *pool;
  p.lock.Lock();
  sp.lock.Lock();
  self->activeSplitPoint = &sp;
  self->splitPointCount.store(slot + 1, Relaxed);
  // The master works at its own split point first; its bit leaves the mask
  // only when it leaves like a slave, so it must count as booked.
  const u8 wasBooked = self->booked.load(Relaxed);
  self->booked.store(1, Relaxed);

  // 3. Book every thread that may join. A thread told to stop may already
  // have left its loop unless it still waits for slaves of its own. The
  // booking is made under the thread's sleepLock, where it looks; the
  // wake-up itself, a system call, waits until the pool's lock is free.
  u64 slaves = self->mask;
  for (SearchThread* t : p.threads) {
    if (!t || !CanJoin(t, self)) continue;
    t->sleepLock.Lock();
    if (t->splitPointCount.load(Relaxed) > 0 || !t->StopRequested()) {
      slaves |= t->mask;
      ++sp.slaveCount;
      t->activeSplitPoint = &sp;
      t->booked.store(1, Relaxed);
    }
    t->sleepLock.Unlock();
  }
  sp.slaveMask.store(slaves, Relaxed);

  // 4. Nobody came: close it again.
  if (sp.slaveCount == 1) {
    self->splitPointCount.store(slot, Relaxed);
    self->activeSplitPoint = sp.parent;
    self->booked.store(wasBooked, Relaxed);
    sp.lock.Unlock();
    p.lock.Unlock();
    return 0;
  }

  // 5. Wake the slaves, search alongside them, then wait for the last. A
  // slave that already saw its booking has no waiter to wake.
  sp.lock.Unlock();
  p.lock.Unlock();
  for (SearchThread* t : p.threads) {
    if (!t || !(slaves & t->mask) || t == self) continue;
    t->sleepLock.Lock();
    t->wakeUp.Signal();
    t->sleepLock.Unlock();
  }
  self->IdleLoop(&sp);

  // 6. Close it.
  p.lock.Lock();
  sp.lock.Lock();
  self->splitPointCount.store(slot, Relaxed);
  self->activeSplitPoint = sp.parent;
  nodes += sp.nodes;
  if (selDepth < sp.selDepth) selDepth = sp.selDepth;
  *alphaOut = sp.bestScore.load(Relaxed);
  *bestMoveOut = sp.bestMove;
  self->booked.store(1, Relaxed);
  sp.lock.Unlock();
  p.lock.Unlock();
  return 1;
}
