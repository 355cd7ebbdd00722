// Per-thread search state: the search context every search routine works on,
// the search threads with their killer, history and pawn-hash tables, the
// split points through which idle threads join a search, and the pool.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "board/board.h"
#include "common/thread.h"
#include "common/types.h"
#include "engine/pawn_hash.h"

class Engine;
class ThreadPool;
class SearchThread;
class TranspositionTable;
struct EvalSettings;
struct MovePicker;
struct SplitPoint;

constexpr i32 KeyStackSize = 256;       // keys of one context's key stack
constexpr i32 MaxSplitPoints = 8;       // open split points per thread
// The range of the pool's thread count. The pool holds every count to it;
// the readers that tell the user of a count outside it (the configuration
// file, the UCI option) hold it to the same bounds.
constexpr i32 MinSearchThreads = 1;
constexpr i32 MaxSearchThreads = 64;
constexpr u32 SearchThreadStackSize = 4u * 1024u * 1024u;

// Node kinds of a split point.
constexpr u8 NodeKindInterior = 0;  // a node of Search or SearchPly1
constexpr u8 NodeKindRoot = 1;      // the root node of Engine::Think

// The search state of one searching thread. Thread 0's is the engine's
// mainContext; a slave builds one on its own stack for each split point it
// joins, which is why slave threads get 4 MiB stacks.
struct SearchContext {
  Engine* engine = nullptr;
  SearchThread* thread = nullptr;
  ThreadPool* pool = nullptr;
  const EvalSettings* personality = nullptr;  // the engine's evaluation settings
  TranspositionTable* tt = nullptr;
  Move (*killers)[2] = nullptr;      // the owning thread's killers [ply][2]
  u16 (*history)[8][64] = nullptr;   // the owning thread's history [side][piece][to]
  Board board{};                     // the working board; thread 0's is the root board
  i32 keyCount = 0;
  // Keys of the game positions since the last irreversible move, then one key
  // per move made in the search (pushed before the move, popped after it).
  u64 keys[KeyStackSize]{};
  u64 nodes = 0;
  i32 selDepth = 0;
  i32 pvLength[MaxPly]{};
  Move pv[MaxPly][MaxPly]{};        // triangular PV table: row p is the line from ply p
  Move currentMove[MaxPly]{};       // move searched at each ply (0 for a null move)
  MovePicker* rootMoves = nullptr;  // the root move list of Engine::Think

  // Alpha-beta search below the root (search.cpp).
  i32 Search(Board& board, i32 alpha, i32 beta, i32 depth, i32 ply, u8 nullAllowed, u8 pvNode,
             u8 inCheck);
  i32 SearchPly1(Board& board, i32 alpha, i32 beta, i32 depth, u8 pvNode, u8 inCheck);

  // Quiescence search (quiesce.cpp).
  i32 Quiesce(Board& board, i32 alpha, i32 beta, i32 depth, i32 ply, u8 pvNode, u8 inCheck);
  i32 QuiesceWithPoll(Board& board, i32 alpha, i32 beta, i32 depth, i32 ply, u8 pvNode,
                      u8 inCheck);
  i32 QuiescePly1(Board& board, i32 alpha, i32 beta, i32 depth, u8 pvNode, u8 inCheck);

  // Offers the node's remaining moves to idle threads (split.cpp). Returns 0
  // when no thread could be booked, 1 when the remaining moves have been
  // searched; then *alphaOut holds the best score and *bestMoveOut the move.
  i32 Split(Board& board, MovePicker* picker, i32 alpha, i32 beta, i32 depth, i32 ply,
            i32 moveCount, u8 inCheck, u8 nodeKind, u8 futilityFlag, i32 futilityBase,
            i32* alphaOut, Move* bestMoveOut);

  // Pushes and pops the key stack. The stack never overflows: searches stay
  // below MaxPly plies and the game part loaded before a search leaves room.
  void PushKey(u64 key) { keys[keyCount++] = key; }
  void PopKey() { --keyCount; }
};

// A node whose remaining moves are shared among threads.
//
// Locks, always taken in this order: the pool's lock, then a split point's
// lock, then a thread's sleepLock. The pool's lock serialises every booking
// and every closing of a split point; a split point's lock guards its picker
// and shared fields and the master's PV row at its ply; a thread's sleepLock
// guards its sleep, and bookers also set booked and activeSplitPoint under it.
// Read without a lock: the engine's stopReason, the cutoff flags along a
// thread's chain, bestScore (an alpha refresh), and the booking hints
// (booked, splitPointCount, slaveMask), which the pool's lock settles.
struct SplitPoint {
  Mutex lock;  // guards the picker and every field below marked shared

  // Set up once by the master before the split point opens.
  SplitPoint* parent = nullptr;        // the master's activeSplitPoint when opened
  SearchThread* master = nullptr;
  Board* board = nullptr;              // the master's board at the node
  MovePicker* picker = nullptr;        // the node's picker, or the root move list
  const i32* masterKeyCount = nullptr; // the master context's key stack
  const u64* masterKeys = nullptr;
  i32* masterPvLength = nullptr;       // the master context's PV rows
  Move (*masterPv)[MaxPly] = nullptr;
  i32 depth = 0;
  i32 ply = 0;
  u8 updatePv = 1;
  u8 inCheck = 0;
  u8 nodeKind = NodeKindInterior;
  u8 futilityFlag = 0;
  i32 futilityBase = 0;
  i32 beta = 0;
  // The master's killer rows from two plies above the node down, as they
  // were when it split: the master goes on writing its own table meanwhile.
  Move killers[MaxPly][2]{};

  // Read without the lock by every thread working below this split point.
  std::atomic<u8> cutoff{0};

  // Shared, under lock.
  i32 moveCount = 0;
  u64 nodes = 0;
  i32 selDepth = 0;
  Move bestMove = 0;               // raised bestScore last; after a cut-off, the refutation
  std::atomic<i32> bestScore{0};  // written under lock; read without it to raise alpha
  std::atomic<u64> slaveMask{0};  // written under lock; bookers and a waiting master read it
  i32 slaveCount = 0;
};

// Threads 1..n-1 run IdleLoop on their own POSIX thread; a thread whose
// creation failed keeps started 0 and must never be booked. Thread 0 is never
// started: its search runs on the caller of Engine::Think.
class SearchThread : public Thread {
 public:
  SearchThread(i32 index, ThreadPool* pool, Engine* engine);
  ~SearchThread() override;

  // The thread body: sleeps until booked for a split point (split.cpp).
  void Run() override;
  // Sleeps and works at split points; returns when stopRequested is set or,
  // with waitFor, when no thread is left working at waitFor.
  void IdleLoop(SplitPoint* waitFor);
  // Sleeps while the pool searches faster than the engine's nodes-per-second cap.
  void LimitNodesPerSecond();

  // Counts one node; only this thread writes the counter, others read it.
  void AddNode() { nodes.store(nodes.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }

  Mutex sleepLock;  // guards the sleep and wake-up
  Condition wakeUp;
  i32 index = 0;
  u64 mask = 0;
  ThreadPool* pool = nullptr;
  Engine* engine = nullptr;
  const EvalSettings* personality = nullptr;
  TranspositionTable* tt = nullptr;
  Move killers[MaxPly][2]{};
  u16 history[2][8][64]{};
  PawnHashEntry* pawnHash = nullptr;  // 64-byte aligned; null when allocation failed
  void* pawnHashAllocation = nullptr;
  i32 pawnHashCount = 0;
  i32 pawnHashMask = 0;
  SplitPoint* activeSplitPoint = nullptr;  // written under the pool's lock
  std::atomic<u8> booked{0};
  std::atomic<i32> splitPointCount{0};     // written under the pool's lock
  SplitPoint splitPoints[MaxSplitPoints];
  i32 npsCounter = 0;
  std::atomic<u64> nodes{0};

  // Allocates the zeroed pawn-hash block; tests replace it to make it fail.
  static void* (*allocateZeroed)(std::size_t bytes);
  // Called, when set, by a helper that was the last to leave a split point
  // of another thread, just before it wakes that master; tests hold the
  // helper there. Null in the engine.
  static void (*lastLeaving)(SearchThread& helper, SearchThread& master);
  // Called, when set, as a thread object begins to be destroyed; tests watch
  // for an object that goes while a held helper still has to wake it. Null
  // in the engine.
  static void (*destroying)(SearchThread& thread);
};

class ThreadPool {
 public:
  ThreadPool();
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Sets the number of threads, held to 1..64, and recreates them when that
  // number changes. Any count is accepted: callers pass what they were given.
  void SetThreadCount(i64 n);
  // Recreates all threads: thread 0 as an object only, 1..n-1 started.
  void CreateThreads();
  // Stops and joins every started thread, then deletes them all.
  void StopAll();

  Mutex lock;  // taken before any split point's lock (see SplitPoint)
  Engine* engine = nullptr;
  SearchThread* mainThread = nullptr;
  std::vector<SearchThread*> threads;
  i32 threadCount = 1;

  // Creates the POSIX threads; tests replace it to make creation fail.
  static int (*createThread)(pthread_t* handle, const pthread_attr_t* attributes,
                             void* (*entry)(void*), void* argument);
};
