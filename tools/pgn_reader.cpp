#include "tools/pgn_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "board/attacks.h"
#include "board/fen.h"
#include "common/line_reader.h"
#include "common/log.h"

namespace {

// Move numbers and annotation values are cut here, so that the ply
// arithmetic stays far from overflow whatever digits a file holds.
constexpr i32 NumberLimit = 100000000;

// Counters of a file of any size stop instead of overflowing.
inline void Bump(i32& counter) {
  if (counter < INT32_MAX) ++counter;
}

bool IsFileLetter(char c) { return c >= 'a' && c <= 'h'; }
bool IsRankDigit(char c) { return c >= '1' && c <= '8'; }
bool IsCastleLetter(char c) { return c == 'O' || c == '0'; }

i32 PieceLetter(char c) {
  switch (c) {
    case 'N': return Knight;
    case 'B': return Bishop;
    case 'R': return Rook;
    case 'Q': return Queen;
    case 'K': return King;
    default: return NoPiece;
  }
}

i32 PromotionLetter(char c) { return c == 'K' ? NoPiece : PieceLetter(c); }

// The leading decimal digits of the text.
i32 ReadNumber(const char* p) {
  i32 value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > NumberLimit) value = NumberLimit;
  }
  return value;
}

// Behind a move may stand a check or mate sign, then an annotation of at
// most two '!' or '?' ("!", "?", "!!", "??", "!?", "?!").
bool ValidEnding(const char* p) {
  if (*p == '+' || *p == '#') ++p;
  for (i32 i = 0; i < 2 && (*p == '!' || *p == '?'); ++i) ++p;
  return *p == 0;
}

// The numeric annotation that an annotation written behind a move stands
// for: "!" 1, "?" 2, "!!" 3, "??" 4, "!?" 5, "?!" 6.
i32 SuffixNag(char first, char second) {
  if (second == 0) return first == '!' ? 1 : 2;
  if (first == second) return first == '!' ? 3 : 4;
  return first == '!' ? 5 : 6;
}

bool IsResult(const char* text) {
  return std::strcmp(text, "1-0") == 0 || std::strcmp(text, "0-1") == 0 ||
         std::strcmp(text, "1/2-1/2") == 0 || std::strcmp(text, "*") == 0;
}

bool DecodePawnMove(const Board& board, const char* p, Move* move) {
  const i32 side = board.sideToMove;
  const i32 forward = side == White ? 8 : -8;
  const u64 ownPawns = board.pieces[side][Pawn];
  const i32 file = p[0] - 'a';
  i32 from, to, captured;
  Move flags = 0;
  if (p[1] == 'x') {
    if (!IsFileLetter(p[2]) || !IsRankDigit(p[3])) return false;
    to = MakeSquare(p[2] - 'a', p[3] - '1');
    p += 4;
    // The own pawn on the given file that attacks the target.
    const u64 origins = PawnAttacks[side ^ 1][to] & ownPawns & FileMask[file];
    if (origins == 0) return false;
    from = LowestSquare(origins);
    captured = board.squares[to];
    const i32 behind = to - forward;
    if (board.epFile == FileOf(to) + 1 && captured == NoPiece && behind >= 0 && behind < 64 &&
        (board.pieces[side ^ 1][Pawn] & SquareMask[behind])) {
      captured = Pawn;
      flags = MoveFlagEnPassant;
    }
  } else if (IsRankDigit(p[1])) {
    to = MakeSquare(file, p[1] - '1');
    p += 2;
    const i32 one = to - forward;
    const i32 two = one - forward;
    if (one < 0 || one > 63) return false;
    if (ownPawns & SquareMask[one]) {
      from = one;
    } else if (RankOf(to) == (side == White ? 3 : 4) && (ownPawns & SquareMask[two])) {
      from = two;
      flags = MoveFlagDoublePush;
    } else {
      return false;
    }
    captured = board.squares[to];
  } else {
    return false;
  }

  i32 promotion = NoPiece;
  if (*p == '=') {
    promotion = PromotionLetter(p[1]);
    if (promotion == NoPiece) return false;
    p += 2;
  } else if ((promotion = PromotionLetter(*p)) != NoPiece) {
    ++p;
  }
  if (promotion != NoPiece && RankOf(to) != (side == White ? 7 : 0)) return false;
  if (!ValidEnding(p)) return false;
  *move = EncodeMove(from, to, Pawn, captured, promotion, flags);
  return true;
}

bool DecodePieceMove(const Board& board, i32 piece, const char* p, Move* move) {
  // An optional origin file, rank or square, an optional 'x' and the target.
  const char* start = p;
  while (IsFileLetter(*p) || IsRankDigit(*p) || *p == 'x') ++p;
  const i32 length = static_cast<i32>(p - start);
  if (length < 2 || !IsFileLetter(start[length - 2]) || !IsRankDigit(start[length - 1]))
    return false;
  const i32 to = MakeSquare(start[length - 2] - 'a', start[length - 1] - '1');
  i32 prefix = length - 2;
  if (prefix > 0 && start[prefix - 1] == 'x') --prefix;
  i32 fromFile = -1;
  i32 fromRank = -1;
  if (prefix == 1) {
    if (IsFileLetter(start[0]))
      fromFile = start[0] - 'a';
    else if (IsRankDigit(start[0]))
      fromRank = start[0] - '1';
    else
      return false;
  } else if (prefix == 2) {
    if (!IsFileLetter(start[0]) || !IsRankDigit(start[1])) return false;
    fromFile = start[0] - 'a';
    fromRank = start[1] - '1';
  } else if (prefix != 0) {
    return false;
  }
  if (!ValidEnding(p)) return false;
  i32 from, captured;
  if (!board.FindMoveOrigin(to, piece, fromFile, fromRank, &from, &captured)) return false;
  *move = EncodeMove(from, to, piece, captured);
  return true;
}

}  // namespace

bool DecodeSanMove(const Board& board, const char* text, Move* move) {
  const char* p = text;
  // Castling, written with the letter O or the digit zero: the king moves
  // onto its own rook's square.
  if (IsCastleLetter(p[0]) && p[1] == '-' && IsCastleLetter(p[2])) {
    p += 3;
    bool kingSide = true;
    if (p[0] == '-' && IsCastleLetter(p[1])) {
      kingSide = false;
      p += 2;
    }
    if (!ValidEnding(p)) return false;
    const i32 rank = board.sideToMove == White ? 0 : 7;
    *move = EncodeMove(MakeSquare(4, rank), MakeSquare(kingSide ? 7 : 0, rank), King, 0, 0,
                       MoveFlagCastle);
    return true;
  }
  if (IsFileLetter(p[0])) return DecodePawnMove(board, p, move);
  const i32 piece = PieceLetter(p[0]);
  if (piece == NoPiece) return false;
  return DecodePieceMove(board, piece, p + 1, move);
}

void PgnReader::OnError(PgnParser& parser, i32 code, const char* text) {
  if (text == nullptr) text = "";
  switch (code) {
    case PgnErrorFileNotFound:
      gLog.Error("Chess PGN : File not found \"%s\"", text);
      break;
    case PgnErrorOutOfMemory:
      gLog.Error("Chess PGN : Out of memory\n");
      break;
    case PgnErrorParse:
      gLog.Error("Chess PGN : Error parsing move '%s' in game %d at ply %d, line %d", text,
                 parser.gameNumber, parser.plyNumber, parser.tokenLine);
      break;
    case PgnErrorInvalidMove:
      gLog.Error("Chess PGN : Invalid move '%s' in game %d at ply %d, line %d", text,
                 parser.gameNumber, parser.plyNumber, parser.tokenLine);
      break;
    case PgnErrorInvalidFen:
      gLog.Error("Chess PGN : Invalid FEN '%s' in game %d at line %d", text, parser.gameNumber,
                 parser.tokenLine);
      break;
    default:
      gLog.Error("Chess PGN : unknown error");
      break;
  }
}

PgnParser::PgnParser(const std::string& fileNameIn, i32 optionsIn, Board* boardIn,
                     PgnReader* readerIn)
    : fileName(fileNameIn), options(optionsIn), board(boardIn), reader(readerIn) {
  ResetCounters();
}

void PgnParser::ResetCounters() {
  readCount = readPosition = 0;
  tokenLength = 0;
  token[0] = 0;
  line = 1;
  column = tokenLine = tokenColumn = 0;
  afterCarriageReturn = 0;
  atLineStart = 1;
  readFailed = 0;
  readFailure = nullptr;
  inTags = 0;
  variationDepth = 0;
  error = 0;
  whiteToMove = 1;
  commentCount = plyNumber = lastMoveNumber = 0;
  lexState = PgnLexBetween;
  tokenStart = inQuotes = 0;
  nameLength = 0;
  gameNumber = 0;
  totalBytes = 0;
  chunkCount = 0;
}

void PgnParser::ClearGame() {
  tags.clear();
  tokens.clear();
  moves.clear();
  comments.clear();
}

// Forgets the game before. The variation depth starts again at 0 as well:
// a parenthesis left open in one game must not hide every later one.
void PgnParser::NewGame() {
  ClearGame();
  whiteToMove = 1;
  error = 0;
  plyNumber = lastMoveNumber = 0;
  commentCount = 0;
  variationDepth = 0;
}

i32 PgnParser::Read() {
  readFailed = 0;
  readFailure = nullptr;
  // Only a regular file is read: a device or a pipe may never end.
  const char* refusal = nullptr;
  std::FILE* file = OpenTextFile(fileName.c_str(), true, &refusal);
  if (file == nullptr) {
    if (refusal != nullptr) {
      readFailed = 1;
      readFailure = refusal;
      gLog.Error("Chess PGN : cannot read \"%s\" (%s)", fileName.c_str(), refusal);
    } else {
      reader->OnError(*this, PgnErrorFileNotFound, fileName.c_str());
    }
    return 0;
  }
  reader->Begin(*this);
  ResetCounters();
  ClearGame();
  board->SetStartPosition();

  // Reads on to the end of the file even after a short read, but not into
  // a line that never ends.
  i64 lineLength = 0;
  while (!readFailed) {
    const std::size_t count = std::fread(readBuffer, 1, sizeof readBuffer, file);
    if (count == 0) {
      if (std::ferror(file)) {
        readFailed = 1;
        gLog.Error("Chess PGN : error reading \"%s\"", fileName.c_str());
      }
      break;
    }
    readCount = static_cast<i32>(count);
    for (readPosition = 0; readPosition < readCount; ++readPosition) {
      const u8 byte = readBuffer[readPosition];
      if (byte == 13 || byte == 10) {
        lineLength = 0;
      } else if (++lineLength >= EndlessLineLength) {
        readFailed = 1;
        readFailure = "a line that does not end";
        gLog.Error("Chess PGN : line %d of \"%s\" does not end, reading stopped", line,
                   fileName.c_str());
        break;
      }
      char c = ' ';
      // A carriage return and the line feed after it end one line.
      if (byte == 13 || (byte == 10 && !afterCarriageReturn)) {
        Bump(line);
        column = 0;
      } else if (byte >= 32 && byte < 128) {
        Bump(column);
        c = static_cast<char>(byte);
      }
      afterCarriageReturn = byte == 13;
      const bool lineStart = atLineStart;
      atLineStart = byte == 13 || byte == 10;
      if (lexState == PgnLexLineComment && (byte == 13 || byte == 10)) {
        if (!(options & PgnSkipComments)) EndComment();
        lexState = PgnLexBetween;
        continue;
      }
      // A '%' in the first column escapes its whole line from the reading,
      // as the PGN standard has it; inside a comment or a tag it is text.
      if (lexState == PgnLexEscapeLine) {
        if (byte == 13 || byte == 10) lexState = PgnLexBetween;
        continue;
      }
      if (byte == '%' && lineStart && lexState == PgnLexBetween) {
        lexState = PgnLexEscapeLine;
        continue;
      }
      LexChar(c);
    }
    totalBytes += count;
    Bump(chunkCount);
  }

  // The end of the file ends a move written without a blank behind it, and
  // a comment to the end of the line.
  if (lexState == PgnLexToken) TokenChar(' ');
  if (lexState == PgnLexLineComment) {
    if (!(options & PgnSkipComments)) EndComment();
    lexState = PgnLexBetween;
  }
  if (lexState == PgnLexEscapeLine) lexState = PgnLexBetween;
  if (HasMovetext()) {
    PlayGame();
    Bump(gameNumber);
    NewGame();
  }
  std::fclose(file);
  reader->End(*this);
  return 1;
}

void PgnParser::LexChar(char c) {
  switch (lexState) {
    case PgnLexBetween: FeedChar(c); break;
    case PgnLexTag: TagChar(c); break;
    case PgnLexComment: CommentChar(c); break;
    case PgnLexLineComment: LineCommentChar(c); break;
    case PgnLexToken: TokenChar(c); break;
    case PgnLexSkippedComment:
      if (c == '}') lexState = PgnLexBetween;
      break;
    case PgnLexSkippedToken:
      if (c == ' ') lexState = PgnLexBetween;
      break;
    default: break;
  }
}

void PgnParser::PutChar(char c) {
  if (tokenLength < PgnTokenBufferSize - 1) token[tokenLength++] = c;
}

i32 PgnParser::FeedChar(char c) {
  switch (c) {
    case ' ':
      break;
    case '(':
      if (variationDepth < INT32_MAX) ++variationDepth;
      break;
    case ')':
      if (variationDepth > INT32_MIN) --variationDepth;
      break;
    case '[':
      if (!inTags) {
        inTags = 1;
        if (HasMovetext()) {
          PlayGame();
          Bump(gameNumber);
        }
        // A game of tags alone is not replayed, and neither its tags nor
        // its tokens pass on to the next game.
        NewGame();
      }
      lexState = PgnLexTag;
      tokenStart = 1;
      inQuotes = 0;
      nameLength = 0;
      tokenLength = 0;
      tokenLine = line;
      tokenColumn = column;
      break;
    case '{':
    case ';':
      // A comment in braces, or from ';' to the end of the line. Only one
      // inside a game makes it a game: a comment before the first game's
      // tags (a file's preface) is none.
      if (inTags || !tags.empty() || !tokens.empty() || HasMovetext()) Bump(commentCount);
      if (inTags) {
        inTags = 0;
        StartGame();
      }
      if (c == ';') {
        lexState = PgnLexLineComment;  // its text is dropped with option 0x02
      } else if (options & PgnSkipComments) {
        lexState = PgnLexSkippedComment;
        break;
      } else {
        lexState = PgnLexComment;
      }
      tokenLength = 0;
      tokenStart = 1;
      break;
    default:
      if (inTags) {
        inTags = 0;
        StartGame();
      }
      if (options & PgnSkipMovetext) {
        lexState = PgnLexSkippedToken;
        break;
      }
      lexState = PgnLexToken;
      tokenLength = 0;
      PutChar(c);
      tokenStart = 0;
      tokenLine = line;
      tokenColumn = column;
      break;
  }
  return 1;
}

void PgnParser::TagChar(char c) {
  if (c == '"') {
    inQuotes ^= 1;
    PutChar(c);
  } else if (c == ']' && !inQuotes) {
    EndTag();
    lexState = PgnLexBetween;
  } else if (c == ' ') {
    if (tokenStart) return;
    if (nameLength == 0) nameLength = tokenLength;
    PutChar(c);
  } else {
    PutChar(c);
    tokenStart = 0;
  }
}

// The name is the text before the first blank; the value starts at the
// second character behind that blank and stops before the last character,
// which strips the quotes of name "value". A tag without room for a blank
// and two quotes has no value and is skipped.
void PgnParser::EndTag() {
  if (tokenLength == 0) return;
  if (nameLength == 0 || tokenLength < nameLength + 3) return;
  PgnTag tag;
  tag.name.assign(token, static_cast<std::size_t>(nameLength));
  tag.value.assign(token + nameLength + 2, static_cast<std::size_t>(tokenLength - nameLength - 3));
  tag.line = tokenLine;
  tags.push_back(tag);
  reader->OnTag(*this, tags.back().name.c_str(), tags.back().value.c_str());
}

void PgnParser::CommentChar(char c) {
  if (c == '}') {
    EndComment();
    lexState = PgnLexBetween;
  } else if (c != ' ' || !tokenStart) {
    PutChar(c);
    tokenStart = 0;
  }
}

void PgnParser::LineCommentChar(char c) {
  if (c != ' ' || !tokenStart) {
    PutChar(c);
    tokenStart = 0;
  }
}

void PgnParser::EndComment() {
  if (tokenLength == 0) return;
  comments.emplace_back(token, static_cast<std::size_t>(tokenLength));
  // The link is 16 bits wide; a comment beyond its reach stays unlinked.
  if (!tokens.empty() && comments.size() <= 0xFFFF)
    tokens.back().comment = static_cast<u16>(comments.size());
  reader->OnComment(*this, comments.back().c_str());
}

void PgnParser::TokenChar(char c) {
  switch (c) {
    case '(':
    case ')':
    case '[':
    case '{':
    case ';':
      // A move written against a bracket or a comment ends there.
      if (!tokenStart) EndToken();
      lexState = PgnLexBetween;
      FeedChar(c);
      break;
    case ' ':
      if (tokenStart) break;
      EndToken();
      lexState = PgnLexBetween;
      break;
    default:
      PutChar(c);
      tokenStart = 0;
      break;
  }
}

void PgnParser::EndToken() {
  token[tokenLength] = 0;
  if (tokenLength == 0 || variationDepth != 0 || IsResult(token)) return;

  // The en-passant mark some write behind a capture, apart or glued to it
  // ("exd6 e.p.", "exd6e.p."), says nothing the move does not.
  for (const char* mark : {"e.p.", "e.p"}) {
    const i32 length = static_cast<i32>(std::strlen(mark));
    if (tokenLength >= length && std::strcmp(token + tokenLength - length, mark) == 0) {
      tokenLength -= length;
      token[tokenLength] = 0;
      if (tokenLength == 0) return;
      break;
    }
  }

  if (token[0] == '$') {
    if (options & PgnSkipNags) return;
    AddNag(ReadNumber(token + 1));
    return;
  }

  const char* text = token;
  if (const char* dot = std::strchr(token, '.')) {
    const i32 number = ReadNumber(token);
    if (dot[1] == '.' && dot[2] == '.') {
      text = dot + 3;
      whiteToMove = 0;
    } else {
      text = dot + 1;
      whiteToMove = 1;
    }
    // Dots without digits before them ("4. ... Nf6") leave the move number
    // as it was.
    if (token[0] >= '0' && token[0] <= '9') {
      plyNumber = 2 * number - 1;
      lastMoveNumber = number;
    }
    if (*text == 0) return;
  }

  // An annotation written behind the move ("e4!?", "Nf3?!", "Qxf7+!!") is
  // the numeric annotation it stands for, as the PGN standard reads it.
  std::size_t length = std::strlen(text);
  i32 suffixNag = 0;
  std::size_t suffix = 0;
  while (suffix < 2 && suffix < length &&
         (text[length - 1 - suffix] == '!' || text[length - 1 - suffix] == '?'))
    ++suffix;
  if (suffix > 0) {
    const char* mark = text + length - suffix;
    suffixNag = SuffixNag(mark[0], suffix == 2 ? mark[1] : 0);
    length -= suffix;
  }
  if (length == 0) {
    // An annotation standing apart belongs to the move before it.
    if (!(options & PgnSkipNags)) AddNag(suffixNag);
    return;
  }

  MoveToken move{};
  const std::size_t kept = length < sizeof move.text ? length : sizeof move.text - 1;
  std::memcpy(move.text, text, kept);
  move.text[kept] = 0;
  move.overlong = length > kept;
  move.line = tokenLine;
  tokens.push_back(move);
  if (suffixNag != 0 && !(options & PgnSkipNags)) AddNag(suffixNag);
}

// Stores the annotation in the first free of the last move's four slots and
// hands it to the reader.
void PgnParser::AddNag(i32 nag) {
  if (!tokens.empty()) {
    u8* slots = tokens.back().nags;
    for (i32 i = 0; i < 4; ++i) {
      if (slots[i] == 0) {
        slots[i] = static_cast<u8>(nag);
        break;
      }
    }
  }
  reader->OnNag(*this, nag);
}

void PgnParser::StartGame() {
  const PgnTag* fen = nullptr;
  for (const PgnTag& tag : tags) {
    if (tag.name == "FEN") {
      fen = &tag;
      break;
    }
  }
  if (fen != nullptr && !fen->value.empty()) {
    // A position the engine would refuse is never set up: its replay could
    // break the board. Nor is the game replayed from whatever the board
    // holds instead, which would give its moves to another position.
    if (ReadFenPosition(fen->value.c_str(), *board) != nullptr) {
      gLog.Error("Invalid FEN string : '%s'", fen->value.c_str());
      error = 1;
      tokenLine = fen->line;  // the error names the tag's own line
      reader->OnError(*this, PgnErrorInvalidFen, fen->value.c_str());
    }
  } else {
    board->SetStartPosition();
  }
  reader->OnGameStart(*this);
}

void PgnParser::FailMove(i32 code, const char* text) {
  error = 1;
  reader->OnError(*this, code, text);
}

void PgnParser::PlayGame() {
  if (!(options & PgnNoReplay)) {
    plyNumber = 0;
    whiteToMove = board->sideToMove == White;
    for (std::size_t i = 0; i < tokens.size() && !error; ++i) {
      const MoveToken& token = tokens[i];
      if (!whiteToMove) Bump(plyNumber);
      tokenLine = token.line;  // an error names the line of the move
      Move move = 0;
      if (token.overlong || !DecodeSanMove(*board, token.text, &move)) {
        FailMove(PgnErrorParse, token.text);
        break;
      }
      // Only a move the position allows may be made: making anything else
      // would corrupt the board.
      if (!board->IsPseudoLegal(move)) {
        FailMove(PgnErrorInvalidMove, token.text);
        break;
      }
      UndoInfo undo;
      board->MakeMove(move, undo);
      if (board->IsAttacked(board->kingSquare[board->opponent], board->sideToMove)) {
        FailMove(PgnErrorInvalidMove, token.text);
        break;
      }
      moves.push_back(move);
      const char* comment = token.comment != 0 && token.comment <= comments.size()
                                ? comments[token.comment - 1].c_str()
                                : nullptr;
      reader->OnMove(*this, token, move, comment);
      whiteToMove ^= 1;
    }
  }
  reader->OnGameEnd(*this);
}
