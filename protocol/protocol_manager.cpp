#include "protocol/protocol_manager.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/build_info.h"
#include "common/line_reader.h"
#include "common/log.h"
#include "engine/engine.h"
#include "protocol/input_thread.h"
#include "protocol/protocol_chooser.h"
#include "protocol/uci.h"
#include "protocol/xboard.h"

namespace {

// Characters of a dialogue line that a log line keeps when the whole line
// does not fit: the rest of the log line holds the mark of the cut.
constexpr int LoggedLineKept = LogMessageMax - 100;

// Logs a line of the dialogue at GUI after its direction ("<<" in, ">>"
// out). A line too long for a log line is cut with a mark that says so and
// tells its length; refused marks the start of an input line too long to be
// read.
void LogDialogueLine(const char* direction, const char* line, std::size_t length,
                     bool refused = false) {
  if (refused)
    gLog.Print(LogGui, "%s %.*s [cut: a line of more than %d characters, refused]", direction,
               LoggedLineKept, line, InputLineMax);
  else if (length > static_cast<std::size_t>(LogMessageMax) - 3)
    gLog.Print(LogGui, "%s %.*s [cut: %zu characters in all]", direction, LoggedLineKept, line,
               length);
  else
    gLog.Print(LogGui, "%s %s", direction, line);
}

}  // namespace

void ProtocolHandler::StopAtEndOfInputLocked() { manager->StopSearchLocked(StopNormal); }

ProtocolManager::ProtocolManager() {
  lock.Init();
  wakeUp.Init();
  commandLock.Init();
  SetDefaultSettings(settings, BookFile, PersonalityFile);
}

ProtocolManager::~ProtocolManager() {
  // Normally released by Shutdown; the paths that end at once leave them.
  delete[] lineBuffer;
  lineBuffer = nullptr;
}

bool ProtocolManager::Configure() {
  const bool found = ini.Load(ConfigFileName) != 0;
  if (found) ReadSettings(ini, settings, BookFile, PersonalityFile);
  // A file that is there but cannot be read is told on standard error: the
  // defaults, and so no log, replace what the user wrote.
  if (ini.refusal) ReportFileError("read", ConfigFileName, ini.refusal);
  gLog.Open(settings.LogLevel, settings.LogFormat, settings.LogPID);
  if (!found) gLog.Warning("Config file %s not found, using default parameters", ConfigFileName);
  // The file was read before the log was open: its dropped lines are told now.
  for (const i32 line : ini.longLines)
    gLog.Error("%s : line %d longer than %d characters ignored", ConfigFileName, line, IniLineMax);
  for (const std::string& note : ini.notes) gLog.Warning("%s", note.c_str());
  gLog.Info("Zorvel %s %s", EngineVersion, settings.wordSizeLabel);
  gLog.Info("Compiled on %s at %s", BuildDate, BuildTime);
  return found;
}

i32 ProtocolManager::SetProtocol(i32 id) {
  // The chooser calls this from its own ProcessCommand: after the delete it
  // touches none of its fields.
  ProtocolHandler* old = protocol;
  ProtocolHandler* handler = nullptr;
  if (id == ProtocolUci) {
    gLog.Info("using protocol UCI");
    handler = new UciProtocol(this);
  } else if (id == ProtocolXBoard) {
    gLog.Info("using protocol XBoard");
    handler = new XBoardProtocol(this);
  } else {
    handler = new ProtocolChooser(this);
  }
  lock.Lock();
  protocol = handler;
  protocolId = id;
  lock.Unlock();
  delete old;
  handler->Start();
  if (id == ProtocolUci) return handler->ProcessCommand("uci");
  if (id == ProtocolXBoard) return handler->ProcessCommand("xboard");
  return 1;
}

i32 ProtocolManager::StartSearch(i32 ponder) {
  lock.Lock();
  StartSearchLocked(ponder);
  lock.Unlock();
  return 1;
}

void ProtocolManager::StartSearchLocked(i32 ponder) {
  // The stop reason is cleared here rather than when Think starts, so that a
  // stop arriving before the search has started is not lost.
  engine->stopReason = StopNone;
  searchRequestPonder = ponder;
  searchPending = 1;
  searchBusy = 1;
  ponderSearchOpen = ponder != 0 && engine->ponderEnabled != 0;
  ponderReply = 0;
  answerHeld = 0;
  wakeUp.Signal();
}

void ProtocolManager::StopSearchLocked(i32 kind) {
  if (!searchBusy) return;
  // A search that has not started yet keeps the stop and answers at once
  // with the first of its root moves (a quit ends it with no move).
  if (kind == StopQuit)
    engine->stopReason = StopQuit;
  else if (engine->stopReason != StopQuit)
    engine->stopReason = engine->searching && engine->pondering ? StopPonder : StopNormal;
}

bool ProtocolManager::PonderHitLocked() {
  if (!searchBusy) return false;
  if (searchPending) {
    searchRequestPonder = 0;
    return false;
  }
  engine->ponderHitLatch = 1;
  if (!engine->searching) return false;
  engine->pondering = 0;
  // The next poll of the search measures the time at once.
  engine->limits.pollCounter = engine->limits.pollPeriod;
  // Without an input thread this runs on the searching thread itself, which
  // may poll at once; another thread must leave the poll to the search.
  return !threadedInput;
}

void ProtocolManager::DeferLocked(const char* line, CommandKind kind, bool tooLong) {
  queue.push_back(QueuedLine{line, kind, tooLong});
  if (kind == CommandKind::Starter) ++queuedStarters;
  wakeUp.Signal();
}

void ProtocolManager::SendLine(const char* text) {
  LogDialogueLine(">>", text, std::strlen(text));
  std::puts(text);
}

void ProtocolManager::SendFormatted(const char* format, ...) {
  // A line is never cut: one longer than the buffer (a refused command
  // quoted whole) is formatted again into room of its own.
  char buffer[4096];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::vector<char> longer;
  const char* text = buffer;
  if (length < 0) {
    buffer[0] = 0;
  } else if (static_cast<std::size_t>(length) >= sizeof buffer) {
    longer.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(longer.data(), longer.size(), format, again);
    text = longer.data();
  }
  va_end(again);
  std::puts(text);
  LogDialogueLine(">>", text, std::strlen(text));
}

void ProtocolManager::MovesToString(const Move* moves, i32 count, char* out) const {
  static const char PromotionLetters[] = "0pnbrqk";
  const bool chess960 = engine && engine->board.chess960;
  char* p = out;
  for (i32 i = 0; i < count; ++i) {
    const Move move = moves[i];
    const i32 from = FromSquare(move);
    i32 to = ToSquare(move);
    if (IsCastling(move) && !chess960) {
      // The king's destination instead of the rook's square.
      if (to == 7) to = 6;
      else if (to == 0) to = 2;
      else if (to == 56) to = 58;
      else if (to == 63) to = 62;
    }
    if (i > 0) *p++ = ' ';
    *p++ = static_cast<char>('a' + FileOf(from));
    *p++ = static_cast<char>('1' + RankOf(from));
    *p++ = static_cast<char>('a' + FileOf(to));
    *p++ = static_cast<char>('1' + RankOf(to));
    if (PromotionPiece(move)) *p++ = PromotionLetters[PromotionPiece(move)];
  }
  *p = 0;
}

void ProtocolManager::RunProtocolMode() {
  lineBuffer = new char[LineBufferSize]();
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  // Without a buffer of its own, standard input holds no line that the
  // search's select() cannot see.
  std::setvbuf(stdin, nullptr, _IONBF, 0);
  engine->useInputThread = settings.UseInputThread != 0 ? 1 : 0;

  // The banner goes out before any command can be read.
  SendFormatted("Zorvel %s (%s) by Vesquet", EngineVersion, settings.wordSizeLabel);
  if (settings.UseInputThread != 0) {
    searchPending = 0;
    // Set before the thread runs, which reads it; cleared only if it never ran.
    threadedInput = 1;
    if (!LaunchInputThread()) {
      // Without it the main thread reads, and the search polls the input.
      threadedInput = 0;
      engine->useInputThread = 0;
    }
  }
  RunCommandLoop();
}

bool ProtocolManager::LaunchInputThread() {
  inputThread = new InputThread(this);
  return inputThread->Launch();
}

void ProtocolManager::Shutdown() {
  // The input thread goes first: once it has ended no command can reach the
  // engine while it is taken down. It ends within its poll interval of the
  // quit flag.
  if (inputThread) {
    if (inputThread->started) {
      inputThread->RequestStop();
      pthread_join(inputThread->handle, nullptr);
      inputThread->handle = pthread_t{};
      inputThread->started = 0;
    }
    delete inputThread;
    inputThread = nullptr;
  }
  if (engine) {
    ponderOption = 0;
    engine->ponderEnabled = 0;
    engine->pondering = 0;
    engine->ponderMove = 0;
    if (engine->searching) engine->stopReason = StopQuit;
    engine->Shutdown();
  }
  delete protocol;
  protocol = nullptr;
  delete[] lineBuffer;
  lineBuffer = nullptr;
  delete engine;
  engine = nullptr;
  gLog.Info("End.");
  gLog.Close();
}

i32 ProtocolManager::ReadLine() {
  const LineRead read = input.Next(lineBuffer, LineBufferSize);
  if (read == LineRead::End) {
    // A line that never ends leaves nothing more to read.
    if (input.endless) gLog.Error("Input line %d does not end, input closed", input.lineNumber);
    return 0;
  }
  // A line too long is consumed whole and logged; its rest is no command,
  // and its start names it when it is refused.
  if (read == LineRead::TooLong) return -1;
  // Blanks around a command, and the CR of an interface that ends its lines
  // with CR LF, do not count.
  const std::size_t length = CutLineEnd(lineBuffer, std::strlen(lineBuffer));
  const char* start = SkipLineBlanks(lineBuffer);
  if (start != lineBuffer)
    std::memmove(lineBuffer, start, length - static_cast<std::size_t>(start - lineBuffer) + 1);
  return 1;
}

void ProtocolManager::HandleRead(i32 read) {
  if (read > 0)
    HandleInputLine(lineBuffer);
  else if (read < 0)
    HandleInputLine(lineBuffer, true);
  else
    HandleEndOfInput();
}

void ProtocolManager::HandleInputLine(const char* line, bool tooLong) {
  // Logged under the lock, as the listeners log their output: a line the
  // log shows after this one was written after the line was read and, for
  // a line that waits for the busy search, after that search was told.
  lock.Lock();
  LogDialogueLine("<<", line, std::strlen(line), tooLong);
  if (!*line && !tooLong) {
    lock.Unlock();
    return;
  }
  if (quit) {
    lock.Unlock();
    return;
  }
  const CommandKind kind = tooLong ? protocol->LongLineKind() : protocol->Classify(line);
  bool runNow = false;
  switch (kind) {
    case CommandKind::Immediate:
      runNow = true;
      break;
    case CommandKind::Control:
      // With a search busy it belongs to that search, unless a line that may
      // start another one waits before it.
      runNow = searchBusy ? queuedStarters == 0 : queue.empty();
      break;
    case CommandKind::InOrder:
      runNow = queue.empty();
      break;
    case CommandKind::Starter:
    case CommandKind::Deferred:
      runNow = !searchBusy && queue.empty();
      break;
  }
  if (!runNow) {
    DeferLocked(line, kind, tooLong);
    if (searchBusy && !tooLong) protocol->LineWaitsLocked(line);
    lock.Unlock();
    return;
  }
  lock.Unlock();
  RunCommand(line, tooLong);
}

void ProtocolManager::HandleEndOfInput() {
  lock.Lock();
  if (quit || endOfInput) {
    lock.Unlock();
    return;
  }
  gLog.Info("end of input");
  // The command loop ends the program once the busy search, if any, has
  // answered; lines still waiting are dropped as on "quit".
  endOfInput = 1;
  if (searchBusy) protocol->StopAtEndOfInputLocked();
  wakeUp.Signal();
  lock.Unlock();
}

void ProtocolManager::RunCommand(const char* line, bool tooLong) {
  if (threadedInput && pthread_mutex_trylock(&commandLock.mutex) != 0) {
    if (commandWaitHook) commandWaitHook();
    commandLock.Lock();
  }
  i32 result = 1;
  if (tooLong)
    protocol->RefuseLongLine(line);
  else
    result = protocol->ProcessCommand(line);
  if (threadedInput) commandLock.Unlock();
  if (result == 0) SetQuit();
}

void ProtocolManager::SetQuit() {
  lock.Lock();
  quit = 1;
  searchPending = 0;
  wakeUp.Signal();
  lock.Unlock();
}

void ProtocolManager::RunCommandLoop() {
  lock.Lock();
  while (!quit) {
    if (endOfInput && !searchBusy) {
      lock.Unlock();
      RunCommand("quit");
      if (!quit) SetQuit();
      lock.Lock();
      break;
    }
    if (!queue.empty()) {
      const CommandKind kind = queue.front().kind;
      if (!searchBusy || kind == CommandKind::Immediate || kind == CommandKind::Control ||
          kind == CommandKind::InOrder) {
        // The line stays queued while it runs, so that lines arriving
        // meanwhile keep their place behind it.
        const std::string text = queue.front().text;
        const bool tooLong = queue.front().tooLong;
        lock.Unlock();
        RunCommand(text.c_str(), tooLong);
        lock.Lock();
        if (queue.front().kind == CommandKind::Starter) --queuedStarters;
        queue.pop_front();
        continue;
      }
      // The line that waits first may end the busy search, as it would
      // have on arrival had it found no line before it.
      if (!queue.front().tooLong) protocol->LineWaitsLocked(queue.front().text.c_str());
      // A search is requested: the control lines queued for it (up to the
      // next line that may start another search) reach it now, ahead of
      // the lines that wait for its end.
      auto control = queue.begin();
      while (control != queue.end() && control->kind != CommandKind::Starter &&
             control->kind != CommandKind::Control)
        ++control;
      if (control != queue.end() && control->kind == CommandKind::Control) {
        const std::string text = control->text;
        const bool tooLong = control->tooLong;
        queue.erase(control);
        lock.Unlock();
        RunCommand(text.c_str(), tooLong);
        lock.Lock();
        continue;
      }
    }
    if (searchPending) {
      // A search requested after the end of the input still answers, at once.
      if (endOfInput) protocol->StopAtEndOfInputLocked();
      const i32 ponder = searchRequestPonder;
      engine->ponderHitLatch = 0;
      searchPending = 0;
      lock.Unlock();
      engine->Think(ponder, false);
      if (threadedInput) commandLock.Lock();
      protocol->AfterSearch();
      if (searchEndHook) searchEndHook();
      lock.Lock();
      // After the end of the input no further search starts.
      if (endOfInput) searchPending = 0;
      if (!searchPending) searchBusy = 0;
      // Only now may the next command run: one that found the search busy
      // and left work for its end ran before AfterSearch, which did that
      // work; any later one finds the search over.
      if (threadedInput) commandLock.Unlock();
      continue;
    }
    if (threadedInput) {
      wakeUp.Wait(lock);
      continue;
    }
    lock.Unlock();
    HandleRead(ReadLine());
    lock.Lock();
  }
  lock.Unlock();
}
