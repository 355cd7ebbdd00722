#include "protocol/xboard.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/movegen.h"
#include "common/build_info.h"
#include "common/line_reader.h"
#include "common/log.h"
#include "engine/engine.h"
#include "engine/evaluate.h"
#include "protocol/command_number.h"
#include "protocol/engine_setup.h"
#include "tools/perft_tools.h"

namespace {

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool Is(const char* line, const char* word) { return std::strcmp(line, word) == 0; }

// The number after the first blank of the line, held to 32 bits.
i32 Argument(const char* line) {
  const char* blank = std::strchr(line, ' ');
  return blank ? ReadNumber(blank + 1) : 0;
}

// Promotion piece of a coordinate move text (0 when it has none).
i32 PromotionOfText(const char* line) {
  switch (line[4]) {
    case 'q': return Queen;
    case 'r': return Rook;
    case 'b': return Bishop;
    case 'n': return Knight;
    default: return NoPiece;
  }
}

// Whether a move text names the same move as a move word: the squares as the
// engine writes them (castling as the king's move in standard chess, as the
// king taking its own rook in Chess960) and the promotion, or castling
// written "O-O" / "O-O-O" for a castling move on that wing.
bool SameMove(const ProtocolManager& manager, const char* line, Move move) {
  if (line[0] == 'O') {
    const bool isLong = line[3] == '-';
    return IsCastling(move) && (ToSquare(move) < FromSquare(move)) == isLong;
  }
  char text[8];
  manager.MovesToString(&move, 1, text);
  return std::strncmp(text, line, 4) == 0 && PromotionOfText(line) == PromotionPiece(move);
}

// Castling as the interface may write it: "O-O" or "O-O-O", with the letter
// O or the digit zero, optionally followed by a check or mate sign. Returns
// the number of characters of the castling text, 0 for another text.
i32 CastlingTextLength(const char* line) {
  auto isO = [](char c) { return c == 'O' || c == '0'; };
  if (!isO(line[0]) || line[1] != '-' || !isO(line[2])) return 0;
  i32 length = 3;
  if (line[3] == '-' && isO(line[4])) length = 5;
  const char next = line[length];
  if (next == '+' || next == '#') return line[length + 1] == '\0' ? length : 0;
  return next == '\0' ? length : 0;
}

constexpr int PvTextSize = MaxPly * 6 + 8;

// A move may come as "usermove e2e4" too: the command without that word.
const char* WithoutUsermove(const char* line) {
  return StartsWith(line, "usermove ") ? line + 9 : line;
}

// A field of digits alone that fits 31 bits, as a "level" field must be.
bool ReadLevelField(const char* text, u32* value) {
  i64 number = 0;
  if (!ReadWholeNumber(text, NumberSign::None, &number) || number > INT32_MAX) return false;
  *value = static_cast<u32>(number);
  return true;
}

// A clock given in centiseconds, in milliseconds; negative reads as 0.
i32 CentisecondsToMs(i32 centiseconds) {
  if (centiseconds < 0) return 0;
  return centiseconds > INT32_MAX / 10 ? INT32_MAX : centiseconds * 10;
}

}  // namespace

bool IsCoordinateMove(const char* line) {
  return line[0] >= 'a' && line[0] <= 'h' && line[1] >= '1' && line[1] <= '8' &&
         line[2] >= 'a' && line[2] <= 'h' && line[3] >= '1' && line[3] <= '8';
}

bool IsMoveText(const char* line) { return IsCoordinateMove(line) || CastlingTextLength(line) > 0; }

const char* MoveTextOf(const char* line) {
  switch (CastlingTextLength(line)) {
    case 3: return "O-O";
    case 5: return "O-O-O";
    default: return line;
  }
}

XBoardProtocol::XBoardProtocol(ProtocolManager* owner) {
  manager = owner;
  engine = owner->engine;
}

void XBoardProtocol::Start() {
  engine->listener = &listener;
  listener.engine = engine;
  listener.protocol = this;
  listener.manager = manager;
}

CommandKind XBoardProtocol::Classify(const char* command) const {
  const char* line = WithoutUsermove(command);
  if (IsMoveText(line)) {
    if (analyzing) return CommandKind::Starter;
    // The opponent's reply while the engine ponders acts on that search: the
    // guessed move at once; another move waits for the ponder search, which
    // it ends (LineWaitsLocked) as soon as it has been read. A text too long
    // for a move is refused at once.
    const Move expected = manager->expectedPonderMove;
    if (manager->ponderOption && manager->ponderRequested && expected) {
      const char* move = MoveTextOf(line);
      if (std::strlen(move) < sizeof pendingMove && !SameMove(*manager, move, expected))
        return CommandKind::Starter;
      return CommandKind::Control;
    }
    return CommandKind::Starter;
  }
  if (Is(line, "go") || Is(line, "analyze")) return CommandKind::Starter;
  if (Is(line, "quit")) return CommandKind::Immediate;
  // The clocks are kept aside until a search starts; they need not wait for
  // a busy search, but do wait behind a "level" that waits for it, which
  // would otherwise reset them afterwards.
  if (StartsWith(line, "time ") || StartsWith(line, "otim ")) return CommandKind::InOrder;
  if (Is(line, "?") || Is(line, "easy") || Is(line, "hard") || Is(line, "new") ||
      Is(line, "post") || Is(line, "nopost") || Is(line, "result") ||
      StartsWith(line, "result ") || Is(line, "exit"))
    return CommandKind::Control;
  // "pong" tells the interface that everything before "ping" has been done.
  if (StartsWith(line, "ping ")) return CommandKind::InOrder;
  // Lines that are ignored need not wait.
  if (StartsWith(line, "accepted ") || StartsWith(line, "refused ") || Is(line, "#") ||
      Is(line, ".") || Is(line, "computer"))
    return CommandKind::Immediate;
  // In analysis mode the analysis starts again after any other line.
  return analyzing ? CommandKind::Starter : CommandKind::Deferred;
}

void XBoardProtocol::LineWaitsLocked(const char* line) {
  // Neither an analysis nor a ponder search ends by itself: a line that
  // waits for its end stops it. The analysis starts again once the line has
  // run; a ponder search takes its guess back and sends nothing.
  const CommandKind kind = Classify(line);
  if (kind != CommandKind::Starter && kind != CommandKind::Deferred) return;
  if (analysisSearchOpen && analyzing) {
    manager->StopSearchLocked(StopQuit);
    analysisRestart = 1;
  } else if (manager->ponderSearchOpen && manager->ponderReply == 0) {
    manager->ponderReply = 2;
    manager->StopSearchLocked(StopNormal);
  } else if (Is(WithoutUsermove(line), "remove") && !analysisSearchOpen) {
    // The engine's own search: the position it searches is being taken
    // back, so it ends without a move.
    manager->StopSearchLocked(StopQuit);
  }
}

i32 XBoardProtocol::ProcessCommand(const char* command) {
  const char* line = WithoutUsermove(command);
  // Lines that never wait for a search ("ping", ".") leave the analysis as it is.
  const bool mayResumeAnalysis = Classify(command) == CommandKind::Starter;
  SearchLimits& limits = engine->limits;
  if (IsMoveText(line)) {
    HandleMove(MoveTextOf(line));
  } else if (StartsWith(line, "time ")) {
    engineClockMs = CentisecondsToMs(Argument(line));
  } else if (StartsWith(line, "otim ")) {
    opponentClockMs = CentisecondsToMs(Argument(line));
  } else if (Is(line, "go")) {
    Go();
  } else if (Is(line, "quit")) {
    manager->lock.Lock();
    engine->ponderEnabled = 0;
    engine->pondering = 0;
    engine->ponderMove = 0;
    manager->ponderOption = 0;
    manager->StopSearchLocked(StopQuit);
    manager->lock.Unlock();
    return 0;
  } else if (Is(line, "xboard")) {
    SetUp();
  } else if (Is(line, "undo")) {
    engine->UndoMove();
    if (analyzing) analysisRestart = 1;
  } else if (Is(line, "remove")) {
    Remove();
  } else if (StartsWith(line, "variant ")) {
    Variant(line + 8);
  } else if (Is(line, "force")) {
    forceMode = 1;
  } else if (Is(line, "result") || StartsWith(line, "result ") || Is(line, "exit")) {
    manager->lock.Lock();
    manager->StopSearchLocked(StopQuit);
    manager->lock.Unlock();
    if (Is(line, "exit")) LeaveAnalysis();
  } else if (Is(line, "analyze")) {
    // The search starts below, once no search is busy.
    manager->infiniteSearch = 1;
    analyzing = 1;
    analysisRestart = 1;
  } else if (StartsWith(line, "setboard ")) {
    engine->SetFen(line + 9);
    if (analyzing) analysisRestart = 1;
  } else if (Is(line, "?")) {
    // An analysis has no move to play now.
    manager->lock.Lock();
    if (!analyzing) manager->StopSearchLocked(StopNormal);
    manager->lock.Unlock();
  } else if (Is(line, "new")) {
    NewGame();
  } else if (Is(line, "easy")) {
    manager->lock.Lock();
    if (!analyzing) manager->StopSearchLocked(StopNormal);
    manager->ponderOption = 0;
    manager->expectedPonderMove = 0;
    manager->lock.Unlock();
  } else if (Is(line, "hard")) {
    manager->lock.Lock();
    engine->ponderEnabled = 1;
    manager->ponderOption = 1;
    manager->lock.Unlock();
  } else if (Is(line, "post")) {
    post = 1;
  } else if (Is(line, "nopost")) {
    post = 0;
  } else if (StartsWith(line, "accepted ") || StartsWith(line, "refused ")) {
  } else if (StartsWith(line, "protover ")) {
    protocolVersion = Argument(line);
    manager->SendFormatted("feature myname=\"Zorvel %s %s\"", EngineVersion,
                           manager->settings.wordSizeLabel);
    manager->SendLine("feature setboard=1");
    manager->SendLine("feature analyze=1");
    manager->SendLine("feature ping=1");
    manager->SendLine("feature draw=0");
    manager->SendLine("feature sigint=0");
    manager->SendLine("feature sigterm=0");
    manager->SendLine("feature colors=0");
    manager->SendLine("feature smp=1");
    manager->SendLine("feature variants=\"normal,fischerandom\"");
    manager->SendLine("feature option=\"Clear Hash -button\"");
    manager->SendLine("feature done=1");
  } else if (StartsWith(line, "ping ")) {
    // "pong" promises that the next search starts at once: a table that is
    // still being prepared is completed first.
    engine->tt.WaitUntilReady();
    manager->SendFormatted("pong %d", Argument(line));
  } else if (StartsWith(line, "st ")) {
    const i32 seconds = Argument(line);
    timeControl.kind = TimeControlKind::MoveTime;
    timeControl.moveTimeMs = seconds < 0 ? 0 : seconds > INT32_MAX / 1000 ? INT32_MAX : seconds * 1000;
    ApplyTimeControl();
  } else if (StartsWith(line, "sd ")) {
    const i32 depth = Argument(line);
    limits.depthLimit = depth < 1 ? 1 : depth > 127 ? 127 : depth;
    // With a time control the depth caps the timed search, whichever comes
    // first; alone it is the search's one limit.
    limits.depthCap = limits.depthLimit;
    if (timeControl.kind == TimeControlKind::None) limits.mode = ModeDepth;
  } else if (StartsWith(line, "level ")) {
    Level(line + 6);
  } else if (StartsWith(line, "cores ")) {
    Cores(line + 6);
  } else if (Is(line, "#") || Is(line, ".") || Is(line, "computer")) {
  } else if (Is(line, "printBoard")) {
    engine->board.Print();
  } else if (StartsWith(line, "eval")) {
    Evaluate();
  } else if (StartsWith(line, "printHashKey")) {
    manager->SendFormatted("%016llx", static_cast<unsigned long long>(engine->board.key));
  } else if (StartsWith(line, "printFEN")) {
    char fen[128];
    engine->BoardToFen(engine->board, fen);
    manager->SendLine(fen);
  } else if (StartsWith(line, "perftd ")) {
    RunPerftDetailed(*manager, Argument(line));
  } else if (StartsWith(line, "perft ")) {
    RunPerft(*manager, Argument(line));
  } else if (StartsWith(line, "divide ")) {
    RunDivide(*manager, Argument(line));
  } else if (StartsWith(line, "option ")) {
    const char* text = line + 7;
    if (StartsWith(text, "Clear ") && StartsWith(text + 6, "Hash")) engine->tt.Clear();
  }
  if (mayResumeAnalysis) ResumeAnalysis();
  return 1;
}

void XBoardProtocol::RefuseLongLine(const char* start) {
  manager->SendFormatted("Error (line too long): %.40s...", SkipLineBlanks(start));
}

void XBoardProtocol::ResumeAnalysis() {
  if (!analyzing || !analysisRestart) return;
  manager->lock.Lock();
  if (manager->SearchBusyLocked()) {
    // The line that stopped it, or the one that comes next, starts it again.
    manager->lock.Unlock();
    return;
  }
  analysisRestart = 0;
  // A game that has ended leaves nothing to analyse.
  if (CountLegalMoves() > 0) {
    SetClocks();
    SearchLimits& limits = engine->limits;
    modeBeforeAnalysis = limits.mode;
    limits.mode = ModeInfinite;
    analysisSearchOpen = 1;
    manager->infiniteSearch = 1;
    manager->StartSearchLocked(0);
  }
  manager->lock.Unlock();
}

void XBoardProtocol::Cores(const char* text) {
  i64 threads = 0;
  if (!ReadWholeNumber(text, NumberSign::Allowed, &threads)) {
    gLog.Error("cores : '%s' is not a number of threads", text);
    manager->SendFormatted("Error (not a number of threads): cores %s", text);
    return;
  }
  // The line waited for any busy search: the pool is idle while it is rebuilt.
  // The pool holds the number to its range.
  engine->SetThreadCount(threads);
}

void XBoardProtocol::Remove() {
  // The opponent's last move and the engine's move before it: the engine
  // keeps its colour and the interface moves next.
  const bool both = engine->UndoMove() && engine->UndoMove();
  // The engine's move is counted again in the time control when it is
  // played again.
  if (both && manager->movesPerSession != 0)
    manager->movesLeft = manager->movesLeft == manager->movesPerSession
                             ? 1
                             : manager->movesLeft + 1;
  if (analyzing) analysisRestart = 1;
}

void XBoardProtocol::Variant(const char* name) {
  // Chess960 changes only how castling is read and written: the king takes
  // its own rook.
  if (Is(name, "fischerandom"))
    engine->board.chess960 = 1;
  else if (Is(name, "normal"))
    engine->board.chess960 = 0;
  else
    manager->SendFormatted("Error (unknown variant): %s", name);
}

void XBoardProtocol::LeaveAnalysis() {
  // The time control in force comes back when the analysis search has ended.
  analyzing = 0;
  analysisRestart = 0;
}

void XBoardProtocol::SetUp() {
  Settings& settings = manager->settings;
  engine->Init(settings.Hash);
  std::vector<std::string> notes;
  FitHashTable(*engine, settings.Hash, &notes);
  for (const std::string& note : notes) manager->SendFormatted("telluser %s", note.c_str());
  ResetGame();
  if (settings.Book == 1) {
    BookLoad outcome = BookLoad::Loaded;
    if (!engine->LoadBook(manager->BookFile, &outcome)) {
      settings.Book = 0;
      manager->SendFormatted("telluser %s", BookLoadText(outcome));
    }
    engine->bookSelectivity = settings.BookSelectivity;
  }
  if (settings.UsePersonality != 0) LoadPersonality(*engine, manager->PersonalityFile);
  // Without the strength limit the engine plays at full strength (2700),
  // also after an earlier set-up that limited it. A personality in use sets
  // the speed itself, as under UCI.
  const bool limited = settings.UseStrength != 0 && !engine->personality.active;
  engine->SetStrengthElo(limited ? static_cast<u32>(settings.StrengthELO) : 2700u);
  engine->SetThreadCount(settings.MaxThreads);
  minSplitDepth = settings.MinSplitDepth * 4;
  drawScore = settings.DrawScore;
  forceMode = 0;
}

void XBoardProtocol::Go() {
  if (!goSeen) {
    goSeen = 1;
    // The moves the engine's side has made count in the session, which
    // starts again after each control.
    const i32 session = manager->movesPerSession;
    if (session > 0) manager->movesLeft = session - (opponentMoves / 2) % session;
  }
  forceMode = 0;
  SetClocks();
  manager->StartSearch(0);
}

void XBoardProtocol::SetClocks() {
  // The engine searches for the side to move, also in a ponder search, whose
  // guessed move is on the board and whose moves to go are those of the
  // engine's next move.
  SearchLimits& limits = engine->limits;
  const i32 engineMs = engineClockMs;
  const i32 opponentMs = opponentClockMs;
  if (engineMs >= 0) limits.clock[engine->board.sideToMove] = static_cast<float>(engineMs);
  if (opponentMs >= 0) limits.clock[engine->board.opponent] = static_cast<float>(opponentMs);
  limits.movesToGo = manager->movesLeft;
  if (timeControl.kind == TimeControlKind::MoveTime && limits.mode == ModeMoveTime) {
    // The search keeps a margin for the way of its answer, as under a clock.
    const u32 microseconds = ClockLessMarginMicroseconds(static_cast<float>(MoveClockMs()));
    limits.moveTime = microseconds > INT32_MAX ? INT32_MAX : static_cast<i32>(microseconds);
  }
  // A clock left by a ponder hit belongs to the search it hit.
  engine->ponderHitClockMs = -1;
}

i32 XBoardProtocol::MoveClockMs() const {
  const i32 engineMs = engineClockMs;
  if (timeControl.kind != TimeControlKind::MoveTime) return engineMs;
  // The interface's clock for the move runs out at the time per move, or
  // sooner when the clock sent with "time" holds less.
  const i32 moveMs = timeControl.moveTimeMs;
  return engineMs >= 0 && engineMs < moveMs ? engineMs : moveMs;
}

void XBoardProtocol::NewGame() {
  LeaveAnalysis();
  manager->lock.Lock();
  manager->ponderOption = 0;
  engine->ponderEnabled = 0;
  engine->pondering = 0;
  engine->ponderMove = 0;
  manager->expectedPonderMove = 0;
  forceMode = 0;
  engineClockMs = -1;
  opponentClockMs = -1;
  if (manager->SearchBusyLocked()) {
    // The reset happens once, when the running search has ended.
    manager->StopSearchLocked(StopQuit);
    manager->newGamePending = 1;
    manager->lock.Unlock();
    return;
  }
  manager->lock.Unlock();
  ResetGame();
}

void XBoardProtocol::ResetGame() {
  engine->NewGame();
  engine->board.chess960 = 0;  // a new game is standard chess until "variant"
  manager->infiniteSearch = 0;
  manager->movesLeft = 40;
  manager->movesPerSession = 40;
  opponentMoves = 0;
  goSeen = 0;
  engine->limits.movesToGo = 40;
  // No depth limit until the interface gives one; the time control given
  // last starts again.
  engine->limits.depthCap = 0;
  if (timeControl.kind != TimeControlKind::None) ApplyTimeControl();
}

void XBoardProtocol::AfterSearch() { listener.RunPendingNewGame(); }

void XBoardProtocol::Level(const char* arguments) {
  // "level MPS BASE INC": moves per session (0: the whole game), the base
  // time as minutes or minutes:seconds, the increment in seconds. A field
  // that does not read, or a negative one, refuses the whole line and the
  // time control in force stays; missing base and increment are 0.
  char fields[3][64] = {"0", "0", "0"};
  int ends[3] = {0, 0, 0};
  const int count = std::sscanf(arguments, "%63s%n %63s%n %63s%n", fields[0], &ends[0], fields[1],
                                &ends[1], fields[2], &ends[2]);
  u32 movesPerSession = 0;
  u32 minutes = 0;
  u32 seconds = 0;
  float increment = 0.0f;
  bool valid = count >= 1;
  // A word longer than its field would go on in the next field.
  for (int i = 0; i < count; ++i)
    if (arguments[ends[i]] != 0 && !std::isspace(static_cast<unsigned char>(arguments[ends[i]])))
      valid = false;
  valid = valid && ReadLevelField(fields[0], &movesPerSession);
  if (valid) {
    char* colon = std::strchr(fields[1], ':');
    if (colon) *colon = 0;
    valid = ReadLevelField(fields[1], &minutes) && (!colon || ReadLevelField(colon + 1, &seconds));
  }
  if (valid) {
    char* end = nullptr;
    increment = std::strtof(fields[2], &end);
    valid = end != fields[2] && *end == 0 && std::isfinite(increment) && increment >= 0.0f;
  }
  if (!valid) {
    manager->SendFormatted("Error (bad time control): level %s", arguments);
    return;
  }
  timeControl.kind = TimeControlKind::Level;
  timeControl.movesPerSession = static_cast<i32>(movesPerSession);
  timeControl.baseMs = static_cast<float>((static_cast<double>(minutes) * 60.0 + seconds) * 1000.0);
  const double milliseconds = static_cast<double>(increment) * 1000.0;
  timeControl.incrementMs = milliseconds < 2147483647.0 ? static_cast<i32>(milliseconds) : INT32_MAX;
  ApplyTimeControl();
  // A new time control starts both clocks.
  const float baseMs = timeControl.baseMs;
  engineClockMs = opponentClockMs = baseMs < 2147483647.0f ? static_cast<i32>(baseMs) : INT32_MAX;
}

void XBoardProtocol::ApplyTimeControl() {
  SearchLimits& limits = engine->limits;
  if (timeControl.kind == TimeControlKind::MoveTime) {
    // SetClocks gives each search its time from the time per move.
    limits.mode = ModeMoveTime;
    return;
  }
  const i32 moves = timeControl.movesPerSession;
  manager->movesPerSession = moves;
  manager->movesLeft = moves;
  limits.movesToGo = moves;
  limits.clock[White] = limits.clock[Black] = timeControl.baseMs;
  limits.increment[White] = limits.increment[Black] = timeControl.incrementMs;
  limits.mode = ModeClock;
}

i32 XBoardProtocol::CountLegalMoves() const {
  Board& board = engine->board;
  ScoredMove moves[MaxMoves];
  const i32 count = GenerateMoves(board, moves, board.InCheck());
  i32 legal = 0;
  for (i32 i = 0; i < count; ++i) {
    UndoInfo undo;
    board.MakeMove(moves[i].move, undo);
    if (!board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove)) ++legal;
    board.UnmakeMove(moves[i].move, undo);
  }
  return legal;
}

bool XBoardProtocol::PlayAndSearch(const char* line, i32 requestedPonder, bool honourForceMode) {
  ++opponentMoves;
  if (!engine->ParseAndMakeMove(line)) return false;
  manager->ponderRequested = requestedPonder;
  // Mate or stalemate: the game is over, there is nothing to search.
  if (CountLegalMoves() == 0) return true;
  if (honourForceMode && forceMode) return true;
  SetClocks();
  manager->StartSearch(0);
  return true;
}

void XBoardProtocol::HandleMove(const char* line) {
  if (analyzing) {
    // The analysis goes on from the new position.
    ++opponentMoves;
    if (engine->ParseAndMakeMove(line)) analysisRestart = 1;
    return;
  }
  manager->lock.Lock();
  const Move expected = manager->expectedPonderMove;
  if (manager->ponderOption && manager->ponderRequested && expected) {
    if (manager->ponderSearchOpen && manager->ponderReply == 0) {
      // The ponder search has not ended yet.
      if (std::strlen(line) >= sizeof pendingMove) {
        // Longer than any move: refused, the search goes on.
        manager->lock.Unlock();
        engine->ReportIllegalMove(line);
        return;
      }
      std::strcpy(pendingMove, line);
      if (SameMove(*manager, line, expected)) {
        // Ponder hit: the running search becomes the engine's own, with
        // its time taken from the clock that came with the move.
        ++opponentMoves;
        manager->ponderReply = 1;
        manager->ponderRequested = 0;
        engine->ponderHitClockMs = MoveClockMs();
        const bool poll = manager->PonderHitLocked();
        manager->lock.Unlock();
        if (poll) engine->PollTimeAndInput();
        return;
      }
      // Another move: the ponder search stops, takes its guess back and the
      // move is played after it, behind the lines that came before it.
      manager->ponderReply = 2;
      manager->DeferLocked(pendingMove, CommandKind::Starter);
      manager->StopSearchLocked(StopNormal);
      manager->lock.Unlock();
      return;
    }
    if (manager->SearchBusyLocked()) {
      // The ponder search is ending: the move is played once it has.
      manager->DeferLocked(line, CommandKind::Starter);
      manager->lock.Unlock();
      return;
    }
    manager->lock.Unlock();
    // The ponder search ended at its depth and took its guess back.
    PlayAndSearch(line, SameMove(*manager, line, expected) ? 1 : 0, false);
    return;
  }
  manager->lock.Unlock();
  PlayAndSearch(line, manager->ponderRequested, true);
}

void XBoardProtocol::Evaluate() {
  const i32 score = EvaluateLazy(*engine, engine->board, -MateScore, MateScore);
  manager->SendFormatted("eval = %.2f", static_cast<double>(score) / 100.0);
}

// ---------------------------------------------------------------------------

void XBoardListener::RunPendingNewGame() {
  if (manager->newGamePending.exchange(0)) protocol->ResetGame();
}

bool XBoardListener::EndAnalysisSearch() {
  if (!protocol->analysisSearchOpen) return false;
  protocol->analysisSearchOpen = 0;
  engine->limits.mode = protocol->modeBeforeAnalysis;
  return true;
}

void XBoardListener::OnSearchDone(i32 stopReason) {
  manager->lock.Lock();
  const bool wasPonderSearch = manager->ponderSearchOpen != 0;
  const i32 reply = manager->ponderReply;
  manager->ponderSearchOpen = 0;
  manager->ponderReply = 0;
  const bool analysis = EndAnalysisSearch();
  manager->lock.Unlock();

  if (stopReason == StopQuit) {
    RunPendingNewGame();
    manager->infiniteSearch = 0;
    return;
  }
  // An analysis reports its lines, never a move.
  if (analysis) return;
  if (stopReason == StopPonderDepth) {
    // The search ended at its depth before it saw the opponent's reply. A hit
    // is played now and searched; a miss waits in the queue.
    if (wasPonderSearch && reply == 1) {
      char move[sizeof protocol->pendingMove];
      std::memcpy(move, protocol->pendingMove, sizeof move);
      --protocol->opponentMoves;  // counted again when it is played
      protocol->PlayAndSearch(move, 1, false);
    } else if (reply == 2) {
      manager->ponderRequested = 0;
    }
    return;
  }
  SendBestMove(stopReason);
}

void XBoardListener::SendBestMove(i32 stopReason) {
  if (stopReason == StopPonder) {
    // A missed guess: the opponent's move waits in the queue and is played
    // when this search has returned.
    manager->ponderRequested = 0;
    return;
  }
  if (engine->testSuiteMode) return;
  const Move best = engine->bestMove;
  char text[8] = "0000";
  if (best) manager->MovesToString(&best, 1, text);

  // Under the lock, so that an opponent's reply sees either no ponder search
  // or the one started here, and "new" or "easy" either comes first or stops it.
  manager->lock.Lock();
  const Move expected = engine->ponderMove;
  manager->expectedPonderMove = expected;
  if (stopReason == StopNormal && manager->movesPerSession != 0)
    manager->movesLeft = manager->movesLeft == 1 ? manager->movesPerSession.load()
                                                 : manager->movesLeft - 1;
  manager->SendFormatted("move %s", text);
  if (!manager->ponderOption) {
    manager->lock.Unlock();
    return;
  }
  manager->ponderRequested = 0;
  if (!expected) {
    manager->lock.Unlock();
    return;
  }
  char hint[8];
  manager->MovesToString(&expected, 1, hint);
  manager->SendFormatted("Hint: %s", hint);
  if (!engine->ParseAndMakeMove(hint)) {
    manager->lock.Unlock();
    return;
  }
  // A guess that ends the game leaves nothing to ponder.
  if (protocol->CountLegalMoves() == 0) {
    engine->UndoMove();
    manager->lock.Unlock();
    return;
  }
  manager->ponderRequested = 1;
  protocol->SetClocks();
  manager->StartSearchLocked(1);
  manager->lock.Unlock();
}

bool XBoardListener::Posting() const {
  // An abandoned search has nothing more to say: its last line would reach
  // the interface after the position it belongs to. That is a search ended
  // by "quit", "exit", "new", "result", "remove" or a change of the analysed
  // position, and a ponder search that was stopped: the opponent played
  // another move than the guess, or "force", "undo", "setboard", "easy", "?"
  // ended it. Lock held, so that the command that abandons it comes either
  // after a line or before it.
  if (!protocol->post) return false;
  const i32 reason = engine->stopReason;
  return reason != StopQuit && reason != StopPonder && manager->ponderReply != 2;
}

void XBoardListener::OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                              i32, i32, double elapsedMicroseconds) {
  manager->lock.Lock();
  if (Posting()) SendThinking(depth, score, pv, pvLength, nodes, elapsedMicroseconds);
  manager->lock.Unlock();
}

void XBoardListener::OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength,
                                   u64 nodes, i32, i32, double elapsedMicroseconds) {
  manager->lock.Lock();
  if (Posting()) SendThinkingMultiPv(line, depth, score, pv, pvLength, nodes, elapsedMicroseconds);
  manager->lock.Unlock();
}

void XBoardListener::SendThinking(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                                  double elapsedMicroseconds) {
  const double centiseconds = elapsedMicroseconds * 0.0001;
  const i32 time = centiseconds <= 0.0 ? 0
                   : centiseconds >= static_cast<double>(INT32_MAX) ? INT32_MAX
                                                                    : static_cast<i32>(centiseconds);
  char pvText[PvTextSize];
  manager->MovesToString(pv, pvLength < 0 ? 0 : pvLength > MaxPly ? MaxPly : pvLength, pvText);
  manager->SendFormatted("%d %d %d %llu %s", depth, score, time,
                         static_cast<unsigned long long>(nodes), pvText);
}

void XBoardListener::SendThinkingMultiPv(i32, i32 depth, i32 score, const Move* pv, i32 pvLength,
                                         u64 nodes, double elapsedMicroseconds) {
  SendThinking(depth, score, pv, pvLength, nodes, elapsedMicroseconds);
}

bool XBoardListener::PollInput() {
  manager->HandleRead(manager->ReadLine());
  return true;
}

void XBoardListener::SendText(const char* text) { manager->SendFormatted("%s", text); }
