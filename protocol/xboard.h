// The XBoard protocol (version 2 with feature negotiation): commands from the
// interface and the engine's reports.
#pragma once

#include <atomic>

#include "engine/listener.h"
#include "protocol/protocol_manager.h"

class XBoardProtocol;

class XBoardListener : public EngineListener {
 public:
  void OnSearchDone(i32 stopReason) override;
  void OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes, i32 selDepth,
                i32 bound, double elapsedMicroseconds) override;
  void OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                     i32 selDepth, i32 bound, double elapsedMicroseconds) override;
  bool PollInput() override;
  void SendText(const char* text) override;

  // The engine's move, then, with pondering on, the guessed reply and the
  // ponder search on it.
  void SendBestMove(i32 stopReason);
  void SendThinking(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                    double elapsedMicroseconds);
  void SendThinkingMultiPv(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                           double elapsedMicroseconds);
  // Resets the game at the end of the search that "new" stopped.
  void RunPendingNewGame();
  // Thinking lines go out: "post" is on and the search is not being
  // abandoned. Called with the manager's lock held.
  bool Posting() const;
  // An analysis search has ended: the time control comes back. True when
  // the search was one.
  bool EndAnalysisSearch();

  XBoardProtocol* protocol = nullptr;
  ProtocolManager* manager = nullptr;
};

class XBoardProtocol : public ProtocolHandler {
 public:
  explicit XBoardProtocol(ProtocolManager* owner);

  void Start() override;
  i32 ProcessCommand(const char* line) override;
  CommandKind Classify(const char* line) const override;
  void AfterSearch() override;
  void LineWaitsLocked(const char* line) override;
  // A line too long is answered with an error in its turn; it changes nothing.
  CommandKind LongLineKind() const override { return CommandKind::InOrder; }
  void RefuseLongLine(const char* start) override;

  // Plays an opponent's move and searches unless the game has ended there.
  // Returns false when the move was rejected.
  bool PlayAndSearch(const char* line, i32 requestedPonder, bool honourForceMode);
  // Number of legal moves of the side to move on the game board.
  i32 CountLegalMoves() const;

  XBoardListener listener;
  i32 protocolVersion = 0;
  std::atomic<i32> opponentMoves{0};  // moves received since "xboard" or "new"
  std::atomic<u8> forceMode{0};       // moves are played without thinking
  std::atomic<u8> goSeen{0};          // "go" has come since "xboard" or "new"
  std::atomic<u8> post{1};            // thinking lines are sent
  char pendingMove[9] = {};           // the opponent's move that reached a ponder search
  // The clocks of "time" (the engine's) and "otim" (the opponent's) in
  // milliseconds, -1 until given; they go to the colours when a search starts.
  std::atomic<i32> engineClockMs{-1};
  std::atomic<i32> opponentClockMs{-1};
  // Analysis mode, from "analyze" to "exit" or "new": the engine analyses the
  // game position without moving, and follows the moves, "undo" and
  // "setboard" that change it.
  std::atomic<u8> analyzing{0};
  // The analysis has to start again on the game position once no search is busy.
  std::atomic<u8> analysisRestart{0};
  // Under the manager's lock: the newest search is an analysis search, and
  // the time control mode that it replaced for its run.
  u8 analysisSearchOpen = 0;
  i32 modeBeforeAnalysis = 0;
  // The time control last given with "level" or "st". It stands for every
  // game until another is given ("new" starts it again), and "sd" then only
  // caps the depth of the timed search.
  enum class TimeControlKind : u8 { None, Level, MoveTime };
  struct TimeControl {
    TimeControlKind kind = TimeControlKind::None;
    i32 movesPerSession = 0;  // "level": moves per session, 0 for the whole game
    float baseMs = 0.0f;      // "level": each clock at the start of the game
    i32 incrementMs = 0;      // "level": added per move
    i32 moveTimeMs = 0;       // "st": the time for each move
  } timeControl;

  // Before a search: gives the engine's clock to the side to move and the
  // opponent's to the other, and the moves left in the session to the search;
  // under "st" the time for the move, less a margin and never beyond the
  // engine's clock.
  void SetClocks();
  // The engine's clock for its next move in milliseconds: the clock sent
  // with "time" (-1 until one is given); under "st" the time per move, or
  // that clock when it holds less.
  i32 MoveClockMs() const;
  // The game and the time control as a new game has them: the start
  // position in standard chess, and the last time control given started
  // again (without one, 40 moves per session).
  void ResetGame();

 private:
  void SetUp();
  void Go();
  void NewGame();
  void Level(const char* arguments);
  // Puts the time control in force on the engine's limits with full clocks.
  void ApplyTimeControl();
  void HandleMove(const char* line);
  // "cores": the number of search threads, held to 1..64.
  void Cores(const char* text);
  // "remove": takes back the last two half-moves.
  void Remove();
  // "variant": standard chess or Chess960.
  void Variant(const char* name);
  void Evaluate();
  // Starts the analysis search when analysis mode asks for one and no
  // search is busy.
  void ResumeAnalysis();
  void LeaveAnalysis();
};

// True when the line begins with a from and a to square ("e2e4...").
bool IsCoordinateMove(const char* line);
// True for a move of the interface: coordinates, or castling as "O-O" or
// "O-O-O" (also with the digit zero).
bool IsMoveText(const char* line);
// The text the engine reads for a move of the interface: castling as "O-O"
// or "O-O-O", any other move unchanged.
const char* MoveTextOf(const char* line);
