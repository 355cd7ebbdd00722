// FEN reading, long algebraic move text, SAN origin lookup and the board
// display.
#include "board/fen.h"

#include <cstdio>

#include "board/attacks.h"

namespace {

i32 PieceCode(char c) {
  switch (c) {
    case 'P': return Pawn;
    case 'N': return Knight;
    case 'B': return Bishop;
    case 'R': return Rook;
    case 'Q': return Queen;
    case 'K': return King;
    case 'p': return -Pawn;
    case 'n': return -Knight;
    case 'b': return -Bishop;
    case 'r': return -Rook;
    case 'q': return -Queen;
    case 'k': return -King;
    default: return 0;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One king per side, no pawn on the first or last rank and no more material
// than promotions can give: the move lists have room for every position a
// game can reach, and the board operations need both kings. Null when the
// placement passes, else the reason.
const char* ImplausibleMaterial(const i8 pieces[64]) {
  i32 count[2][8] = {};
  for (i32 sq = 0; sq < 64; ++sq) {
    const i32 code = pieces[sq];
    // A pawn on the first or last rank could step off the board.
    if ((code == Pawn || code == -Pawn) && (sq < 8 || sq >= 56))
      return "a pawn on the first or last rank";
    if (code > 0) ++count[White][code];
    if (code < 0) ++count[Black][-code];
  }
  for (const i32 c : {White, Black}) {
    const i32* n = count[c];
    if (n[King] == 0) return c == White ? "no white king" : "no black king";
    if (n[King] > 1) return c == White ? "more than one white king" : "more than one black king";
    if (n[Pawn] > 8) return c == White ? "more than eight white pawns" : "more than eight black pawns";
    auto extra = [](i32 have, i32 start) { return have > start ? have - start : 0; };
    const i32 promoted =
        extra(n[Knight], 2) + extra(n[Bishop], 2) + extra(n[Rook], 2) + extra(n[Queen], 1);
    if (n[Pawn] + promoted > 8)
      return c == White ? "more white pieces than promotions can give"
                        : "more black pieces than promotions can give";
  }
  return nullptr;
}

// A blank, or a control character such as the line end of a text read from
// a file.
bool IsGap(char c) { return c == ' ' || (c > 0 && c < 32); }

// Every field ends at a blank, at the end of the text (or of its line), or at
// a ';' that starts the operations of an EPD line.
bool FieldEnds(char c) { return c == '\0' || c == ';' || IsGap(c); }

// Reads a move counter at p: "-" (0) or decimal digits, held to the limit,
// ending where a field ends. When it reads, the value is stored, p moves past
// it and the result is true; otherwise nothing changes.
bool ReadCounter(const char*& p, i32 limit, i32* value) {
  const char* q = p;
  i32 number = 0;
  if (*q == '-') {
    ++q;
  } else if (IsDigit(*q)) {
    for (; IsDigit(*q); ++q) {
      number = number * 10 + (*q - '0');
      if (number > limit) number = limit;
    }
  } else {
    return false;
  }
  if (!FieldEnds(*q)) return false;
  *value = number;
  p = q;
  return true;
}

i32 Refuse(const char** reason, const char* text) {
  if (reason) *reason = text;
  return 0;
}

}  // namespace

i32 ParseFen(const char* text, i8 pieces[64], i32* side, i32* castleRights, i32* epFile,
             i32* fullmoveNumber, i32* halfmoveClock, i32 castleRookFiles[4], i32* consumed,
             const char** reason) {
  if (reason) *reason = nullptr;
  for (i32 sq = 0; sq < 64; ++sq) pieces[sq] = 0;
  *side = White;
  *castleRights = 0;
  *epFile = 0;
  *fullmoveNumber = 0;
  *halfmoveClock = 0;
  castleRookFiles[0] = 0;
  castleRookFiles[1] = 7;
  castleRookFiles[2] = 0;
  castleRookFiles[3] = 7;
  *consumed = 0;

  // Placement, from a8. A rank may end early at "/", but never holds more
  // than eight squares, and there are at most eight ranks.
  i32 rank = 7;
  i32 file = 0;
  i32 kingFile[2] = {0, 0};
  const char* p = text;
  for (;; ++p) {
    const char c = *p;
    if (rank == 0 && file == 8) {
      if (c == '\0') return Refuse(reason, "no side to move");
      if (c == '/') return Refuse(reason, "more than eight ranks");
      if (c != ' ') return Refuse(reason, "more than eight squares in the last rank");
      break;
    }
    if (c == ' ') break;
    if (c >= '1' && c <= '8') {
      file += c - '0';
      if (file > 8) return Refuse(reason, "more than eight squares in a rank");
    } else if (c == '/') {
      if (rank == 0) return Refuse(reason, "more than eight ranks");
      --rank;
      file = 0;
    } else if (const i32 code = PieceCode(c)) {
      if (file >= 8) return Refuse(reason, "more than eight squares in a rank");
      pieces[rank * 8 + file] = static_cast<i8>(code);
      if (code == King) kingFile[White] = file;
      if (code == -King) kingFile[Black] = file;
      ++file;
    } else if (c == '\0') {
      return Refuse(reason, "no side to move");
    } else {
      return Refuse(reason, "a character that is no piece letter, digit 1-8 or '/' in the placement");
    }
  }
  if (const char* why = ImplausibleMaterial(pieces)) return Refuse(reason, why);
  ++p;  // the blank

  // Side to move.
  if (*p == 'w')
    *side = White;
  else if (*p == 'b')
    *side = Black;
  else
    return Refuse(reason, "the side to move is not 'w' or 'b'");
  ++p;
  if (!FieldEnds(*p)) return Refuse(reason, "the side to move is not 'w' or 'b'");
  if (*p != ' ') return 1;
  ++p;

  // Castling: "-", KQkq, or rook files (Chess960, upper case for White).
  const char* const badCastling = "castling rights other than '-', K, Q, k, q or rook files";
  if (*p == '-') {
    ++p;
  } else {
    for (i32 n = 0; n < 4 && !FieldEnds(*p); ++n, ++p) {
      const char c = *p;
      if (c == 'K') {
        *castleRights |= CastleWhiteShort;
      } else if (c == 'Q') {
        *castleRights |= CastleWhiteLong;
      } else if (c == 'k') {
        *castleRights |= CastleBlackShort;
      } else if (c == 'q') {
        *castleRights |= CastleBlackLong;
      } else if (c >= 'A' && c <= 'H') {
        const i32 rookFile = c - 'A';
        if (rookFile > kingFile[White]) {
          *castleRights |= CastleWhiteShort;
          castleRookFiles[3] = rookFile;
        } else {
          *castleRights |= CastleWhiteLong;
          castleRookFiles[2] = rookFile;
        }
      } else if (c >= 'a' && c <= 'h') {
        const i32 rookFile = c - 'a';
        if (rookFile > kingFile[Black]) {
          *castleRights |= CastleBlackShort;
          castleRookFiles[1] = rookFile;
        } else {
          *castleRights |= CastleBlackLong;
          castleRookFiles[0] = rookFile;
        }
      } else {
        return Refuse(reason, badCastling);
      }
    }
  }
  if (!FieldEnds(*p)) return Refuse(reason, badCastling);
  if (*p != ' ') return 1;
  ++p;

  // En passant: the target square, on rank 6 with White to move, rank 3
  // with Black to move.
  if (*p == '-') {
    ++p;
  } else if (*p >= 'a' && *p <= 'h') {
    const i32 epTargetFile = *p - 'a';
    ++p;
    if (*p != (*side == White ? '6' : '3'))
      return Refuse(reason, *side == White ? "the en-passant square is not on rank 6 (White to move)"
                                           : "the en-passant square is not on rank 3 (Black to move)");
    ++p;
    *epFile = epTargetFile + 1;
  } else if (*p == '\0') {
    return 1;
  } else {
    return Refuse(reason, "the en-passant field is neither '-' nor a square");
  }
  if (!FieldEnds(*p)) return Refuse(reason, "the en-passant field is neither '-' nor a square");
  if (*p != ' ') return 1;

  // The two move counters follow, each used when it reads. From the first
  // one that does not, what follows is passed over: EPD operations ("bm
  // e5;"), a comment, or any other text.
  while (IsGap(*p)) ++p;
  if (!ReadCounter(p, 255, halfmoveClock)) return 1;  // kept in 8 bits
  if (!IsGap(*p)) return 1;
  while (IsGap(*p)) ++p;
  if (!ReadCounter(p, 99999, fullmoveNumber)) return 1;
  *consumed = static_cast<i32>(p - text);
  return 1;
}

const char* ReadFenPosition(const char* text, Board& position, i32* fullmoveNumber) {
  i8 pieces[64];
  i32 side, rights, epFile, fullmove, halfmove, rookFiles[4], consumed;
  const char* reason = nullptr;
  if (!ParseFen(text, pieces, &side, &rights, &epFile, &fullmove, &halfmove, rookFiles, &consumed,
                &reason))
    return reason;
  InitAttackTables();  // the king test needs them; built once
  Board board = position;
  board.SetPosition(pieces, side, static_cast<u8>(rights), static_cast<u8>(epFile),
                    static_cast<u8>(halfmove), rookFiles);
  // The side to move must not be able to take a king: no board operation
  // or search is made for a position without one.
  if (board.IsAttacked(board.kingSquare[board.opponent], board.sideToMove))
    return "the side to move can take the king";
  position = board;
  if (fullmoveNumber) *fullmoveNumber = fullmove;
  return nullptr;
}

void MoveToLongAlgebraic(const Move* move, char* out) {
  static const char PieceLetters[] = "  NBRQK";
  const Move m = *move;
  if (m == 0) {
    out[0] = '\0';
    return;
  }
  const i32 from = FromSquare(m);
  const i32 to = ToSquare(m);
  if (IsCastling(m)) {
    const char* text = FileOf(to) < FileOf(from) ? "O-O-O" : "O-O";
    i32 i = 0;
    for (; text[i]; ++i) out[i] = text[i];
    out[i] = '\0';
    return;
  }
  char* o = out;
  if (MovingPiece(m) != Pawn) *o++ = PieceLetters[MovingPiece(m)];
  *o++ = static_cast<char>('a' + FileOf(from));
  *o++ = static_cast<char>('1' + RankOf(from));
  *o++ = CapturedPiece(m) != NoPiece ? 'x' : '-';
  *o++ = static_cast<char>('a' + FileOf(to));
  *o++ = static_cast<char>('1' + RankOf(to));
  if (IsEnPassant(m)) {
    *o++ = 'e';
    *o++ = '.';
    *o++ = 'p';
  }
  if (PromotionPiece(m) != NoPiece) {
    *o++ = '=';
    *o++ = PieceLetters[PromotionPiece(m)];
  }
  if (MoveMark(m) == 1) *o++ = '+';
  if (MoveMark(m) == 2) *o++ = '#';
  *o = '\0';
}

bool Board::FindMoveOrigin(i32 to, i32 pieceType, i32 fromFile, i32 fromRank, i32* origin,
                           i32* captured) const {
  const i32 side = sideToMove;
  const u64* own = pieces[side];
  u64 candidates;
  switch (pieceType) {
    case Knight: candidates = KnightAttacks[to] & own[Knight]; break;
    case Bishop: candidates = BishopAttacks(to, occupied) & own[Bishop]; break;
    case Rook: candidates = RookAttacks(to, occupied) & own[Rook]; break;
    case Queen: candidates = (BishopAttacks(to, occupied) | RookAttacks(to, occupied)) & own[Queen]; break;
    case King: candidates = KingAttacks[to] & own[King]; break;
    default: return false;
  }
  if (fromFile >= 0 && fromFile < 8) candidates &= FileMask[fromFile];
  if (fromRank >= 0 && fromRank < 8) candidates &= RankMask[fromRank];
  if (candidates == 0) return false;

  if (!MoreThanOne(candidates)) {
    *origin = LowestSquare(candidates);
    *captured = squares[to];
    return true;
  }

  // Several pieces fit the text: the one that is not pinned moves.
  *origin = -1;
  const i32 k = kingSquare[side];
  const u64* enemy = pieces[opponent];
  while (candidates) {
    const i32 x = PopLowestSquare(candidates);
    const u64 occ = occupied & ~SquareMask[x];
    const bool onLine = FileOf(x) == FileOf(k) || RankOf(x) == RankOf(k);
    u64 pinners = (RookAttacks(k, occ) | BishopAttacks(k, occ)) &
                  (enemy[Queen] | (onLine ? enemy[Rook] : enemy[Bishop]));
    bool pinned = false;
    while (pinners) {
      const i32 p = PopLowestSquare(pinners);
      if (p != to && (Between[k][p] & SquareMask[x])) pinned = true;
    }
    if (!pinned) {
      *origin = x;
      *captured = squares[to];
      return true;
    }
  }
  return false;
}

void Board::Print() const {
  static const char WhiteLetters[] = " PNBRQK";
  static const char BlackLetters[] = " pnbrqk";
  static const char Rule[] = "|---|---|---|---|---|---|---|---|";
  std::printf("%s\n", Rule);
  for (i32 rank = 7; rank >= 0; --rank) {
    std::printf("|");
    for (i32 file = 0; file < 8; ++file) {
      const i32 sq = MakeSquare(file, rank);
      const char letter =
          (occupiedBy[White] >> sq & 1) ? WhiteLetters[squares[sq]] : BlackLetters[squares[sq]];
      std::printf(" %c |", letter);
    }
    std::printf("\n%s\n", Rule);
  }
  std::printf("%s\n", sideToMove == White ? "White to play" : "Black to play");
}
