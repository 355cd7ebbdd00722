// Helpers of the protocol dialogues: an engine started in a working directory
// of its own with its own "zorvel.ini", and a game replayed with the board
// code to check that every move the engine names is legal.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "board/board.h"
#include "e2e/engine_process.h"

// The lines of a "zorvel.ini" for the tests: small hash, the input thread as
// asked, plus any further lines.
std::string TestIni(int useInputThread, const std::string& extraLines = "");

// A temporary working directory with the engine running in it.
class Session {
 public:
  // Writes the configuration (unless it is empty) and starts the engine, with
  // its standard error in errorFile when one is named.
  explicit Session(const std::string& ini, const std::vector<std::string>& args = {},
                   const std::string& errorFile = "");
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  EngineProcess& engine() { return *process_; }
  TempDir& dir() { return dir_; }

  void Send(const std::string& line) { process_->Send(line); }
  std::string WaitFor(const std::string& prefix, int nativeMs = 5000) {
    return process_->WaitFor(prefix, ScaledTimeout(nativeMs));
  }
  // Sends "quit" and returns the exit status.
  int Quit();
  // "uci" up to "uciok"; false when it did not come.
  bool StartUci();
  // "xboard", "protover 2" up to "feature done=1".
  bool StartXBoard();
  // Sends "isready" and waits for "readyok".
  bool Sync();

 private:
  TempDir dir_;
  std::unique_ptr<EngineProcess> process_;
};

// A game replayed on the engine's own board code.
class GameTracker {
 public:
  // The start position, or the FEN.
  explicit GameTracker(const std::string& fen = "");

  // Coordinate texts of the legal moves (castling as the king's two-square
  // move, or as the king taking its own rook when board.chess960 is set).
  std::vector<std::string> LegalMoves() const;
  bool IsLegal(const std::string& move) const;
  // Plays a legal move; false (and nothing played) otherwise.
  bool Play(const std::string& move);
  // The move word of a legal move text, 0 when it is not one.
  Move MoveWord(const std::string& move) const;

  Board board{};
};

// The word after "bestmove " or "move ", or "" when the line has none.
std::string MoveOfLine(const std::string& line);

// Splits a line at blanks.
std::vector<std::string> Words(const std::string& line);

// Little-endian bytes of an opening-book file with the given records.
struct BookRecord {
  u64 key;
  Move move;
  u16 count;
  u16 points;
};
std::string BookFileBytes(const std::vector<BookRecord>& records, u32 announcedCount);
