#include "e2e/e2e_support.h"

#include <sstream>
#include <stdexcept>

#include "board/attacks.h"
#include "board/fen.h"
#include "board/movegen.h"

std::string TestIni(int useInputThread, const std::string& extraLines) {
  std::string text = "# written by the tests\nHash=4\nUseInputThread=" +
                     std::to_string(useInputThread) + "\n";
  return text + extraLines;
}

Session::Session(const std::string& ini, const std::vector<std::string>& args,
                 const std::string& errorFile) {
  if (!ini.empty()) dir_.Write("zorvel.ini", ini);
  process_.reset(new EngineProcess(dir_.path(), args, errorFile));
}

int Session::Quit() {
  process_->Send("quit");
  return process_->WaitExit(ScaledTimeout(10000));
}

bool Session::StartUci() {
  Send("uci");
  return !WaitFor("uciok", 20000).empty();
}

bool Session::StartXBoard() {
  Send("xboard");
  Send("protover 2");
  return !WaitFor("feature done=1", 20000).empty();
}

bool Session::Sync() {
  Send("isready");
  return !WaitFor("readyok").empty();
}

GameTracker::GameTracker(const std::string& fen) {
  static const bool tablesBuilt = (InitAttackTables(), true);
  (void)tablesBuilt;
  if (fen.empty()) {
    board.SetStartPosition();
    return;
  }
  i8 pieces[64];
  i32 side = 0, rights = 0, ep = 0, fullmove = 0, halfmove = 0, consumed = 0;
  i32 rookFiles[4];
  if (!ParseFen(fen.c_str(), pieces, &side, &rights, &ep, &fullmove, &halfmove, rookFiles,
                &consumed))
    throw std::runtime_error("bad FEN in a test: " + fen);
  board.SetPosition(pieces, side, static_cast<u8>(rights), static_cast<u8>(ep),
                    static_cast<u8>(halfmove), rookFiles);
}

namespace {

std::string Text(Move move, bool chess960) {
  i32 to = ToSquare(move);
  if (IsCastling(move) && !chess960) {
    // Standard chess: the king's destination on the rook's side; Chess960
    // keeps the king taking its own rook.
    to = ToSquare(move) > FromSquare(move) ? FromSquare(move) + 2 : FromSquare(move) - 2;
  }
  std::string text;
  text += static_cast<char>('a' + FileOf(FromSquare(move)));
  text += static_cast<char>('1' + RankOf(FromSquare(move)));
  text += static_cast<char>('a' + FileOf(to));
  text += static_cast<char>('1' + RankOf(to));
  if (PromotionPiece(move)) text += "0pnbrqk"[PromotionPiece(move)];
  return text;
}

}  // namespace

Move GameTracker::MoveWord(const std::string& move) const {
  ScoredMove list[MaxMoves];
  Board copy = board;
  const i32 count = GenerateMoves(copy, list, copy.InCheck());
  for (i32 i = 0; i < count; ++i) {
    if (Text(list[i].move, board.chess960 != 0) != move) continue;
    UndoInfo undo;
    copy.MakeMove(list[i].move, undo);
    const bool legal = !copy.IsAttacked(copy.kingSquare[copy.opponent], copy.sideToMove);
    copy.UnmakeMove(list[i].move, undo);
    if (legal) return list[i].move;
  }
  return 0;
}

std::vector<std::string> GameTracker::LegalMoves() const {
  ScoredMove list[MaxMoves];
  Board copy = board;
  const i32 count = GenerateMoves(copy, list, copy.InCheck());
  std::vector<std::string> moves;
  for (i32 i = 0; i < count; ++i) {
    UndoInfo undo;
    copy.MakeMove(list[i].move, undo);
    if (!copy.IsAttacked(copy.kingSquare[copy.opponent], copy.sideToMove))
      moves.push_back(Text(list[i].move, board.chess960 != 0));
    copy.UnmakeMove(list[i].move, undo);
  }
  return moves;
}

bool GameTracker::IsLegal(const std::string& move) const { return MoveWord(move) != 0; }

bool GameTracker::Play(const std::string& move) {
  const Move word = MoveWord(move);
  if (!word) return false;
  UndoInfo undo;
  board.MakeMove(word, undo);
  return true;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::string MoveOfLine(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  if (words.size() >= 2 && (words[0] == "bestmove" || words[0] == "move")) return words[1];
  return "";
}

std::string BookFileBytes(const std::vector<BookRecord>& records, u32 announcedCount) {
  std::string bytes = "BOOK";
  auto put = [&bytes](u64 value, int width) {
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(0x00020000, 4);
  put(announcedCount, 4);
  for (const BookRecord& record : records) {
    put(record.key, 8);
    put(record.move, 4);
    put(record.count, 2);
    put(record.points, 2);
  }
  return bytes;
}
