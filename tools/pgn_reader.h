// Reading chess games in Portable Game Notation. A small lexer splits the
// file into tag pairs, comments, numeric annotations and move tokens; each
// game's main line is then replayed on the reader's own board and every
// legal move is handed to the consumer, which overrides the hooks of
// PgnReader it needs.
#pragma once

#include <string>
#include <vector>

#include "board/board.h"

class PgnParser;

// Error codes handed to PgnReader::OnError. The reader raises 0, 2 and 3;
// 1 and 4 are there for consumers.
constexpr i32 PgnErrorFileNotFound = 0;
constexpr i32 PgnErrorOutOfMemory = 1;
constexpr i32 PgnErrorParse = 2;
constexpr i32 PgnErrorInvalidMove = 3;
constexpr i32 PgnErrorInvalidFen = 4;

// Parser options (the book builder uses none).
constexpr i32 PgnSkipComments = 0x02;
constexpr i32 PgnSkipMovetext = 0x04;
constexpr i32 PgnSkipNags = 0x10;
constexpr i32 PgnNoReplay = 0x20;

// One move of a game's main line, as written.
struct MoveToken {
  char text[8];  // NUL-terminated, so at most 7 characters
  u16 comment;   // 1 + index in the game's comments of the last one that followed, 0 for none
  u8 nags[4];    // annotation values that followed the move, 0 = free slot
  u8 overlong;   // the token had more than 7 characters; it replays as a parse error
  i32 line;      // where the move was written; errors of the replay name it
};

// The consumer's hooks; every one receives the parser first. All do nothing
// except OnError, which logs the error.
class PgnReader {
 public:
  virtual ~PgnReader() = default;
  virtual void Begin(PgnParser&) {}
  virtual void End(PgnParser&) {}
  virtual void OnGameStart(PgnParser&) {}
  virtual void OnGameEnd(PgnParser&) {}
  // After each legal move; the board already holds the position after it.
  virtual void OnMove(PgnParser&, const MoveToken&, Move, const char* /*comment*/) {}
  virtual void OnComment(PgnParser&, const char* /*text*/) {}
  virtual void OnTag(PgnParser&, const char* /*name*/, const char* /*value*/) {}
  virtual void OnNag(PgnParser&, i32 /*nag*/) {}
  virtual void SpareHook1(PgnParser&) {}
  virtual void SpareHook2(PgnParser&) {}
  virtual void SpareHook3(PgnParser&) {}
  virtual void OnError(PgnParser& parser, i32 code, const char* text);
};

struct PgnTag {
  std::string name;
  std::string value;
  i32 line = 0;  // where the tag began
};

// Lexer states.
constexpr i32 PgnLexBetween = 0;
constexpr i32 PgnLexTag = 1;
constexpr i32 PgnLexComment = 2;
constexpr i32 PgnLexLineComment = 3;  // from ';' to the end of the line
constexpr i32 PgnLexToken = 4;
constexpr i32 PgnLexSkippedComment = 5;
constexpr i32 PgnLexEscapeLine = 6;  // a line that starts with '%', skipped whole
constexpr i32 PgnLexSkippedToken = 7;

constexpr i32 PgnReadBufferSize = 4096;
constexpr i32 PgnTokenBufferSize = 1024;  // at most 1023 characters are kept

// The reading state of one file.
class PgnParser {
 public:
  PgnParser(const std::string& fileName, i32 options, Board* board, PgnReader* reader);

  // Reads the whole file: Begin, the events of every game, End. Returns 1
  // after End; 0 when the file does not open (reported as error 0) or is
  // not a regular file (a directory, a device, a pipe: readFailed is set),
  // and neither Begin nor End is called then. A read error, or a line that
  // runs on for EndlessLineLength characters without a line end, ends the
  // reading as the end of the file would and sets readFailed.
  i32 Read();

  // Handles one character between tokens; returns 1.
  i32 FeedChar(char c);

  // Sets the board from the game's "FEN" tag (the start position without
  // one), then OnGameStart.
  void StartGame();

  // Replays the game's move tokens until the first bad one, then OnGameEnd.
  void PlayGame();

  // Empties the tags, move tokens, moves and comments of the current game.
  void ClearGame();

  std::string fileName;

  // The current game.
  std::vector<PgnTag> tags;
  std::vector<MoveToken> tokens;
  std::vector<Move> moves;
  std::vector<std::string> comments;

  u8 readBuffer[PgnReadBufferSize];
  i32 readCount;
  i32 readPosition;
  char token[PgnTokenBufferSize];
  i32 tokenLength;

  i32 line;  // from 1; a line ends at a line feed, a carriage return or both
  i32 column;
  i32 tokenLine;  // where the current token or tag began; error messages give this line
  i32 tokenColumn;

  u8 inTags;  // from a game's first '[' until its movetext begins
  i32 variationDepth;
  i32 options;
  u8 error;  // a move of the current game failed

  u8 whiteToMove;
  i32 commentCount;
  i32 plyNumber;
  i32 lastMoveNumber;

  i32 lexState;
  u8 tokenStart;  // only leading blanks seen so far
  u8 inQuotes;
  i32 nameLength;  // length of a tag's name, 0 until its first blank

  i32 gameNumber;
  u64 totalBytes;
  i32 chunkCount;
  u8 afterCarriageReturn;  // the last byte read was a carriage return
  u8 atLineStart;          // the next byte read is the first of a line
  u8 readFailed;           // reading stopped on an error before the end of the file
  const char* readFailure;  // why, when it was no error of the system: "not a regular
                            // file", "a line that does not end"; null otherwise

  Board* board;
  PgnReader* reader;

 private:
  void ResetCounters();
  void NewGame();
  bool HasMovetext() const { return lastMoveNumber > 0 || commentCount > 0; }
  void LexChar(char c);
  void TagChar(char c);
  void CommentChar(char c);
  void LineCommentChar(char c);
  void AddNag(i32 nag);
  void TokenChar(char c);
  void PutChar(char c);
  void EndTag();
  void EndComment();
  void EndToken();
  void FailMove(i32 code, const char* text);
};

// Decodes standard algebraic move text ("e4", "exd6", "Nbd7", "R1e2",
// "Qh4xe1", "e8=Q", "O-O-O", with an optional "+" or "#" and then an optional
// annotation of one or two "!" or "?" behind it) into the move word the move generator makes for it.
// False when the text does not describe a move of the side to move; a move
// that decodes may still be illegal.
bool DecodeSanMove(const Board& board, const char* text, Move* move);
