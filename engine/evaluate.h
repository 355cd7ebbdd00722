// Static evaluation: the score of a position in centipawns for the side to
// move, with endgame knowledge, a per-thread pawn-structure cache and the
// personality's scaling weights and noise.
#pragma once

#include "board/attacks.h"
#include "board/board.h"
#include "common/types.h"
#include "engine/eval_settings.h"

// Bonus for the side driving a lone king toward the edge, by the lone king's
// square: 80 in the corners down to 0 in the centre.
// clang-format off
inline constexpr i32 LoneKingEdgeBonus[64] = {
    80, 70, 60, 50, 50, 60, 70, 80,
    70, 60, 40, 30, 30, 40, 60, 70,
    60, 40, 20, 10, 10, 20, 40, 60,
    50, 30, 10,  0,  0, 10, 30, 50,
    50, 30, 10,  0,  0, 10, 30, 50,
    60, 40, 20, 10, 10, 20, 40, 60,
    70, 60, 40, 30, 30, 40, 60, 70,
    80, 70, 60, 50, 50, 60, 70, 80};
// clang-format on

// The files on either side of each file (only one for the a- and h-files).
inline constexpr u64 AdjacentFilesMask[8] = {
    FileMask[1],
    FileMask[0] | FileMask[2],
    FileMask[1] | FileMask[3],
    FileMask[2] | FileMask[4],
    FileMask[3] | FileMask[5],
    FileMask[4] | FileMask[6],
    FileMask[5] | FileMask[7],
    FileMask[6],
};

// Every static score lies within +-EvalLimit, far enough from the mate scores
// (beyond 31744) that no margin the searches add to it reaches them, and
// inside the 16 bits of a table entry. Only positions with much promoted
// material under strong personality weights come near it: the phase blend
// extrapolates once the phase passes that of the start.
constexpr i32 EvalLimit = 25000;

// How far outside the window the material balance must lie for
// EvaluateLazy to answer with it alone.
constexpr i32 LazyEvalMargin = 325;

// The score for the side to move. Uses and fills the pawn hash of
// board.owner; a board without an owner, or whose owner has no pawn hash,
// gets the same score without caching. The evaluation tables, the attack
// tables and the KPK bitbase must have been built.
i32 Evaluate(const EvalSettings& settings, const Board& board);

// The material balance for the side to move when it lies more than
// LazyEvalMargin outside (alpha, beta); otherwise Evaluate.
i32 EvaluateLazy(const EvalSettings& settings, const Board& board, i32 alpha, i32 beta);
