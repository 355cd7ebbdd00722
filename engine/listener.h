// The engine's event interface: the one channel through which the engine
// reports to whichever protocol is active.
#pragma once

#include "common/types.h"

class Engine;

class EngineListener {
 public:
  EngineListener() = default;
  virtual ~EngineListener() = default;

  // The search has ended with this stop reason.
  virtual void OnSearchDone(i32 /*stopReason*/) {}
  // The principal variation of the one searched line.
  virtual void OnPvInfo(i32 /*depth*/, i32 /*score*/, const Move* /*pv*/, i32 /*pvLength*/,
                        u64 /*nodes*/, i32 /*selDepth*/, i32 /*bound*/,
                        double /*elapsedMicroseconds*/) {}
  // One of several searched lines (1-based line number).
  virtual void OnMultiPvInfo(i32 /*line*/, i32 /*depth*/, i32 /*score*/, const Move* /*pv*/,
                             i32 /*pvLength*/, u64 /*nodes*/, i32 /*selDepth*/, i32 /*bound*/,
                             double /*elapsedMicroseconds*/) {}
  virtual void OnHashFull(i32 /*permille*/) {}
  // A new iteration depth in plies.
  virtual void OnDepth(i32 /*depth*/) {}
  // Standard input has a line waiting during a search without an input
  // thread; true when a line (or the end of the input) was taken from it.
  virtual bool PollInput() { return false; }
  // A root move is about to be searched (1-based position in the root list).
  virtual void OnCurrMove(Move /*move*/, i32 /*number*/) {}
  virtual void OnDepthZeroScore(i32 /*score*/) {}
  // A text message for the interface (an illegal move).
  virtual void SendText(const char* /*text*/) {}

  Engine* engine = nullptr;  // the engine this listener reports for
  u8 quiet = 0;              // no thinking lines while set
};
