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

// Microseconds since the search started, as an unsigned 32-bit count:
// negative gives 0, beyond the range 0xFFFFFFFF.
u32 ElapsedSinceStart(const Timer& start) {
  const double e = start.ElapsedMicroseconds();
  if (!(e > 0.0)) return 0;
  if (e >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<u32>(e);
}

}  // namespace

void Engine::SetStrengthElo(u32 eloSetting) {
  i32 e = eloSetting < 2700u ? static_cast<i32>(eloSetting) : 2700;
  if (e < 1000) e = 1000;
  elo = e;
  strengthLimited = e <= 2699 ? 1 : 0;
  // Full strength keeps a cap that may come from elsewhere (ReduceSpeed).
  if (e == 2700) return;
  gLog.Info("using reduced strength : %d ELO", e);
  if (e < 2000) {
    limits.npsLimit = 150000;
    return;
  }
  for (i32 i = 0; i < 7; ++i) {
    if (EloTable[i] <= e && e < EloTable[i + 1]) {
      limits.npsLimit = static_cast<u64>(NpsTable[i] + (e - EloTable[i]) *
                                                           (NpsTable[i + 1] - NpsTable[i]) /
                                                           (EloTable[i + 1] - EloTable[i]));
      return;
    }
  }
}

void SearchThread::LimitNodesPerSecond() {
  npsCounter = 0;
  u64 total = 0;
  for (const SearchThread* t : pool->threads)
    if (t) total += t->nodes.load(std::memory_order_relaxed);
  const double seconds = (engine->limits.searchStart.ElapsedMicroseconds() + 1.0) * 0.000001;
  if (static_cast<double>(total) / seconds > static_cast<double>(engine->limits.npsLimit))
    usleep(20000);
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
  if (!pondering.load(std::memory_order_relaxed)) {
    if (limits.mode == ModeNodes) {
      if (mainContext.nodes >= limits.nodeLimit) {
        stopReason = StopNormal;
        return false;
      }
    } else if (limits.mode == ModeMoveTime || limits.mode == ModeClock) {
      if (ElapsedSinceStart(limits.searchStart) >= limits.timeLimit) {
        stopReason = StopNormal;
        return false;
      }
    }
  }

  if (useInputThread) return true;
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(STDIN_FILENO, &readSet);
  timeval zero{0, 0};
  // After a failed select the set says nothing; only a ready descriptor counts.
  if (select(16, &readSet, nullptr, nullptr, &zero) > 0 && FD_ISSET(STDIN_FILENO, &readSet)) {
    listener->PollInput();
    return stopReason.load(std::memory_order_relaxed) == StopNone;
  }
  return true;
}
