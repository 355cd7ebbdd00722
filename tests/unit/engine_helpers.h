// Helpers shared by the engine, search and root-driver tests: an initialised
// engine, a listener that records every report, and fixed-depth searches.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/fen.h"
#include "engine/engine.h"
#include "test_support.h"

// Every event the engine reports, in order, with the arguments the tests read.
struct RecordingListener : EngineListener {
  struct Report {
    std::string kind;  // "depth", "pv", "multipv", "currmove", "done", "text"
    i32 line = 0;
    i32 depth = 0;
    i32 score = 0;
    i32 bound = 0;
    std::vector<Move> pv;
    std::string text;
  };

  void OnSearchDone(i32 stopReason) override {
    Report r;
    r.kind = "done";
    r.score = stopReason;
    reports.push_back(r);
  }
  void OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64, i32, i32 bound,
                double) override {
    Report r;
    r.kind = "pv";
    r.depth = depth;
    r.score = score;
    r.bound = bound;
    r.pv.assign(pv, pv + pvLength);
    reports.push_back(r);
    if (onPv) onPv(r);
  }
  void OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64, i32,
                     i32 bound, double) override {
    Report r;
    r.kind = "multipv";
    r.line = line;
    r.depth = depth;
    r.score = score;
    r.bound = bound;
    r.pv.assign(pv, pv + pvLength);
    reports.push_back(r);
  }
  void OnDepth(i32 depth) override {
    Report r;
    r.kind = "depth";
    r.depth = depth;
    reports.push_back(r);
  }
  void OnCurrMove(Move, i32 number) override {
    Report r;
    r.kind = "currmove";
    r.line = number;
    reports.push_back(r);
  }
  bool PollInput() override {
    ++inputPolls;
    return takesInput;
  }
  void SendText(const char* text) override {
    Report r;
    r.kind = "text";
    r.text = text;
    reports.push_back(r);
  }

  i32 Count(const std::string& kind) const {
    i32 n = 0;
    for (const Report& r : reports) n += r.kind == kind;
    return n;
  }
  std::vector<Report> Of(const std::string& kind) const {
    std::vector<Report> out;
    for (const Report& r : reports)
      if (r.kind == kind) out.push_back(r);
    return out;
  }

  std::vector<Report> reports;
  i32 inputPolls = 0;
  bool takesInput = true;  // what PollInput says it took
  std::function<void(const Report&)> onPv;  // runs on each OnPvInfo
};

// An engine ready to search, with a 1 MB table, reporting to `listener`.
inline std::unique_ptr<Engine> MakeEngine(EngineListener* listener = nullptr) {
  auto engine = std::make_unique<Engine>();
  engine->Init(1);
  if (listener) engine->listener = listener;
  return engine;
}

// Fixed-depth limits: mode 0 to `depth` plies.
inline void SetDepthLimit(Engine& engine, i32 depth) {
  engine.limits.mode = ModeDepth;
  engine.limits.depthLimit = depth;
}

// Sets the game position; fails the test when the FEN is rejected.
inline void SetGamePosition(Engine& engine, const char* fen) {
  ASSERT_TRUE(engine.SetFen(fen)) << fen;
}

// The coordinate text of a move, "e2e4", "e7e8q", castling as the king's
// move onto its rook.
inline std::string CoordinateText(Move m) {
  if (m == 0) return "0000";
  std::string s;
  s += static_cast<char>('a' + FileOf(FromSquare(m)));
  s += static_cast<char>('1' + RankOf(FromSquare(m)));
  s += static_cast<char>('a' + FileOf(ToSquare(m)));
  s += static_cast<char>('1' + RankOf(ToSquare(m)));
  if (PromotionPiece(m)) s += "??nbrq"[PromotionPiece(m)];
  return s;
}

// The FEN of the engine's game board.
inline std::string GameFen(const Engine& engine) {
  char fen[128];
  engine.BoardToFen(engine.board, fen);
  return fen;
}
