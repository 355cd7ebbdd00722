#include "protocol/uci.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

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

// Option names are compared without regard to case, as the protocol says.
bool StartsWithNoCase(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// "go", alone or with parameters.
bool IsGo(const char* line) { return std::strcmp(line, "go") == 0 || StartsWith(line, "go "); }

// True when text begins with the word (followed by a blank or the end).
bool StartsWithWord(const char* text, const char* word) {
  const std::size_t length = std::strlen(word);
  return std::strncmp(text, word, length) == 0 && (text[length] == ' ' || text[length] == 0);
}

// The word "moves" in text, standing alone; null when there is none.
const char* FindMovesWord(const char* text) {
  for (const char* p = std::strstr(text, "moves"); p; p = std::strstr(p + 1, "moves"))
    if ((p == text || p[-1] == ' ') && StartsWithWord(p, "moves")) return p;
  return nullptr;
}

// Copies the word at text (up to the next blank) into out of 256 bytes;
// longer words are cut.
void CopyWord(const char* text, char* out) {
  int n = 0;
  while (text[n] && text[n] != ' ' && n < 255) {
    out[n] = text[n];
    ++n;
  }
  out[n] = 0;
}

// The value of an option whose name begins with word (blank included):
// "value " must follow the word's blank, or "value" end the line (an empty
// value, whose blank went with the blanks at the end of the line). Null when
// the parts are missing.
const char* OptionValue(const char* name, const char* word) {
  if (!StartsWithNoCase(name, word)) return nullptr;
  const char* blank = name + std::strlen(word) - 1;
  if (std::strcmp(blank + 1, "value") == 0) return blank + 6;
  if (!StartsWith(blank + 1, "value ")) return nullptr;
  return blank + 1 + 6;
}

const char* OnOff(i32 value) { return value ? "true" : "false"; }

// Switches the own book on with the file and the selectivity of the
// settings. A file that cannot serve as a book switches it off again, and the
// interface hears why.
void SwitchBookOn(ProtocolManager& manager, Engine& engine) {
  Settings& settings = manager.settings;
  settings.Book = 1;
  BookLoad outcome = BookLoad::Loaded;
  if (engine.LoadBook(manager.BookFile, &outcome)) {
    engine.bookSelectivity = settings.BookSelectivity;
    return;
  }
  settings.Book = 0;
  manager.SendFormatted("info string %s", BookLoadText(outcome));
}

// Room for the coordinate text of a whole principal variation.
constexpr int PvTextSize = MaxPly * 6 + 8;

}  // namespace

void UciScore(i32 score, const char** kind, i32* value) {
  if (score <= -MateBound) {
    *kind = "mate";
    *value = -((score + MateScore) / 2);
  } else if (score >= MateBound) {
    *kind = "mate";
    *value = (MateScore - score) / 2 + 1;
  } else {
    *kind = "cp";
    *value = score;
  }
}

UciProtocol::UciProtocol(ProtocolManager* owner) {
  manager = owner;
  engine = owner->engine;
  eloOption = owner->settings.StrengthELO;
  limitStrength = owner->settings.UseStrength != 0 ? 1 : 0;
  ownBook = owner->settings.Book != 0 ? 1 : 0;
}

void UciProtocol::Start() {
  engine->listener = &listener;
  listener.engine = engine;
  listener.protocol = this;
  listener.manager = manager;
}

CommandKind UciProtocol::Classify(const char* line) const {
  if (std::strcmp(line, "quit") == 0 || std::strcmp(line, "isready") == 0)
    return CommandKind::Immediate;
  if (std::strcmp(line, "stop") == 0 || std::strcmp(line, "ponderhit") == 0 ||
      std::strcmp(line, "ucinewgame") == 0)
    return CommandKind::Control;
  if (IsGo(line)) return CommandKind::Starter;
  return CommandKind::Deferred;
}

i32 UciProtocol::ProcessCommand(const char* line) {
  if (IsGo(line)) {
    Go(line);
  } else if (std::strcmp(line, "isready") == 0) {
    // "readyok" promises that the next search starts at once: a table that
    // is still being prepared is completed first.
    engine->tt.WaitUntilReady();
    manager->SendLine("readyok");
  } else if (StartsWithWord(line, "position")) {
    Position(line);
  } else if (std::strcmp(line, "ponderhit") == 0) {
    PonderHit();
  } else if (std::strcmp(line, "quit") == 0) {
    manager->ponderOption = 0;
    manager->expectedPonderMove = 0;
    manager->lock.Lock();
    manager->StopSearchLocked(StopQuit);
    // A held answer goes out where a running search would answer: an
    // analysis names its move, and at the end of the input every search
    // answers as on "stop".
    char held[32];
    const bool owed = (listener.heldInfinite || manager->endOfInput) && TakeHeldAnswerLocked(held, false);
    manager->lock.Unlock();
    if (owed) manager->SendLine(held);
    return 0;
  } else if (std::strcmp(line, "uci") == 0) {
    Identify();
  } else if (std::strcmp(line, "ucinewgame") == 0) {
    NewGame();
  } else if (std::strcmp(line, "stop") == 0) {
    Stop();
  } else if (StartsWith(line, "perftd")) {
    if (const char* blank = std::strchr(line, ' ')) RunPerftDetailed(*manager, ReadNumber(blank + 1));
  } else if (StartsWith(line, "perft")) {
    if (const char* blank = std::strchr(line, ' ')) RunPerft(*manager, ReadNumber(blank + 1));
  } else if (StartsWith(line, "divide")) {
    if (const char* blank = std::strchr(line, ' ')) RunDivide(*manager, ReadNumber(blank + 1));
  } else if (StartsWith(line, "debug ")) {
    const char* value = std::strchr(line, ' ') + 1;
    if (std::strcmp(value, "on") == 0) debug = 1;
    else if (std::strcmp(value, "off") == 0) debug = 0;
  } else if (StartsWith(line, "setoption ")) {
    SetOption(line);
  } else if (StartsWith(line, "printBoard")) {
    engine->board.Print();
  } else if (StartsWith(line, "eval")) {
    Evaluate();
  } else if (StartsWith(line, "printHashKey")) {
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(engine->board.key));
    manager->SendLine(text);
  } else if (StartsWith(line, "printFEN")) {
    char fen[128];
    engine->BoardToFen(engine->board, fen);
    manager->SendLine(fen);
  }
  return 1;
}

void UciProtocol::Go(const char* line) {
  // The answer a search still holds goes out first: every "go" gets its own.
  char held[32];
  manager->lock.Lock();
  const bool owed = TakeHeldAnswerLocked(held, false);
  listener.stopAsked = 0;
  manager->lock.Unlock();
  if (owed) manager->SendLine(held);

  SearchLimits& limits = engine->limits;
  manager->ponderRequested = 0;
  // "infinite" holds for the search of the "go" that says it: a later "go"
  // searches with the limits that stood before it.
  manager->infiniteSearch = 0;
  if (limits.mode == ModeInfinite) limits.mode = modeBeforeInfinite;
  // Increments and moves to go hold for the "go" that gives them: an
  // increment left from an earlier one would spend a clock it does not add to.
  limits.movesToGo = 0;
  limits.increment[White] = limits.increment[Black] = 0;
  const char* place = std::strchr(line, ' ');
  while (place) {
    const char* token = place + 1;
    const char* next = token;  // where the search for the next blank starts
    char value[256];
    if (StartsWith(token, "ponder")) {
      manager->ponderRequested = 1;
    } else if (StartsWith(token, "wtime ") || StartsWith(token, "btime ")) {
      next = token + 6;
      CopyWord(next, value);
      limits.clock[token[0] == 'w' ? White : Black] = static_cast<float>(ReadNumber(value));
      limits.mode = ModeClock;
    } else if (StartsWith(token, "winc ") || StartsWith(token, "binc ")) {
      next = token + 5;
      CopyWord(next, value);
      limits.increment[token[0] == 'w' ? White : Black] = ReadNumber(value);
    } else if (StartsWith(token, "movetime ")) {
      next = token + 9;
      CopyWord(next, value);
      limits.mode = ModeMoveTime;
      // Microseconds in 32 bits; longer times saturate.
      const i64 microseconds = static_cast<i64>(ReadNumber(value)) * 1000;
      limits.moveTime = microseconds < 0 ? 0 : microseconds > INT32_MAX ? INT32_MAX
                                                                        : static_cast<i32>(microseconds);
    } else if (StartsWith(token, "movestogo ")) {
      next = token + 10;
      CopyWord(next, value);
      limits.movesToGo = ReadNumber(value);
      limits.mode = ModeClock;
    } else if (StartsWith(token, "infinite")) {
      manager->infiniteSearch = 1;
      if (limits.mode != ModeInfinite) modeBeforeInfinite = limits.mode;
      limits.mode = ModeInfinite;
    } else if (StartsWith(token, "depth ")) {
      next = token + 6;
      CopyWord(next, value);
      const i32 depth = ReadNumber(value);
      limits.mode = ModeDepth;
      limits.depthLimit = depth < 1 ? 1 : depth < 128 ? depth : 127;
    } else if (StartsWith(token, "nodes ")) {
      next = token + 6;
      CopyWord(next, value);
      const i32 nodes = ReadNumber(value);
      limits.mode = ModeNodes;
      limits.nodeLimit = nodes < 0 ? 0 : static_cast<u64>(nodes);
    }
    place = std::strchr(next, ' ');
  }
  // "go ponder" asks for a ponder search whatever the Ponder option says;
  // the option only tells that the interface may ask for one.
  engine->ponderEnabled = (manager->ponderOption || manager->ponderRequested) ? 1 : 0;
  if (!refusal.empty()) {
    // No position of the interface's to search: no move, told why. The
    // answer waits for the interface as a search's would.
    listener.SendText(("position refused: " + refusal).c_str());
    char none[32];
    listener.FormatBestMove(0, 0, false, none);
    if (manager->infiniteSearch || manager->ponderRequested) {
      manager->lock.Lock();
      HoldAnswerLocked(none, manager->infiniteSearch != 0);
      manager->lock.Unlock();
    } else {
      manager->SendLine(none);
    }
    return;
  }
  manager->StartSearch(manager->ponderRequested);
}

void UciProtocol::ResetGame() {
  engine->gameHistory.clear();
  engine->gameKeyCount = 0;
  engine->bestMove = 0;
}

void UciProtocol::Position(const char* line) {
  const char* text = SkipLineBlanks(line + std::strlen("position"));
  const char* moves = nullptr;  // the move list after "moves", when there is one
  if (StartsWithWord(text, "startpos")) {
    const char* rest = SkipLineBlanks(text + std::strlen("startpos"));
    if (*rest && !StartsWithWord(rest, "moves")) {
      RefusePosition(std::string("Invalid position command : '") + line + "' (only moves may follow startpos)",
                     true);
      return;
    }
    ResetGame();
    engine->board.SetStartPosition();
    if (*rest) moves = rest + std::strlen("moves");
  } else if (StartsWithWord(text, "fen")) {
    const char* fen = SkipLineBlanks(text + std::strlen("fen"));
    const char* movesWord = FindMovesWord(fen);
    std::string fenText = movesWord ? std::string(fen, static_cast<std::size_t>(movesWord - fen)) : fen;
    while (!fenText.empty() && fenText.back() == ' ') fenText.pop_back();
    const char* why = nullptr;
    if (!engine->SetFen(fenText.c_str(), &why)) {
      RefusePosition("Invalid FEN string : '" + fenText + "' (" + (why ? why : "no position") + ")", true);
      return;
    }
    if (movesWord) moves = movesWord + std::strlen("moves");
  } else {
    RefusePosition(std::string("Invalid position command : '") + line + "' (startpos or fen expected)", true);
    return;
  }
  if (moves) {
    // A move that cannot be played is told by the engine, naming it.
    listener.lastText.clear();
    if (!engine->PlayMoveList(SkipLineBlanks(moves))) {
      RefusePosition(listener.lastText.empty() ? "a move cannot be played" : listener.lastText, false);
      return;
    }
  }
  refusal.clear();
}

void UciProtocol::RefusePosition(const std::string& reason, bool tell) {
  refusal = reason;
  if (tell) listener.SendText(reason.c_str());
}

void UciProtocol::RefuseLongLine(const char* start) {
  char reason[128];
  std::snprintf(reason, sizeof reason, "Line too long (more than %d characters) : '%.40s...'",
                InputLineMax, SkipLineBlanks(start));
  RefusePosition(reason, true);
}

void UciProtocol::PonderHit() {
  manager->lock.Lock();
  char held[32];
  if (TakeHeldAnswerLocked(held, true)) {
    // The ponder search has already ended (at its depth, on a book move, in
    // a position without moves) or never ran (a refused position): the
    // answer it holds goes out now.
    manager->lock.Unlock();
    manager->SendLine(held);
    return;
  }
  if (manager->SearchBusyLocked()) {
    if (manager->ponderSearchOpen) manager->ponderReply = 1;
    const bool poll = manager->PonderHitLocked();
    manager->lock.Unlock();
    if (poll) engine->PollTimeAndInput();
    return;
  }
  // No search: nothing to answer.
  manager->lock.Unlock();
}

void UciProtocol::Stop() {
  manager->lock.Lock();
  char held[32];
  if (TakeHeldAnswerLocked(held, false)) {
    manager->lock.Unlock();
    manager->SendLine(held);
    return;
  }
  // A stop that crosses the answer of a search that has ended does nothing:
  // the next "go" gets its own answer.
  StopBusySearchLocked();
  manager->lock.Unlock();
}

void UciProtocol::StopBusySearchLocked() {
  if (!manager->SearchBusyLocked()) return;
  if (manager->ponderSearchOpen) manager->ponderReply = 1;
  listener.stopAsked = 1;
  manager->StopSearchLocked(StopNormal);
}

bool UciProtocol::TakeHeldAnswerLocked(char* line, bool ponderHit) {
  if (!manager->answerHeld || (ponderHit && listener.heldInfinite)) return false;
  manager->answerHeld = 0;
  std::memcpy(line, listener.heldAnswer, sizeof listener.heldAnswer);
  return true;
}

void UciProtocol::HoldAnswerLocked(const char* line, bool infinite) {
  std::snprintf(listener.heldAnswer, sizeof listener.heldAnswer, "%s", line);
  listener.heldInfinite = infinite ? 1 : 0;
  manager->answerHeld = 1;
}

void UciProtocol::LineWaitsLocked(const char* line) {
  // A stop behind a search that has not started yet ends the running one
  // too: otherwise an infinite search would never let the queue move on.
  if (std::strcmp(line, "stop") == 0) StopBusySearchLocked();
}

void UciProtocol::StopAtEndOfInputLocked() { StopBusySearchLocked(); }

void UciProtocol::NewGame() {
  manager->expectedPonderMove = 0;
  manager->lock.Lock();
  // Every "go" is answered, also when a new game interrupts it: a ponder
  // search that has ended at its depth sends the move it owes now, before
  // the game it belongs to is forgotten, and a running search ends as on
  // "stop" and answers; the new game then follows at its end.
  char held[32];
  const bool owed = TakeHeldAnswerLocked(held, false);
  const bool busy = manager->SearchBusyLocked();
  if (busy) {
    StopBusySearchLocked();
    manager->newGamePending = 1;
  }
  manager->lock.Unlock();
  if (owed) manager->SendLine(held);
  if (busy) return;
  engine->NewGame();
  manager->infiniteSearch = 0;
}

void UciProtocol::AfterSearch() {
  if (manager->newGamePending) listener.RunPendingNewGame();
}

void UciProtocol::Identify() {
  Settings& settings = manager->settings;
  manager->SendFormatted("id name Zorvel %s %s", EngineVersion, settings.wordSizeLabel);
  manager->SendLine("id author Vesquet");
  manager->SendFormatted("option name Hash type spin default %d min %d max %d", settings.Hash,
                         MinHashMegabytes, MaxHashMegabytes);
  manager->SendLine("option name Ponder type check default false");
  // Problems with the book, the hash table and the personality file are
  // told after "uciok". The book is loaded first, so that OwnBook is
  // announced as it is: off when the configured book did not load.
  std::vector<std::string> notes;
  if (settings.Book == 1) {
    BookLoad outcome = BookLoad::Loaded;
    if (!engine->LoadBook(manager->BookFile, &outcome)) {
      settings.Book = 0;
      ownBook = 0;
      notes.push_back(BookLoadText(outcome));
    }
    engine->bookSelectivity = settings.BookSelectivity;
  }
  manager->SendFormatted("option name OwnBook type check default %s", OnOff(settings.Book));
  manager->SendFormatted("option name Book File type string default %s",
                         manager->BookFile.c_str());
  manager->SendLine("option name Clear Hash type button");
  manager->SendFormatted("option name UsePersonality type check default %s",
                         OnOff(settings.UsePersonality));
  manager->SendFormatted("option name PersonalityFile type string default %s",
                         manager->PersonalityFile.c_str());
  manager->SendLine("option name UCI_Chess960 type check default false");
  manager->SendFormatted("option name MultiPV type spin default 1 min 1 max %d", MaxRootLines);
  manager->SendFormatted("option name NullMovePruning type check default %s",
                         OnOff(settings.UseNullMovePruning));
  manager->SendFormatted("option name LateMoveReduction type check default %s",
                         OnOff(settings.UseLMR));
  manager->SendFormatted("option name Threads type spin default %d min %d max %d",
                         settings.MaxThreads, MinSearchThreads, MaxSearchThreads);
  manager->SendFormatted("option name UCI_LimitStrength type check default %s",
                         OnOff(settings.UseStrength));
  manager->SendFormatted("option name UCI_Elo type spin default %d min %d max %d",
                         settings.StrengthELO, MinStrengthElo, MaxStrengthElo);
  manager->SendFormatted("option name DrawScore type spin default %d min %d max %d",
                         settings.DrawScore, MinDrawScore, MaxDrawScore);

  engine->Init(settings.Hash);
  FitHashTable(*engine, settings.Hash, &notes);
  if (settings.UsePersonality) LoadPersonality(*engine, manager->PersonalityFile, &notes);
  // The strength announced is in force before any "setoption".
  ApplyStrength();
  engine->NewGame();
  manager->infiniteSearch = 0;
  engine->SetThreadCount(settings.MaxThreads);
  minSplitDepth = settings.MinSplitDepth * 4;
  manager->SendLine("uciok");
  for (const std::string& note : notes) listener.SendText(note.c_str());
}

void UciProtocol::SetOption(const char* line) {
  Settings& settings = manager->settings;
  const char* afterCommand = std::strchr(line, ' ') + 1;
  if (!StartsWith(afterCommand, "name ")) return;
  const char* name = afterCommand + 5;
  const char* value = nullptr;

  i32 number = 0;
  if ((value = OptionValue(name, "Hash "))) {
    if (!SpinValue("Hash", value, MinHashMegabytes, MaxHashMegabytes, &number)) return;
    engine->limits.hashMb = number;
    engine->tt.Resize(number);
    std::vector<std::string> notes;
    FitHashTable(*engine, number, &notes);
    for (const std::string& note : notes) listener.SendText(note.c_str());
  } else if ((value = OptionValue(name, "Ponder "))) {
    if (std::strcmp(value, "true") == 0) {
      engine->ponderEnabled = 1;
      manager->ponderOption = 1;
    } else {
      engine->ponderEnabled = 0;
      engine->pondering = 0;
      engine->ponderMove = 0;
      manager->ponderOption = 0;
    }
  } else if ((value = OptionValue(name, "NullMovePruning "))) {
    engine->limits.nullMovePruning = std::strcmp(value, "true") == 0;
  } else if ((value = OptionValue(name, "LateMoveReduction "))) {
    engine->limits.lateMoveReductions = std::strcmp(value, "true") == 0;
  } else if ((value = OptionValue(name, "OwnBook "))) {
    ownBook = std::strcmp(value, "true") == 0 ? 1 : 0;
    if (ownBook) {
      SwitchBookOn(*manager, *engine);
    } else {
      settings.Book = 0;
      engine->ReleaseBook();
    }
  } else if ((value = OptionValue(name, "Book File "))) {
    manager->BookFile = value;
    // The book stays wanted when the file named before could not be read:
    // interfaces send "OwnBook" before "Book File".
    if (ownBook) SwitchBookOn(*manager, *engine);
  } else if (StartsWith(name, "Clear ")) {
    if (StartsWith(name + 6, "Hash")) engine->tt.Clear();
  } else if ((value = OptionValue(name, "MultiPV "))) {
    if (SpinValue("MultiPV", value, 1, MaxRootLines, &number)) engine->multiPv = number;
  } else if ((value = OptionValue(name, "UCI_Elo "))) {
    if (!SpinValue("UCI_Elo", value, MinStrengthElo, MaxStrengthElo, &number)) return;
    // While a personality is in use the value is ignored.
    if (!engine->personality.active) eloOption = number;
    ApplyStrength();
  } else if ((value = OptionValue(name, "UCI_LimitStrength "))) {
    limitStrength = std::strcmp(value, "true") == 0 ? 1 : 0;
    ApplyStrength();
  } else if ((value = OptionValue(name, "DrawScore "))) {
    if (SpinValue("DrawScore", value, MinDrawScore, MaxDrawScore, &number)) drawScore = number;
  } else if ((value = OptionValue(name, "UCI_Chess960 "))) {
    engine->board.chess960 = std::strcmp(value, "true") == 0 ? 1 : 0;
  } else if ((value = OptionValue(name, "Threads "))) {
    if (SpinValue("Threads", value, MinSearchThreads, MaxSearchThreads, &number))
      engine->SetThreadCount(number);
  } else if ((value = OptionValue(name, "UsePersonality "))) {
    settings.personalityActive = std::strcmp(value, "true") == 0 ? 1 : 0;
    SwitchPersonality();
  } else if ((value = OptionValue(name, "PersonalityFile "))) {
    manager->PersonalityFile = value;
    SwitchPersonality();
  }
}

bool UciProtocol::SpinValue(const char* option, const char* text, i32 min, i32 max, i32* value) {
  // A value outside the range "uci" announced is held to it, as the
  // configuration file holds it; text that is no whole number changes nothing.
  i64 requested = 0;
  if (!ReadWholeNumber(text, NumberSign::Allowed, &requested)) {
    gLog.Warning("%s : '%s' is not a whole number, the option is unchanged", option, text);
    manager->SendFormatted("info string %s '%s' is not a whole number, the option is unchanged",
                           option, text);
    return false;
  }
  const bool tooLow = requested < min;
  const bool tooHigh = requested > max;
  *value = tooLow ? min : tooHigh ? max : static_cast<i32>(requested);
  if (tooLow || tooHigh) {
    gLog.Warning("%s : %s is outside %d..%d, %d is used", option, text, min, max, *value);
    manager->SendFormatted("info string %s %s is outside %d..%d, %d is used", option, text, min,
                           max, *value);
  }
  return true;
}

void UciProtocol::SwitchPersonality() {
  std::vector<std::string> notes;
  LoadPersonality(*engine, manager->settings.personalityActive ? manager->PersonalityFile : "",
                  &notes);
  for (const std::string& note : notes) listener.SendText(note.c_str());
  ApplyStrength();
}

void UciProtocol::ApplyStrength() {
  // A personality in use, or the limit switched off, means full strength;
  // "UCI_Elo" alone limits nothing. A personality file that could not be
  // read leaves the built-in weights and no personality in use, whatever the
  // option says.
  const bool full = engine->personality.active || !limitStrength;
  engine->SetStrengthElo(full ? 2700u : static_cast<u32>(eloOption));
}

void UciProtocol::Evaluate() {
  const i32 score = EvaluateLazy(*engine, engine->board, -MateScore, MateScore);
  manager->SendFormatted("eval = %.2f", static_cast<double>(score) * 0.01);
}

// ---------------------------------------------------------------------------

void UciListener::FormatBestMove(Move best, Move ponder, bool withPonder, char* line) const {
  char bestText[8] = "0000";
  char ponderText[8] = "0000";
  if (best) manager->MovesToString(&best, 1, bestText);
  if (ponder) manager->MovesToString(&ponder, 1, ponderText);
  if (withPonder)
    std::snprintf(line, 32, "bestmove %s ponder %s", bestText, ponderText);
  else
    std::snprintf(line, 32, "bestmove %s", bestText);
}

void UciListener::SendBestMove(bool withPonder) {
  char line[32];
  FormatBestMove(engine->bestMove, engine->ponderMove, withPonder, line);
  manager->SendLine(line);
}

void UciListener::RunPendingNewGame() {
  if (!manager->newGamePending.exchange(0)) return;
  engine->NewGame();
  manager->infiniteSearch = 0;
  manager->movesPerSession = 40;
  manager->movesLeft = 40;
  engine->limits.movesToGo = 40;
}

void UciListener::OnSearchDone(i32 stopReason) {
  manager->lock.Lock();
  const bool wasPonderSearch = manager->ponderSearchOpen != 0;
  const i32 reply = manager->ponderReply;
  manager->ponderSearchOpen = 0;
  manager->ponderReply = 0;
  // A ponder search that ends before "ponderhit" or "stop" has come (at its
  // depth, on a book move, in a position without moves) must not answer
  // yet: its move waits for one of them. An infinite search that ends by
  // itself (at its depth, in a position without moves) waits for "stop".
  // One that came too late for the search to see it is answered here.
  const bool ponderEndedAlone =
      wasPonderSearch && reply == 0 &&
      (stopReason == StopPonderDepth || stopReason == StopPonder ||
       (stopReason == StopNormal && engine->rootMoveCount == 0));
  const bool infinite = manager->infiniteSearch != 0;
  const bool infiniteEndedAlone = infinite && !stopAsked && stopReason != StopQuit;
  const bool hold = ponderEndedAlone || infiniteEndedAlone;
  if (hold) {
    char line[32];
    FormatBestMove(engine->bestMove, engine->ponderMove, manager->ponderOption != 0, line);
    protocol->HoldAnswerLocked(line, infinite);
  }
  manager->lock.Unlock();
  if (hold) return;

  switch (stopReason) {
    case StopQuit:
      // An analysis names its move even on "quit"; a new game asked for
      // meanwhile follows that answer.
      if (manager->infiniteSearch.exchange(0)) SendBestMove(false);
      RunPendingNewGame();
      break;
    case StopPonderDepth:
    case StopPonder:
      SendBestMove(manager->ponderOption != 0);
      break;
    default:
      manager->expectedPonderMove = engine->ponderMove.load();
      SendBestMove(manager->ponderOption != 0);
      break;
  }
}

void UciListener::OnPvInfo(i32 depth, i32 score, const Move* pv, i32 pvLength, u64 nodes,
                           i32 selDepth, i32 bound, double elapsedMicroseconds) {
  OnMultiPvInfo(0, depth, score, pv, pvLength, nodes, selDepth, bound, elapsedMicroseconds);
}

void UciListener::OnMultiPvInfo(i32 line, i32 depth, i32 score, const Move* pv, i32 pvLength,
                                u64 nodes, i32 selDepth, i32 bound, double elapsedMicroseconds) {
  static const char* const BoundTexts[] = {"", "upperbound ", "lowerbound "};
  const char* kind;
  i32 value;
  UciScore(score, &kind, &value);
  const char* boundText = bound >= 0 && bound <= 2 ? BoundTexts[bound] : "";
  double milliseconds = elapsedMicroseconds * 0.001;
  const i32 time = elapsedMicroseconds == 0.0 ? 16
                   : milliseconds >= static_cast<double>(INT32_MAX) ? INT32_MAX
                   : milliseconds <= 0.0 ? 0 : static_cast<i32>(milliseconds);
  const double elapsed = elapsedMicroseconds == 0.0 ? 16000.0 : elapsedMicroseconds;
  const double speed = static_cast<double>(nodes * 1000000ull) / elapsed;
  const i32 nps = !(speed < static_cast<double>(INT32_MAX)) ? INT32_MAX
                  : speed <= 0.0 ? 0 : static_cast<i32>(speed);
  char pvText[PvTextSize];
  manager->MovesToString(pv, pvLength < 0 ? 0 : pvLength > MaxPly ? MaxPly : pvLength, pvText);
  if (line == 0)
    manager->SendFormatted("info depth %d seldepth %d score %s %d %stime %d nodes %llu nps %d pv %s",
                           depth, selDepth, kind, value, boundText, time,
                           static_cast<unsigned long long>(nodes), nps, pvText);
  else
    manager->SendFormatted(
        "info multipv %d depth %d seldepth %d score %s %d %stime %d nodes %llu nps %d pv %s", line,
        depth, selDepth, kind, value, boundText, time, static_cast<unsigned long long>(nodes), nps,
        pvText);
}

void UciListener::OnHashFull(i32 permille) { manager->SendFormatted("info hashfull %d", permille); }

void UciListener::OnDepth(i32 depth) { manager->SendFormatted("info depth %d", depth); }

bool UciListener::PollInput() {
  manager->HandleRead(manager->ReadLine());
  return true;
}

void UciListener::OnCurrMove(Move move, i32 number) {
  char text[8];
  manager->MovesToString(&move, 1, text);
  manager->SendFormatted("info currmove %s currmovenumber %d", text, number);
}

void UciListener::OnDepthZeroScore(i32 score) {
  manager->SendFormatted("info depth 0 score %d", score);
}

void UciListener::SendText(const char* text) {
  lastText = text;
  manager->SendFormatted("info string %s", text);
}
