// Pseudo-legal move generation. Each generator writes the move words of the
// side to move into `list` from its first element, leaves the scores alone
// and returns how many it wrote. The order of the moves is fixed: the
// picker, perft and the tools rely on it.
#pragma once

#include "board/board.h"

// Room for every move of any position a game can reach.
constexpr i32 MaxMoves = 256;

// Captures and every promotion.
i32 GenerateCaptures(const Board& board, ScoredMove* list);

// Moves that neither capture nor promote, castling first.
i32 GenerateQuiets(const Board& board, ScoredMove* list);

// Replies to check; only for a side to move that is in check. King moves
// are legal, the others may still move a pinned piece.
i32 GenerateEvasions(const Board& board, ScoredMove* list);

// Evasions in check, else captures followed by quiet moves.
i32 GenerateMoves(const Board& board, ScoredMove* list, bool inCheck);
