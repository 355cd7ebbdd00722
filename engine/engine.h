// The engine: one game in progress and everything a search needs.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/perft.h"
#include "common/timer.h"
#include "common/types.h"
#include "engine/book.h"
#include "engine/eval_settings.h"
#include "engine/listener.h"
#include "engine/search_thread.h"
#include "engine/tt.h"

// Search modes.
constexpr i32 ModeDepth = 0;     // fixed depth
constexpr i32 ModeNodes = 1;     // node count
constexpr i32 ModeMoveTime = 2;  // fixed time per move
constexpr i32 ModeClock = 3;     // clock with moves to go and increments
constexpr i32 ModeInfinite = 4;  // until stopped

// Why a search stops.
constexpr i32 StopNone = 0;
constexpr i32 StopNormal = 1;       // a stop command or an ordinary end
constexpr i32 StopPonder = 2;       // stopped while pondering
constexpr i32 StopQuit = 3;         // quit or abort
constexpr i32 StopPonderDepth = 5;  // a ponder search that reached its depth limit

// Calls of the time poll between two reads of the clock (and, without an
// input thread, two looks at the input). Thread 0 polls at every node, so
// even on the slowest target (ARMv6, a few hundred thousand nodes a second)
// the clock is read every few milliseconds: well inside the margin a search
// leaves on the clock (ClockLessMarginMicroseconds).
constexpr i32 PollPeriodCalls = 1000;

// How long to search; filled by the protocols and the tools before a search.
struct SearchLimits {
  i32 mode = ModeMoveTime;
  u32 timeLimit = 20;             // microseconds allowed for the running search
  Timer searchStart{};            // when the running search started
  i32 pollPeriod = PollPeriodCalls;  // calls of the time poll between two checks
  // Thread 0 writes the counter at every node: it has a cache line of its
  // own, so the other search threads reading the fields around it do not
  // lose theirs each time.
  alignas(64) std::atomic<i32> pollCounter{0};  // also set by "ponderhit" on the command side
  alignas(64) u64 npsLimit = 0;   // nodes-per-second cap of the strength limit; 0: none
  i32 hashMb = 32;                // transposition table size stored by Init
  i32 moveTime = 5000000;         // microseconds, fixed-time mode
  u64 nodeLimit = 2000000;        // node-count mode
  i32 movesToGo = 40;             // clock mode
  i32 increment[2] = {0, 0};      // milliseconds per move, Black first
  i32 searchesThisGame = 0;
  i32 depthLimit = 0;             // plies, fixed-depth mode
  i32 depthCap = 0;               // plies any search but an infinite one may reach; 0: no cap
  i32 baseTime = 0;               // milliseconds a new game's clocks start with
  i32 depthReached = 0;           // plies credited to the last search
  i32 reportProgress = 0;         // set once the search has run long enough to report
  u8 nullMovePruning = 1;
  u8 lateMoveReductions = 1;
  float clock[2] = {0.0f, 0.0f};  // milliseconds left on each clock, Black first
};

// One reported line of the root search; rootLines[0] is the best.
struct RootLine {
  i32 prevScore;  // score at the start of the running iteration
  i32 score;
  i32 depth;      // iteration that produced pv
  i32 pvLength;
  u8 unsent;      // changed since the interface last saw it
  u8 bound;       // the bound it is to be shown with
  Move pv[MaxPly];
};

constexpr i32 MaxRootLines = 32;
constexpr i32 GameKeyStackSize = 256;

// Late-move reductions by [depth in plies][move number], and the move-count
// pruning limits by depth in plies; built by Engine::Init.
extern i32 LmrTable[64][64];
extern i32 LateMovePruningCount[16];

// Draw score in centipawns, set by the protocols.
extern i32 drawScore;
// A node splits only with more remaining depth than this (quarter plies).
extern i32 minSplitDepth;

// The evaluation settings (personality, elo, strengthLimited, evalRootSide)
// are the base part, so the engine itself is what Evaluate reads.
class Engine : public EvalSettings {
 public:
  Engine();
  virtual ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Builds everything a search needs and resets the game; may run again.
  void Init(i32 hashMb);
  // Forgets the game and the search state and clears the learned tables.
  void NewGame();
  // Stops the threads and frees the transposition table.
  void Shutdown();
  // Points the main search context and the game board at search thread 0,
  // whose tables they use; needed again whenever the pool recreates its threads.
  void LinkMainThread();
  // Sets the number of search threads, which the pool holds to 1..64, and
  // logs the number used; the pool is rebuilt only when that number changes,
  // and never during a search.
  void SetThreadCount(i64 threads);

  // The game record. Rejected moves are reported and leave the record as it was.
  bool ParseAndMakeMove(const char* text);
  bool PlayMoveList(const char* text);
  bool UndoMove();
  // A FEN that does not read leaves the game as it was; reason, when given,
  // receives why (null on success).
  bool SetFen(const char* fen, const char** reason = nullptr);
  bool BoardToFen(const Board& position, char* out) const;  // out holds at least 100 bytes
  bool ReportIllegalMove(const char* text);

  // One search of the game position (think.cpp); always returns 1, and
  // listener->OnSearchDone reports its end exactly once, with the stop reason.
  // ponder asks for a ponder search, which it is only while ponderEnabled is
  // set. A position without legal moves ends at once with no move; a book
  // move, when the book has one, is taken without searching (never in an
  // infinite search); otherwise the search runs until its limits, a stop or
  // a quit end it. The result is left in bestMove (0 after a quit), ponderMove
  // and depthReached. The best move is then played on the game board, except
  // by an infinite search, which only reports it, by a ponder search, which
  // takes its guessed move back instead, and after a quit, which plays
  // nothing. A caller that has already cleared stopReason before a stop could
  // arrive passes resetStopReason 0, so that an early stop is not lost: the
  // search then ends at once, with the first root move.
  i32 Think(i32 ponder, bool resetStopReason = true);

  // Strength limit and polling (poll.cpp). The Elo 2700 is full strength:
  // the cap is then that of an active personality's "ReduceSpeed", if any.
  void SetStrengthElo(u32 eloSetting);
  // The nodes-per-second cap of the Elo in force (0 at full strength), and
  // that of the active personality (0 without one).
  u64 StrengthNpsLimit() const;
  u64 PersonalityNpsLimit() const;
  bool PollTimeAndInput();
  // Checks the time limit and the waiting input at once, as at a full poll period.
  bool PollNow();
  // After a ponder hit: the time for the move from the clock given with it,
  // under a clock or a time per move.
  void TakePonderHitClock();

  // Opening book (book.cpp). Why a load failed is logged and, when outcome
  // is given, stored there.
  bool LoadBook(const std::string& fileName, BookLoad* outcome = nullptr);
  void ReleaseBook();
  // A book move for the game position, or 0. Think checks it against the
  // legal root moves before playing it.
  Move ProbeBook();
  // Gives a book's entries their room; throws std::bad_alloc when the
  // memory is not there. Replaced by tests to make that certain.
  static void (*sizeBookEntries)(std::vector<BookEntry>& entries, u32 count);

  Board board{};  // the game position
  TranspositionTable tt;
  SearchContext mainContext;
  i32 gameKeyCount = 0;
  // Keys of the positions before each move played since the last irreversible one.
  u64 gameKeys[GameKeyStackSize]{};
  ThreadPool pool;
  std::vector<UndoInfo> gameHistory;
  std::vector<BookEntry> bookEntries;
  i32 bookCount = 0;
  i32 bookSelectivity = 100;
  u8 useInputThread = 0;
  i32 startMoveNumber = 0;

  // Written by the command side while a search runs and read by every search
  // thread without a lock.
  std::atomic<i32> searching{0};
  std::atomic<i32> stopReason{0};
  std::atomic<Move> bestMove{0};
  std::atomic<Move> ponderMove{0};
  i32 rootSide = 1;
  std::atomic<u8> ponderEnabled{0};
  std::atomic<u8> pondering{0};
  // A ponder hit that reached a requested search before Think had set
  // pondering: Think starts it as an ordinary search.
  std::atomic<u8> ponderHitLatch{0};
  // The clock in milliseconds that the interface gave the engine for the
  // move that hit its ponder search (under a time per move, the smaller of
  // that time and the clock), -1 when none waits: the search takes its time
  // for the move from it at its next time check, or as it starts when the
  // hit came first.
  std::atomic<i32> ponderHitClockMs{-1};

  i32 multiPv = 1;
  i32 rootMoveCount = 0;
  i32 lineCount = 1;
  i32 linesDone = 0;
  Move excludedMoves[MaxRootLines]{};
  RootLine rootLines[MaxRootLines]{};
  SearchLimits limits;
  u8 testSuiteMode = 0;
  u8 bookEnabled = 1;
  i32 bookPlyLimit = 0;
  EngineListener defaultListener;
  EngineListener* listener = &defaultListener;  // not owned
  ToolContext tools{};

 private:
  // The game record: the key stack keeps its newest keys when a run of
  // reversible moves outgrows it.
  void PushGameKey(u64 key);
  void RecordGameMove(Move move);  // plays a legal move into the game
  Move BuildGameMove(i32 from, i32 to, i32 promotion) const;
  bool PlayGameMove(Move move);    // false when not legal; the game is then unchanged

  // Root search (think.cpp), in the order of its steps.
  struct SearchClock;  // the search's own elapsed time
  void BeginSearch(i32 ponder, SearchClock& clock);
  void GenerateRootMoves(MovePicker& list);  // the legal moves, in generation order
  Move PlayableBookMove(const MovePicker& list);  // 0 when the book has none to play
  void ClearNodeCounts();
  // Resets the counters, tables, limits and lines of a search.
  void PrepareSearch(bool resetStopReason, i32& maxDepth);
  void OrderRootMoves(MovePicker& list);
  // Iterative deepening; returns the best move (0 when quitting).
  Move Deepen(MovePicker& list, i32 maxDepth, SearchClock& clock);
  // Searches one line of an iteration until its score falls inside the
  // window; false when the search is to stop.
  bool SearchLine(MovePicker& list, i32 line, i32 iteration, SearchClock& clock, i32& lastScore);
  i32 SearchRootMoves(MovePicker& list, i32 iteration, i32 alpha, i32 beta);
  void StopWhenDecided(i32 iteration, i32 lastScore, double elapsed);
  void LoadSearchKeys();
  // A line takes the pass's score with its bound and, when the pass found
  // one, its principal variation, which the interface has not seen yet.
  void TakeLine(i32 line, i32 iteration, i32 score, i32 bound);
  // Which root lines a report sends, and how it marks them.
  enum class LineReport : u8 {
    Finished,  // a line ended inside its window or was stopped: every line, best first
    Failed,    // a line ended outside its window: every line as it stands, with that bound
    Unsent,    // the lines changed since they were last shown
  };
  // Sends root lines with their scores and bounds; line is the line the pass
  // searched.
  void ReportLines(LineReport which, i32 line, double elapsed);
  void ChoosePonderMove(Move best);
  // Plays the move or ends the ponder search, and reports the end.
  void FinishSearch(Move best, i32 maxDepth);
};

// Microseconds allowed for a search under these limits with this side to
// move: the clock allocation in mode 3, no limit in mode 4, else moveTime.
u32 SearchTimeLimit(const SearchLimits& limits, i32 sideToMove);
// The deepest iteration a search may run under these limits.
i32 SearchDepthLimit(const SearchLimits& limits);
// The clock allocation alone, for a search that searchesBefore searches of
// the game came before.
u32 ClockTimeLimit(const SearchLimits& limits, i32 sideToMove, i32 searchesBefore);
// The most a search may take, in microseconds, of a clock of clockMs
// milliseconds: the clock less a margin for the time checks and the way to
// the interface (a tenth of it, at least 50 ms).
u32 ClockLessMarginMicroseconds(float clockMs);
