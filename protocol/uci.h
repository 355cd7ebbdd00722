// The UCI protocol: commands from the interface and the engine's reports.
#pragma once

#include <string>

#include "engine/engine.h"
#include "engine/listener.h"
#include "protocol/protocol_manager.h"

class UciProtocol;

class UciListener : public EngineListener {
 public:
  void OnSearchDone(i32 stopReason) override;
  void OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes, i32 selDepth,
                i32 bound, double elapsedMicroseconds) override;
  void OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                     i32 selDepth, i32 bound, double elapsedMicroseconds) override;
  void OnHashFull(i32 permille) override;
  void OnDepth(i32 depth) override;
  bool PollInput() override;
  void OnCurrMove(Move move, i32 number) override;
  void OnDepthZeroScore(i32 score) override;
  void SendText(const char* text) override;

  // "bestmove" with the engine's best move, and its ponder move when asked.
  void SendBestMove(bool withPonder);
  // The "bestmove" line of the moves (0 is "0000") into line of 32 bytes.
  void FormatBestMove(Move best, Move ponder, bool withPonder, char* line) const;
  // Forgets the game at the end of the search it stopped.
  void RunPendingNewGame();

  UciProtocol* protocol = nullptr;
  ProtocolManager* manager = nullptr;

  // Under the manager's lock: the interface has asked the busy search for its
  // answer ("stop", a new game, the end of the input).
  u8 stopAsked = 0;
  // Under the manager's lock, while the manager's answerHeld is set: the
  // answer of a search that ended before the interface asked for it, or of a
  // ponder or infinite "go" on a refused position, and whether that "go" was
  // infinite (only "stop" asks for its answer).
  char heldAnswer[32] = {};
  u8 heldInfinite = 0;
  // The last text sent as "info string": the reason of a refused move.
  std::string lastText;
};

class UciProtocol : public ProtocolHandler {
 public:
  explicit UciProtocol(ProtocolManager* owner);

  void Start() override;
  i32 ProcessCommand(const char* line) override;
  CommandKind Classify(const char* line) const override;
  void AfterSearch() override;
  void LineWaitsLocked(const char* line) override;
  void StopAtEndOfInputLocked() override;
  // A line too long is taken for a "position" of a long game: refused as
  // one, in its turn.
  CommandKind LongLineKind() const override { return CommandKind::Deferred; }
  void RefuseLongLine(const char* start) override;

  // Holds the answer line until the interface asks for it. Lock held.
  void HoldAnswerLocked(const char* line, bool infinite);

  UciListener listener;
  u8 debug = 0;

 private:
  void Go(const char* line);
  void Position(const char* line);
  void PonderHit();
  void Stop();
  // Ends the busy search; a ponder search answers as well (lock held).
  void StopBusySearchLocked();
  // Takes the answer a search holds into line (32 bytes) and clears it; false
  // when there is none, or on "ponderhit" when its search was infinite. Lock held.
  bool TakeHeldAnswerLocked(char* line, bool ponderHit);
  // The position could not be set up: told now, and every "go" until the
  // next complete position answers with this reason and no move.
  void RefusePosition(const std::string& reason, bool tell);
  void NewGame();
  void Identify();
  void SetOption(const char* line);
  // The number of a spin option's value text, held to min..max; a value
  // held, or text that is no whole number (false), is told to the interface.
  bool SpinValue(const char* option, const char* text, i32 min, i32 max, i32* value);
  // Loads the personality file when the option is on, else the built-in
  // weights; problems with the file are told as "info string" lines.
  void SwitchPersonality();
  // The strength the options ask for: the last "UCI_Elo" while
  // "UCI_LimitStrength" is true and no personality is in use, else full.
  void ApplyStrength();
  void Evaluate();
  void ResetGame();

  i32 modeBeforeInfinite = ModeMoveTime;  // the search mode a "go infinite" replaced for its search
  i32 eloOption = 2700;  // the last "UCI_Elo" value, at first the configured one
  u8 limitStrength = 0;  // "UCI_LimitStrength", at first the configured one
  u8 ownBook = 0;        // "OwnBook", at first the configured one: a book is wanted
  std::string refusal;   // why the last "position" was refused; empty when it was set up
};

// The "score" part of an info line: kind ("cp" or "mate") and value.
void UciScore(i32 score, const char** kind, i32* value);
