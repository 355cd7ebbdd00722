// The strength limit and the periodic checks of search thread 0: time and
// node limits, and waiting input when no input thread reads it.
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/log.h"
#include "engine/engine.h"

namespace {

// Nodes per second allowed at each Elo point; linear in between.
constexpr i32 EloTable[8] = {2000, 2100, 2200, 2300, 2400, 2500, 2600, 2700};
constexpr i32 NpsTable[8] = {150000, 250000, 400000, 600000, 800000, 1000000, 2000000, 6000000};

// The speed limit pauses a thread for one slice, in short steps, so that a
// stop or the end of the search's time ends the pause early.
constexpr u32 SleepSliceMicroseconds = 20000;
constexpr u32 SleepStepMicroseconds = 1000;

// The cap of an Elo from 1000 to 2699.
u64 NpsLimitOfElo(i32 e) {
  if (e < 2000) return 150000;
  for (i32 i = 0; i < 7; ++i) {
    if (EloTable[i] <= e && e < EloTable[i + 1])
      return static_cast<u64>(NpsTable[i] + (e - EloTable[i]) * (NpsTable[i + 1] - NpsTable[i]) /
                                                (EloTable[i + 1] - EloTable[i]));
  }
  return 0;
}

// Microseconds as an unsigned 32-bit count: negative gives 0, beyond the
// range 0xFFFFFFFF.
u32 ClampMicroseconds(double e) {
  if (!(e > 0.0)) return 0;
  if (e >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<u32>(e);
}

// Whether a search with a time limit has used it after elapsed microseconds
// since its start; a ponder search has none.
bool OutOfTime(const Engine& e, double elapsed) {
  if (e.pondering.load(std::memory_order_relaxed)) return false;
  if (e.limits.mode != ModeMoveTime && e.limits.mode != ModeClock) return false;
  return ClampMicroseconds(elapsed) >= e.limits.timeLimit;
}

}  // namespace

void Engine::SetStrengthElo(u32 eloSetting) {
  i32 e = eloSetting < 2700u ? static_cast<i32>(eloSetting) : 2700;
  if (e < 1000) e = 1000;
  elo = e;
  strengthLimited = e <= 2699 ? 1 : 0;
  if (e == 2700) {
    // Full strength: only an active personality's "ReduceSpeed" still caps
    // the speed; an earlier Elo's cap goes.
    limits.npsLimit = PersonalityNpsLimit();
    return;
  }
  gLog.Info("using reduced strength : %d ELO", e);
  limits.npsLimit = NpsLimitOfElo(e);
}

u64 Engine::StrengthNpsLimit() const { return strengthLimited ? NpsLimitOfElo(elo) : 0; }

u64 Engine::PersonalityNpsLimit() const {
  // "ReduceSpeed" is held to 0 and above when the file is read.
  return personality.active && personality.ReduceSpeed > 0
             ? static_cast<u64>(personality.ReduceSpeed)
             : 0;
}

void SearchThread::LimitNodesPerSecond() {
  npsCounter = 0;
  u64 total = 0;
  for (const SearchThread* t : pool->threads)
    if (t) total += t->nodes.load(std::memory_order_relaxed);
  const double elapsed = engine->limits.searchStart.ElapsedMicroseconds();
  const double seconds = (elapsed + 1.0) * 0.000001;
  // At the capped rate the periodic check of thread 0 comes only every few
  // hundred milliseconds, and the clock runs on while a thread waits: thread
  // 0 stops a search whose time is up here, where it has read the clock, and
  // checks the limits after every step of a pause; every thread wakes as soon
  // as the search is stopped.
  if (!(static_cast<double>(total) / seconds > static_cast<double>(engine->limits.npsLimit))) {
    if (index == 0 && OutOfTime(*engine, elapsed)) engine->PollNow();
    return;
  }
  for (u32 slept = 0; slept < SleepSliceMicroseconds; slept += SleepStepMicroseconds) {
    if (engine->stopReason.load(std::memory_order_relaxed) != StopNone) return;
    usleep(SleepStepMicroseconds);
    if (index == 0 && !engine->PollNow()) return;
  }
}

void Engine::TakePonderHitClock() {
  if (ponderHitClockMs.load(std::memory_order_relaxed) < 0) return;
  const i32 clockMs = ponderHitClockMs.exchange(-1);
  if (clockMs < 0) return;
  // The time already spent pondering counts against the new limit, which is
  // measured from the start of the search as before.
  if (limits.mode == ModeMoveTime) {
    // The move's clock less the margin, as a search started on it would have.
    limits.timeLimit = ClockLessMarginMicroseconds(static_cast<float>(clockMs));
    gLog.Info("ponder hit : %u ms for the move (clock %d ms)", limits.timeLimit / 1000, clockMs);
    return;
  }
  if (limits.mode != ModeClock) return;
  // The search ponders the position whose moves to go it was given; its
  // clock is the one the interface has just sent, and the search itself was
  // counted at its start.
  limits.clock[rootSide] = static_cast<float>(clockMs);
  limits.timeLimit = ClockTimeLimit(limits, rootSide, limits.searchesThisGame - 1);
  gLog.Info("ponder hit : %u ms for the move (clock %d ms, %d moves to go)",
            limits.timeLimit / 1000, clockMs, limits.movesToGo);
}

bool Engine::PollNow() {
  limits.pollCounter.store(limits.pollPeriod - 1, std::memory_order_relaxed);
  return PollTimeAndInput();
}

bool Engine::PollTimeAndInput() {
  if (stopReason.load(std::memory_order_relaxed) != StopNone) return false;

  const u32 counter = static_cast<u32>(limits.pollCounter.load(std::memory_order_relaxed)) + 1;
  limits.pollCounter.store(static_cast<i32>(counter), std::memory_order_relaxed);
  const bool nodeMode = !pondering.load(std::memory_order_relaxed) && limits.mode == ModeNodes;

  if (counter < static_cast<u32>(limits.pollPeriod)) {
    // Node limits are exact: thread 0's own count is tested at every call.
    if (nodeMode && mainContext.nodes >= limits.nodeLimit) {
      stopReason = StopNormal;
      return false;
    }
    return true;
  }

  limits.pollCounter.store(0, std::memory_order_relaxed);
  // Acquire: a ponder hit's clock is seen with the hit.
  if (!pondering.load(std::memory_order_acquire)) {
    TakePonderHitClock();
    if (limits.mode == ModeNodes) {
      if (mainContext.nodes >= limits.nodeLimit) {
        stopReason = StopNormal;
        return false;
      }
    } else if (OutOfTime(*this, limits.searchStart.ElapsedMicroseconds())) {
      stopReason = StopNormal;
      return false;
    }
  }

  if (useInputThread) return true;
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(STDIN_FILENO, &readSet);
  timeval zero{0, 0};
  // After a failed select the set says nothing; only a ready descriptor counts.
  if (select(16, &readSet, nullptr, nullptr, &zero) > 0 && FD_ISSET(STDIN_FILENO, &readSet)) {
    // Lines tend to come together (an XBoard move behind its "time" and
    // "otim"): after a line the next call looks again rather than a period
    // later, until nothing waits. A listener that reads nothing (the tools',
    // whose standard input may be a file or at its end, always "ready")
    // keeps the period.
    if (listener->PollInput())
      limits.pollCounter.store(limits.pollPeriod - 1, std::memory_order_relaxed);
    return stopReason.load(std::memory_order_relaxed) == StopNone;
  }
  return true;
}
