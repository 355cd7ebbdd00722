// The engine object: creation, initialisation, shutdown and the game record.
#include "engine/engine.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "board/attacks.h"
#include "board/fen.h"
#include "common/log.h"
#include "engine/eval_tables.h"
#include "engine/kpk.h"

i32 LmrTable[64][64];
i32 LateMovePruningCount[16];
i32 drawScore = 0;
i32 minSplitDepth = 16;

namespace {

constexpr i32 MoveCountLimits[16] = {4, 6, 9, 15, 22, 31, 42, 54, 69, 85, 103, 123, 144, 168, 193, 220};

// The board of a new engine and of one that has shut down: nothing on it.
void SetEmptyBoard(Board& b) {
  b = Board{};
  b.sideToMove = White;
  b.materialSignature = StartSignatureHalf | (StartSignatureHalf << 32);
  b.castleRights = 15;
  b.kingSquare[0] = 4;
  b.kingSquare[1] = 60;
}

// A pawn move, a capture or castling can never be undone, so no earlier
// position can come back after it.
bool IsIrreversible(Move move) {
  return MovingPiece(move) == Pawn || CapturedPiece(move) != NoPiece || IsCastling(move);
}

bool IsPromotionLetter(char c) { return c == 'q' || c == 'r' || c == 'b' || c == 'n'; }

i32 PromotionFromLetter(char c) {
  switch (c) {
    case 'q': return Queen;
    case 'r': return Rook;
    case 'b': return Bishop;
    default: return Knight;
  }
}

// The letter of one castling right: "KQkq" when the right's rook is the
// outermost of its side on that wing, else the rook's file (Chess960), upper
// case for White, so that reading the text back finds the same rook.
char CastlingLetter(const Board& b, i32 colour, i32 kind) {
  const i32 rookSquare = b.castleRookSquare[kind][colour];
  const i32 edge = kind == CastleShort ? 7 : 0;
  const i32 step = kind == CastleShort ? 1 : -1;
  bool outermost = true;
  for (i32 file = FileOf(rookSquare); file != edge && outermost;) {
    file += step;
    outermost = !(b.pieces[colour][Rook] >> MakeSquare(file, RankOf(rookSquare)) & 1);
  }
  const char base = colour == White ? 'A' : 'a';
  if (!outermost) return static_cast<char>(base + FileOf(rookSquare));
  if (kind == CastleShort) return colour == White ? 'K' : 'k';
  return colour == White ? 'Q' : 'q';
}

bool IsFile(char c) { return c >= 'a' && c <= 'h'; }
bool IsRank(char c) { return c >= '1' && c <= '8'; }

void BuildLmrTable() {
  for (i32 d = 0; d < 64; ++d) {
    for (i32 m = 0; m < 64; ++m) {
      if (d == 0 || m == 0) {
        LmrTable[d][m] = 0;
        continue;
      }
      const double r = std::log(static_cast<double>(d)) * std::log(static_cast<double>(m)) *
                           0.3333333333333333 +
                       0.5;
      i32 value = r < 1.0 ? 0 : static_cast<i32>(r);
      LmrTable[d][m] = value > 10 ? 10 : value;
    }
  }
}

}  // namespace

Engine::Engine() {
  SetEmptyBoard(board);
  mainContext.pool = &pool;
  mainContext.personality = this;
  mainContext.tt = &tt;
  mainContext.keyCount = 0;
  if (!pool.lock.initialised) pool.lock.Init();
  gameHistory.reserve(512);
}

Engine::~Engine() {
  gameHistory.clear();
  bookEntries.clear();
  bookCount = 0;
  pool.StopAll();
  tt.Free();
}

void Engine::Init(i32 hashMb) {
  InitAttackTables();
  personality.Init(0);
  InitPieceSquareTables();
  InitKpkBitbase();

  mainContext.keyCount = 0;
  limits.hashMb = hashMb;
  tt.Resize(hashMb);
  gLog.Info("Pawns hash table size : %d Kb by thread", 2048);

  gameHistory.clear();
  gameKeyCount = 0;
  bestMove = 0;
  startMoveNumber = 0;
  board.SetStartPosition();

  BuildLmrTable();
  pool.engine = this;
  for (i32 i = 0; i < 16; ++i) LateMovePruningCount[i] = MoveCountLimits[i];

  pool.CreateThreads();

  LinkMainThread();
  mainContext.board = board;

  tools.engine = this;
  tools.board = &board;
}

void Engine::LinkMainThread() {
  SearchThread* thread0 = pool.mainThread;
  mainContext.engine = this;
  mainContext.thread = thread0;
  mainContext.killers = thread0 ? thread0->killers : nullptr;
  mainContext.history = thread0 ? thread0->history : nullptr;
  board.owner = thread0;
  mainContext.board.owner = thread0;
}

void Engine::SetThreadCount(i64 threads) {
  pool.SetThreadCount(threads);
  gLog.Info("Using %d threads", pool.threadCount);
  LinkMainThread();
}

void Engine::NewGame() {
  gameHistory.clear();
  limits.searchesThisGame = 0;
  searching = 0;
  pondering = 0;
  ponderMove = 0;
  limits.baseTime = 300000;
  limits.timeLimit = 7500;
  limits.pollCounter = 0;
  limits.increment[Black] = limits.increment[White] = 0;
  limits.mode = ModeMoveTime;
  limits.depthLimit = 8;
  limits.pollPeriod = PollPeriodCalls;
  limits.movesToGo = 40;
  limits.nodeLimit = 2000000;
  limits.moveTime = 5000000;
  gameKeyCount = 0;
  bestMove = 0;
  startMoveNumber = 0;
  board.SetStartPosition();
  if (tt.HasStorage()) tt.Clear();
  tt.age = 0;
  for (SearchThread* t : pool.threads)
    if (t) std::memset(t->history, 0, sizeof t->history);
  for (SearchThread* t : pool.threads)
    if (t) std::memset(t->killers, 0, sizeof t->killers);
  limits.clock[Black] = limits.clock[White] = static_cast<float>(limits.baseTime);
}

void Engine::Shutdown() {
  pondering = 0;
  ponderEnabled = 0;
  ponderMove = 0;
  if (searching) stopReason = StopQuit;
  pool.StopAll();
  // Thread 0 is gone: nothing may point at its tables any more.
  mainContext.thread = nullptr;
  mainContext.killers = nullptr;
  mainContext.history = nullptr;
  mainContext.board.owner = nullptr;
  tools.engine = nullptr;
  tools.board = nullptr;
  SetEmptyBoard(board);
  tt.Free();
}

void Engine::PushGameKey(u64 key) {
  // A longer run of reversible moves than the stack holds keeps its newest
  // keys: only recent positions can repeat within a search's reach.
  if (gameKeyCount >= GameKeyStackSize) {
    std::memmove(gameKeys, gameKeys + 1, sizeof(u64) * (GameKeyStackSize - 1));
    gameKeyCount = GameKeyStackSize - 1;
  }
  gameKeys[gameKeyCount++] = key;
}

void Engine::RecordGameMove(Move move) {
  const u64 keyBefore = board.key;
  UndoInfo undo;
  board.MakeMove(move, undo);
  if (IsIrreversible(move))
    gameKeyCount = 0;
  else
    PushGameKey(keyBefore);
  gameHistory.push_back(undo);
}

Move Engine::BuildGameMove(i32 from, i32 to, i32 promotion) const {
  const Board& b = board;
  const i32 side = b.sideToMove;
  const i32 piece = b.squares[from];
  i32 captured = NoPiece;
  Move flags = 0;

  if (piece == Pawn) {
    const i32 rankStep = RankOf(to) - RankOf(from);
    if (rankStep == 2 || rankStep == -2) flags |= MoveFlagDoublePush;
    if (FileOf(from) != FileOf(to) && b.squares[to] == NoPiece) {
      if (b.epFile != 0) {
        flags |= MoveFlagEnPassant;
        captured = Pawn;
      }
    } else {
      captured = b.squares[to];
    }
  } else if (piece == King) {
    if (!b.chess960 && from == b.castleKingSquare[side]) {
      // Standard chess writes castling as the king's two-square step.
      if (side == White && to == 6) to = b.castleRookSquare[CastleShort][White];
      else if (side == White && to == 2) to = b.castleRookSquare[CastleLong][White];
      else if (side == Black && to == 62) to = b.castleRookSquare[CastleShort][Black];
      else if (side == Black && to == 58) to = b.castleRookSquare[CastleLong][Black];
    }
    const bool rookSquare =
        to == b.castleRookSquare[CastleShort][side] || to == b.castleRookSquare[CastleLong][side];
    if (from == b.castleKingSquare[side] && rookSquare && (b.pieces[side][Rook] >> to & 1)) {
      flags |= MoveFlagCastle;
    } else {
      captured = b.squares[to];
    }
  } else {
    captured = b.squares[to];
  }
  return EncodeMove(from, to, piece, captured, promotion, flags);
}

bool Engine::PlayGameMove(Move move) {
  if (!board.IsPseudoLegal(move)) return false;
  UndoInfo undo;
  board.MakeMove(move, undo);
  const bool legal = !board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove);
  board.UnmakeMove(move, undo);
  if (!legal) return false;
  RecordGameMove(move);
  return true;
}

bool Engine::ParseAndMakeMove(const char* text) {
  if (!text) return false;
  i32 from, to, promotion = NoPiece;
  if (text[0] == 'O') {
    if (text[1] != '-' || text[2] != 'O') return ReportIllegalMove(text);
    const i32 kind = (text[3] == '-' && text[4] == 'O') ? CastleLong : CastleShort;
    from = board.castleKingSquare[board.sideToMove];
    to = board.castleRookSquare[kind][board.sideToMove];
  } else {
    if (!IsFile(text[0]) || !IsRank(text[1]) || !IsFile(text[2]) || !IsRank(text[3]))
      return ReportIllegalMove(text);
    from = MakeSquare(text[0] - 'a', text[1] - '1');
    to = MakeSquare(text[2] - 'a', text[3] - '1');
    if (text[4] != '\0' && text[5] == '\0') {
      if (!IsPromotionLetter(text[4])) return ReportIllegalMove(text);
      promotion = PromotionFromLetter(text[4]);
    }
  }
  if (!PlayGameMove(BuildGameMove(from, to, promotion))) return ReportIllegalMove(text);
  return true;
}

bool Engine::PlayMoveList(const char* text) {
  if (!text) return true;
  const char* p = text;
  while (*p) {
    const char* moveText = p;
    i32 from, to, promotion = NoPiece;
    if (p[0] == 'O') {
      if (p[1] != '-' || p[2] != 'O') return ReportIllegalMove(moveText);
      const bool isLong = p[3] == '-' && p[4] == 'O';
      from = board.castleKingSquare[board.sideToMove];
      to = board.castleRookSquare[isLong ? CastleLong : CastleShort][board.sideToMove];
      p += isLong ? 5 : 3;
    } else {
      if (!IsFile(p[0]) || !IsRank(p[1]) || !IsFile(p[2]) || !IsRank(p[3]))
        return ReportIllegalMove(moveText);
      from = MakeSquare(p[0] - 'a', p[1] - '1');
      to = MakeSquare(p[2] - 'a', p[3] - '1');
      if (p[4] == '\0') {
        p += 4;
      } else if (IsPromotionLetter(p[4])) {
        promotion = PromotionFromLetter(p[4]);
        // The character after the letter separates; at the end of the text
        // there is none to step over.
        p += p[5] == '\0' ? 5 : 6;
      } else if (p[4] == ' ') {
        p += 5;
      } else {
        return ReportIllegalMove(moveText);
      }
    }
    while (*p == ' ') ++p;
    if (!PlayGameMove(BuildGameMove(from, to, promotion))) return ReportIllegalMove(moveText);
  }
  return true;
}

bool Engine::UndoMove() {
  if (gameHistory.empty()) return false;
  const UndoInfo undo = gameHistory.back();
  board.UnmakeMove(undo.move, undo);
  gameHistory.pop_back();
  gameKeyCount = 0;
  for (const UndoInfo& record : gameHistory) {
    if (IsIrreversible(record.move))
      gameKeyCount = 0;
    else
      PushGameKey(record.key);
  }
  return true;
}

bool Engine::SetFen(const char* fen, const char** reason) {
  Board position = board;
  i32 fullmove = 0;
  const char* why = fen ? ReadFenPosition(fen, position, &fullmove) : "no position";
  if (reason) *reason = why;
  if (why) {
    gLog.Error("Invalid FEN string : '%s'", fen ? fen : "");
    return false;
  }
  gameHistory.clear();
  startMoveNumber = fullmove;
  gameKeyCount = 0;
  bestMove = 0;
  board = position;
  return true;
}

bool Engine::BoardToFen(const Board& position, char* out) const {
  static const char WhiteLetters[8] = {'?', 'P', 'N', 'B', 'R', 'Q', 'K', '?'};
  static const char BlackLetters[8] = {'?', 'p', 'n', 'b', 'r', 'q', 'k', '?'};
  char* o = out;
  for (i32 rank = 7; rank >= 0; --rank) {
    i32 empty = 0;
    for (i32 file = 0; file < 8; ++file) {
      const i32 sq = MakeSquare(file, rank);
      const u64 bit = 1ULL << sq;
      const i32 type = position.squares[sq] & 7;
      char letter = 0;
      if (position.occupiedBy[White] & bit) letter = WhiteLetters[type];
      else if (position.occupiedBy[Black] & bit) letter = BlackLetters[type];
      if (!letter) {
        ++empty;
        continue;
      }
      if (empty) *o++ = static_cast<char>('0' + empty);
      empty = 0;
      *o++ = letter;
    }
    if (empty) *o++ = static_cast<char>('0' + empty);
    if (rank > 0) *o++ = '/';
  }
  *o++ = ' ';
  *o++ = position.sideToMove == White ? 'w' : 'b';
  *o++ = ' ';
  if (position.castleRights == 0) {
    *o++ = '-';
  } else {
    const u8 rights = position.castleRights;
    if (rights & CastleWhiteShort) *o++ = CastlingLetter(position, White, CastleShort);
    if (rights & CastleWhiteLong) *o++ = CastlingLetter(position, White, CastleLong);
    if (rights & CastleBlackShort) *o++ = CastlingLetter(position, Black, CastleShort);
    if (rights & CastleBlackLong) *o++ = CastlingLetter(position, Black, CastleLong);
  }
  *o++ = ' ';
  if (position.epFile == 0) {
    *o++ = '-';
  } else {
    *o++ = static_cast<char>('a' + position.epFile - 1);
    *o++ = position.sideToMove == Black ? '3' : '6';
  }
  // The full-move number grows after each Black move, counted from the
  // number the record started at.
  const u32 plies = static_cast<u32>(gameHistory.size());
  const bool startedWithWhite = (position.sideToMove == White) == (plies % 2 == 0);
  const u32 start = startMoveNumber > 0 ? static_cast<u32>(startMoveNumber) : 1u;
  const u32 fullmove = start + (startedWithWhite ? plies / 2 : (plies + 1) / 2);
  std::snprintf(o, 32, " %u %u", static_cast<unsigned>(position.halfmoveClock),
                static_cast<unsigned>(fullmove));
  return true;
}

bool Engine::ReportIllegalMove(const char* text) {
  // Up to four characters, five when a fifth follows without a blank; never
  // past the end of a shorter text.
  char shown[6] = {0};
  i32 n = 0;
  if (text) {
    while (n < 4 && text[n] != '\0') {
      shown[n] = text[n];
      ++n;
    }
    if (n == 4 && text[4] != '\0' && text[4] != ' ') shown[n++] = text[4];
  }
  char line[32];
  std::snprintf(line, sizeof line, "Illegal move: %s", shown);
  listener->SendText(line);
  gLog.Error("%s", line);
  return false;
}
