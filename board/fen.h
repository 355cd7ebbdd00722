// FEN reading and long algebraic move text.
#pragma once

#include "board/board.h"

// Reads FEN text into the inputs of Board::SetPosition. Returns 1 when the
// text was accepted, possibly only in part (the text may end after any
// field from the side to move on, and EPD operations may follow), and 0
// when it is malformed; the outputs may then be partly filled.
//   pieces:          signed piece codes, a1 first (+type White, -type Black)
//   side:            1 White, 0 Black
//   castleRights:    bits 1 White short, 2 White long, 4 Black short, 8 Black long
//   epFile:          file + 1 of the pawn that has just pushed two squares, 0 for none
//   castleRookFiles: Black long, Black short, White long, White short (default a, h, a, h)
//   consumed:        index just after the full-move field, 0 when it was not reached
// Besides the syntax, a placement is malformed unless each side has one
// king, no pawn stands on the first or last rank, and no side has more
// pieces than a game can produce (at most eight pawns, and no more
// promoted pieces than missing pawns): move lists and board operations are
// sized and written for such positions.
// After the en-passant field come the two move counters ("-" or decimal
// digits each); a counter is used when it reads, and from the first one that
// does not, the rest of the text (EPD operations, a comment) is passed over.
// A field may end at a ';' as at a blank. When reason is given, it receives
// the reason of a result 0 (a text of its own, for messages), null otherwise.
i32 ParseFen(const char* text, i8 pieces[64], i32* side, i32* castleRights, i32* epFile,
             i32* fullmoveNumber, i32* halfmoveClock, i32 castleRookFiles[4], i32* consumed,
             const char** reason = nullptr);

// Reads a FEN into a position as the engine takes it: what ParseFen accepts,
// set up on a copy of the board, refused when the side to move could take
// the enemy king. On success the board holds the position (the full-move
// number goes to fullmoveNumber when given) and the result is null; else the
// board is unchanged and the result is the reason.
const char* ReadFenPosition(const char* text, Board& position, i32* fullmoveNumber = nullptr);

// Room for the longest move text with its terminator, "e5xd6e.p+".
constexpr i32 MoveTextSize = 10;

// Writes a move as long algebraic text: "Ng1-f3", "e2-e4", "e5xd6e.p",
// "e7xd8=Q+", "O-O", "O-O-O"; move 0 gives the empty text.
void MoveToLongAlgebraic(const Move* move, char* out);
