// The staged move source of one search node: hash move, captures by victim
// and attacker with losing ones held back, killers, quiet moves by history,
// then the losing captures; in check, the hash move and the sorted evasions.
#pragma once

#include "board/board.h"
#include "board/movegen.h"

// Stage numbers; MovePicker::Next returns the one that produced each move.
constexpr i32 StageHashMove = 1;
constexpr i32 StageGenerateCaptures = 2;
constexpr i32 StageGoodCaptures = 3;
constexpr i32 StageKiller1 = 4;
constexpr i32 StageKiller2 = 5;
constexpr i32 StageGenerateQuiets = 6;
constexpr i32 StageQuiets = 7;
constexpr i32 StageBadCaptures = 8;
constexpr i32 StageHashMoveInCheck = 9;
constexpr i32 StageGenerateEvasions = 10;
constexpr i32 StageEvasions = 11;

// Ordering scores. Captures and queen promotions score above 45010; quiet
// moves score 4000 plus a history counter that never exceeds 9999.
constexpr i32 CaptureScoreBase = 50000;
constexpr i32 UnderPromotionScore = 4000;
constexpr i32 QuietScoreBase = 4000;
constexpr i32 Killer1EvasionScore = 45010;
constexpr i32 Killer2EvasionScore = 45000;

// 50000 + 16 x victim - attacker (+ 16 x promotion), by PieceValue: the
// scale the picker and the quiescence search share for captures and queen
// promotions.
inline i32 CaptureScore(Move move) {
  return CaptureScoreBase + 16 * PieceValue[CapturedPiece(move)] - PieceValue[MovingPiece(move)] +
         16 * PieceValue[PromotionPiece(move)];
}

// Moves ordered by the capture scale: captures and queen promotions.
inline bool IsCaptureOrQueenPromotion(Move move) {
  return CapturedPiece(move) != NoPiece || PromotionPiece(move) == Queen;
}

// 4000 + the history counter of the thread that owns the board; 4000 on a
// board without an owner.
i32 QuietScore(const Board& board, Move move);

// Stable insertion sort, highest score first.
void SortMoves(ScoredMove* list, i32 count);

struct MovePicker {
  i32 stage;            // stage of the move handed out last
  i32 nextStage;        // 1, or 9 in check, set by the search; 0 when exhausted
  i32 ply;              // for the search and split points; not read here
  u32 current;          // list position of the next move
  u32 badCaptureCount;  // losing captures held back at positions 0..count-1
  Move hashMove;        // cleared when not pseudo-legal
  Move killer1;
  Move killer2;
  u32 end;  // one past the last position of the running stage
  ScoredMove moves[MaxMoves];

  // Writes the next pseudo-legal move to out and returns the stage that
  // produced it, or 0 when the node has no move left. The score of out is
  // written for list moves (stages 3, 7, 8, 11) only.
  i32 Next(const Board& board, ScoredMove& out);
};
