// What the fuzz targets do with one input, shared by the libFuzzer targets
// (tests/fuzz/*_fuzz.cpp, built by scripts/fuzz.sh) and the randomized unit
// test, which runs the same code under the sanitizer build of every CI run.
// A failed check aborts, which both report as a crash.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/movegen.h"
#include "board/perft.h"
#include "engine/engine.h"
#include "engine/evaluate.h"
#include "protocol/protocol_manager.h"
#include "tools/book_builder.h"
#include "tools/check_fen_suite.h"
#include "tools/pgn_reader.h"

#define FUZZ_CHECK(condition)                                                         \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace fuzz {

// Every search the targets run is held to this many nodes: a depth limit
// alone can take seconds on a crafted position (the root ordering's
// quiescence searches of "rnbqkbnr/pppppppp/PRPPPPPP/RNBQKBNR w KQkq - 0 1"
// take longer than any timeout), and a bound in nodes gives the same work on
// every machine, under the sanitizers and under emulation alike.
constexpr u64 SearchNodeLimit = 2000;

// Bounds a search requested by an input: nodes, never time or depth alone,
// one thread's worth of work, no strength limit.
inline void BoundSearch(Engine& engine) {
  engine.limits.mode = ModeNodes;
  engine.limits.nodeLimit = SearchNodeLimit;
  engine.limits.npsLimit = 0;
}

inline std::string TextOf(const u8* data, size_t size, size_t limit) {
  return std::string(reinterpret_cast<const char*>(data), size < limit ? size : limit);
}

// The engine the FEN target searches with: built once, 1 MB table.
inline Engine& SharedEngine() {
  static Engine* engine = [] {
    Engine* e = new Engine();
    e->Init(1);
    e->NewGame();
    return e;
  }();
  return *engine;
}

// FEN text: the FEN check (which must agree with the engine), the parser, the board built from it with every
// move made and taken back, the engine's own FEN round trip, the evaluation
// and a shallow search.
inline void FenInput(const u8* data, size_t size) {
  const std::string text = TextOf(data, size, 600);
  const char* fen = text.c_str();  // stops at the first NUL, as every caller's text does
  const bool checkedValid = CheckFenLine(fen) == nullptr;

  Engine& engine = SharedEngine();
  i8 pieces[64];
  i32 side, rights, epFile, fullmove, halfmove, rookFiles[4], consumed;
  if (!ParseFen(fen, pieces, &side, &rights, &epFile, &fullmove, &halfmove, rookFiles, &consumed)) {
    FUZZ_CHECK(!checkedValid);
    return;
  }
  FUZZ_CHECK(consumed >= 0 && static_cast<size_t>(consumed) <= std::strlen(fen));
  Board board{};
  board.SetPosition(pieces, side, static_cast<u8>(rights), static_cast<u8>(epFile),
                    static_cast<u8>(halfmove));
  FUZZ_CHECK(board.IsConsistent());
  // A king the side to move could take: every entry point refuses it.
  if (board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove)) {
    FUZZ_CHECK(!engine.SetFen(fen));
    FUZZ_CHECK(!checkedValid);
    return;
  }
  FUZZ_CHECK(checkedValid);

  ScoredMove list[MaxMoves];
  const i32 count = GenerateMoves(board, list, board.InCheck());
  FUZZ_CHECK(count >= 0 && count <= MaxMoves);
  for (i32 i = 0; i < count; ++i) {
    const Move move = list[i].move;
    const Board before = board;
    board.StaticExchange(move);
    UndoInfo undo;
    board.MakeMove(move, undo);
    FUZZ_CHECK(board.IsConsistent());
    board.UnmakeMove(move, undo);
    FUZZ_CHECK(board.key == before.key && board.pawnKey == before.pawnKey);
    FUZZ_CHECK(std::memcmp(board.squares, before.squares, sizeof board.squares) == 0);
  }
  ToolContext context{};
  context.board = &board;
  PerftRecursive(context, 2);

  FUZZ_CHECK(engine.SetFen(fen));
  char written[128];
  engine.BoardToFen(engine.board, written);
  const u64 key = engine.board.key;
  FUZZ_CHECK(engine.SetFen(written));
  FUZZ_CHECK(engine.board.key == key);
  EvaluateLazy(engine, engine.board, -MateScore, MateScore);
  engine.tt.Clear();
  BoundSearch(engine);
  engine.Think(0);
}

// Checks every move the reader replays.
class CheckingReader : public PgnReader {
 public:
  void OnMove(PgnParser& parser, const MoveToken& token, Move, const char*) override {
    FUZZ_CHECK(parser.board->IsConsistent());
    FUZZ_CHECK(std::strlen(token.text) < sizeof token.text);
  }
  void OnTag(PgnParser&, const char* name, const char* value) override {
    FUZZ_CHECK(name != nullptr && value != nullptr);
  }
};

// A file name of this process's own. Formatted by the C library, which is not
// instrumented: the number of digits of the process id must not change the
// coverage the fuzzer sees, or the same seed would not give the same runs.
inline std::string ScratchFile(const char* suffix) {
  const char* base = std::getenv("TMPDIR");
  char name[64];
  std::snprintf(name, sizeof name, "/zorvel-fuzz-%d%s", static_cast<int>(getpid()), suffix);
  return std::string(base && *base ? base : "/tmp") + name;
}

// PGN text: read whole by the reader with checking hooks, or by the book
// builder, whose book is then loaded and probed by the engine.
inline void PgnInput(const u8* data, size_t size) {
  if (size == 0) return;
  // The builder's table is large and slow to set up: one input in sixteen
  // goes through it.
  const bool buildBook = (data[0] & 15) == 1;
  const std::string pgnFile = ScratchFile(".pgn");
  std::FILE* file = std::fopen(pgnFile.c_str(), "wb");
  if (!file) return;
  std::fwrite(data + 1, 1, size - 1, file);
  std::fclose(file);

  InitAttackTables();
  if (!buildBook) {
    Board board{};
    board.SetStartPosition();
    CheckingReader reader;
    PgnParser parser(pgnFile, 0, &board, &reader);
    FUZZ_CHECK(parser.Read() == 1);
  } else {
    const std::string bookFile = ScratchFile(".bin");
    bool written = false;
    FUZZ_CHECK(RunBuildBook(pgnFile.c_str(), bookFile.c_str(), 12, 1, &written) == 1);
    Engine& engine = SharedEngine();
    if (engine.LoadBook(bookFile)) {
      std::srand(1);  // loading seeds the book choice with the time of day
      engine.NewGame();
      engine.ProbeBook();
    }
    engine.ReleaseBook();
    std::remove(bookFile.c_str());
  }
  std::remove(pgnFile.c_str());
}

// Lines the protocol target leaves out: they would only make the run slow,
// reach outside the process (huge tables, deep counts, device files) or make
// it depend on the scheduler (more than one search thread), not exercise
// other code.
inline bool SkipProtocolLine(const std::string& line) {
  auto numberAfter = [&](const char* word) -> long {
    const size_t at = line.find(word);
    if (at == std::string::npos) return -1;
    const char* p = line.c_str() + at + std::strlen(word);
    while (*p && (*p < '0' || *p > '9')) ++p;
    return *p ? std::strtol(p, nullptr, 10) : 0;
  };
  if (numberAfter("Hash") > 16 || numberAfter("Threads") > 1) return true;
  if (line.compare(0, 5, "perft") == 0 || line.compare(0, 6, "divide") == 0) {
    const size_t blank = line.find(' ');
    if (blank != std::string::npos && std::strtol(line.c_str() + blank + 1, nullptr, 10) > 2)
      return true;
  }
  return line.find('/') != std::string::npos && line.find("File") != std::string::npos;
}

// A protocol dialogue: the first byte picks UCI or XBoard, the rest is split
// into command lines. A requested search runs at once, bounded in nodes; a
// ponder search would ignore that bound until a "ponderhit", so it runs as
// an ordinary one.
inline void ProtocolInput(const u8* data, size_t size) {
  static ProtocolManager* manager = [] {
    ProtocolManager* m = new ProtocolManager();
    m->settings.Hash = 1;
    m->engine = new Engine();
    // The dialogue's lines come from the input given, never from standard
    // input: the search's time poll leaves that alone.
    m->engine->useInputThread = 1;
    m->SetProtocol(ProtocolNone);
    return m;
  }();
  if (size == 0) return;
  manager->lock.Lock();
  manager->searchPending = 0;
  manager->searchBusy = 0;
  manager->lock.Unlock();
  manager->settings.MaxThreads = 1;
  manager->SetProtocol((data[0] & 1) ? ProtocolXBoard : ProtocolUci);

  const std::string text = TextOf(data + 1, size - 1, 1 << 16);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line = line.substr(0, std::strlen(line.c_str()));  // a NUL ends the line, as in fgets
    if (line.empty() || line.size() >= static_cast<size_t>(LineBufferSize) ||
        SkipProtocolLine(line))
      continue;
    if (manager->protocol->ProcessCommand(line.c_str()) == 0) break;
    Engine& engine = *manager->engine;
    for (int searches = 0; searches < 4 && manager->searchPending; ++searches) {
      manager->searchPending = 0;
      BoundSearch(engine);
      engine.Think(0, false);
      manager->protocol->AfterSearch();
    }
    manager->searchPending = 0;
    manager->searchBusy = 0;
  }
  manager->engine->Shutdown();
}

}  // namespace fuzz
