// The application object of protocol mode: it owns the engine, the current
// protocol handler, the input thread, the input line buffer and the
// settings, reads and schedules the command lines, runs the searches on the
// main thread and writes every line to the chess interface.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <string>

#include "common/inifile.h"
#include "common/line_reader.h"
#include "common/thread.h"
#include "common/types.h"
#include "protocol/settings.h"

class Engine;
class InputThread;
class ProtocolManager;

// The longest input line: room for the move list of a game of several
// thousand moves. A longer line is refused whole, with a message of the protocol.
constexpr i32 InputLineMax = 64 * 1024;
// Room of the input line buffer: a line and its terminating NUL.
constexpr i32 LineBufferSize = InputLineMax + 1;

// Protocol ids.
constexpr i32 ProtocolNone = 0;  // the chooser waits for "uci" or "xboard"
constexpr i32 ProtocolUci = 1;
constexpr i32 ProtocolXBoard = 2;

// How a command line is scheduled against the searches. A search is busy from
// its request until Think has returned on the main thread. Lines that would
// change what a busy search reads wait in a queue and run, in the order they
// came, once it has ended; everything after a waiting line waits too, so a
// later command always sees the earlier ones in force.
enum class CommandKind : u8 {
  Immediate,  // runs at once whatever else is going on ("quit", "isready")
  Control,    // acts on the busy search ("stop", "ponderhit"); runs at once unless a
              // line that may start a search waits before it (it then belongs to that search)
  InOrder,    // answers in its turn ("ping"): after every line before it, but without
              // waiting for the busy search itself
  Starter,    // may start a search; waits while a search is busy
  Deferred,   // changes the game or the settings; waits while a search is busy
};

// The command side of a protocol.
class ProtocolHandler {
 public:
  virtual ~ProtocolHandler() = default;
  // Makes this handler's listener the engine's listener.
  virtual void Start() = 0;
  // Handles one input line (without its newline); 0 asks to end the program.
  virtual i32 ProcessCommand(const char* line) = 0;
  // How the line is scheduled; called with the manager's lock held.
  virtual CommandKind Classify(const char* line) const = 0;
  // Runs on the main thread when a search has returned, before any other
  // command: completes what a command left for the end of that search.
  virtual void AfterSearch() {}
  // The line has to wait for the busy search (lock held): a line that must
  // not wait behind that search ends it here.
  virtual void LineWaitsLocked(const char*) {}
  // The input has ended while a search is busy (lock held): the search ends
  // as the interface's own stop command would end it, and answers.
  virtual void StopAtEndOfInputLocked();
  // A line longer than InputLineMax, of which start is the beginning, is
  // refused: how that is scheduled, and the refusal, which tells the
  // interface. Before a protocol is chosen it is only logged.
  virtual CommandKind LongLineKind() const { return CommandKind::Immediate; }
  virtual void RefuseLongLine(const char*) {}

  Engine* engine = nullptr;
  ProtocolManager* manager = nullptr;
};

class ProtocolManager {
 public:
  ProtocolManager();
  ~ProtocolManager();
  ProtocolManager(const ProtocolManager&) = delete;
  ProtocolManager& operator=(const ProtocolManager&) = delete;

  // Start-up: reads the configuration file and sets up the log (with its
  // first lines). Returns false when the file was missing.
  bool Configure();

  // Replaces the current handler: 0 the chooser, 1 UCI, 2 XBoard (which are
  // handed their first line at once; the result is that command's).
  i32 SetProtocol(i32 id);

  // Requests a search (1: ponder search); it runs on the main thread.
  i32 StartSearch(i32 ponder);
  void StartSearchLocked(i32 ponder);

  // Stops the busy search, or the requested one as soon as it has started:
  // StopNormal (the search answers with its move) or StopQuit. Lock held.
  void StopSearchLocked(i32 kind);
  // The ponder search becomes an ordinary one. Lock held. Returns true when
  // the caller must poll the engine's limits once after releasing the lock
  // (searches without an input thread).
  bool PonderHitLocked();
  // True from a search request until Think has returned. Lock held.
  bool SearchBusyLocked() const { return searchBusy != 0; }
  // Queues a line to run after the busy search, as if it had arrived now
  // (tooLong: a line to refuse, of which line is the start). Lock held.
  void DeferLocked(const char* line, CommandKind kind, bool tooLong = false);

  // Output to the interface: logged at GUI as ">> %s" and written with a newline.
  void SendLine(const char* text);
  void SendFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Coordinate text of a move list, blank-separated; out holds 6 bytes per move.
  void MovesToString(const Move* moves, i32 count, char* out) const;

  // Protocol mode: line buffer, unbuffered streams, input thread, banner,
  // command loop. Returns when the program must end.
  void RunProtocolMode();
  // Orderly shutdown of the engine, the input thread and the handler.
  void Shutdown();

  // Reads one line from standard input into lineBuffer, without its line end
  // (LF or CR LF) and the blanks around it: 1 a line, 0 end of input (or a
  // line that never ends), -1 a line longer than InputLineMax (consumed
  // whole; lineBuffer holds its start).
  i32 ReadLine();
  // Hands on what ReadLine returned: a line, a line to refuse, or the end of
  // the input.
  void HandleRead(i32 read);
  // Logs one line read from standard input and runs or queues it; a line
  // too long (tooLong, line being its start) is refused in its turn.
  void HandleInputLine(const char* line, bool tooLong = false);
  // End of standard input: a busy search ends and answers, then the program
  // ends as on "quit".
  void HandleEndOfInput();
  // Runs lines that wait for the engine until the quit flag is set:
  // requested searches, queued commands and, without an input thread, the
  // lines read from standard input.
  void RunCommandLoop();
  // Sets the quit flag and wakes the main thread.
  void SetQuit();

  Engine* engine = nullptr;
  ProtocolHandler* protocol = nullptr;
  InputThread* inputThread = nullptr;
  Mutex lock;                          // guards the hand-over fields below
  Condition wakeUp;                    // the main thread waits on it
  std::atomic<u8> searchPending{0};    // a search request waits for the main thread
  i32 searchRequestPonder = 0;         // that request's argument for Think
  char* lineBuffer = nullptr;          // the one input buffer, LineBufferSize bytes
  LineReader input{stdin, "standard input", false};  // reads lineBuffer's lines
  i32 protocolId = ProtocolNone;
  std::atomic<u8> quit{0};             // ends the command loop; never cleared

  // Protocol state shared by the command side and the listeners, which run
  // on different threads.
  std::atomic<i32> infiniteSearch{0};
  std::atomic<i32> ponderOption{0};
  std::atomic<i32> ponderRequested{0};
  std::atomic<i32> movesPerSession{0};
  std::atomic<i32> movesLeft{0};
  std::atomic<i32> newGamePending{0};
  std::atomic<Move> expectedPonderMove{0};

  Settings settings;
  std::string BookFile;
  std::string PersonalityFile;
  IniFile ini;

  // Search hand-over beyond the request itself, under lock.
  i32 searchBusy = 0;          // a search is requested or running
  u8 ponderSearchOpen = 0;     // the newest ponder search has not reported its end
  i32 ponderReply = 0;         // what reached it meanwhile: 0 nothing, 1 hit or answer, 2 miss
  // An answer is held for the interface: that of a ponder or infinite search
  // that ended before it was asked for, or of a "go" on a refused position
  // that must wait in the same way.
  u8 answerHeld = 0;
  i32 exitStatus = 0;          // the program's exit status
  u8 endOfInput = 0;           // the input has ended; the program ends after the busy search

  // Test hooks, empty in the program. searchEndHook runs on the main thread
  // once the work left for the end of a search is done, before the search is
  // marked finished; commandWaitHook runs on a command's thread when the
  // command finds another one (or that end-of-search work) in progress,
  // before it waits for its turn.
  std::function<void()> searchEndHook;
  std::function<void()> commandWaitHook;

 private:
  struct QueuedLine {
    std::string text;
    CommandKind kind;
    bool tooLong;  // text is the start of a line to refuse
  };
  // Runs one line through the current handler, or has it refuse a line too
  // long (serialized with the input thread's commands), and sets the quit
  // flag on a result of 0.
  void RunCommand(const char* line, bool tooLong = false);
  bool LaunchInputThread();

  std::deque<QueuedLine> queue;  // lines waiting for the busy search, under lock
  i32 queuedStarters = 0;        // queued lines that may start a search, under lock
  Mutex commandLock;             // one command at a time when the input thread runs
  u8 threadedInput = 0;          // the input thread reads standard input
};
