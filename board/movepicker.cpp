#include "board/movepicker.h"

#include "engine/search_thread.h"

i32 QuietScore(const Board& board, Move move) {
  if (!board.owner) return QuietScoreBase;
  return QuietScoreBase + board.owner->history[board.sideToMove][MovingPiece(move)][ToSquare(move)];
}

void SortMoves(ScoredMove* list, i32 count) {
  for (i32 i = 1; i < count; ++i) {
    const ScoredMove entry = list[i];
    i32 j = i;
    for (; j > 0 && list[j - 1].score < entry.score; --j) list[j] = list[j - 1];
    list[j] = entry;
  }
}

i32 MovePicker::Next(const Board& board, ScoredMove& out) {
  for (;;) {
    stage = nextStage;
    switch (stage) {
      case StageHashMove:
      case StageHashMoveInCheck:
        nextStage = stage + 1;
        if (board.IsPseudoLegal(hashMove)) {
          out.move = hashMove;
          return stage;
        }
        // A stale or colliding table move: forget it so no later stage compares with it.
        hashMove = 0;
        break;

      case StageGenerateCaptures: {
        current = 0;
        badCaptureCount = 0;
        const i32 count = GenerateCaptures(board, moves);
        end = static_cast<u32>(count);
        for (i32 i = 0; i < count; ++i) {
          const Move m = moves[i].move;
          moves[i].score = IsCaptureOrQueenPromotion(m) ? CaptureScore(m) : UnderPromotionScore;
        }
        SortMoves(moves, count);
        nextStage = count ? StageGoodCaptures : StageKiller1;
        break;
      }

      case StageGoodCaptures:
        while (current < end) {
          const ScoredMove entry = moves[current++];
          const Move m = entry.move;
          // Only a capture of a cheaper piece (or a promotion) can lose material.
          if (PieceValue[CapturedPiece(m)] < PieceValue[MovingPiece(m)] &&
              board.StaticExchange(m) < 0) {
            moves[badCaptureCount++] = entry;
            continue;
          }
          if (m == hashMove) continue;
          out = entry;
          return stage;
        }
        nextStage = StageKiller1;
        break;

      case StageKiller1:
        nextStage = StageKiller2;
        if (killer1 != hashMove && board.IsPseudoLegal(killer1)) {
          out.move = killer1;
          return stage;
        }
        break;

      case StageKiller2:
        nextStage = StageGenerateQuiets;
        if (killer2 != hashMove && board.IsPseudoLegal(killer2)) {
          out.move = killer2;
          return stage;
        }
        break;

      case StageGenerateQuiets: {
        ScoredMove* quiets = moves + end;
        const i32 count = GenerateQuiets(board, quiets);
        if (count > 0) {
          for (i32 i = 0; i < count; ++i) quiets[i].score = QuietScore(board, quiets[i].move);
          SortMoves(quiets, count);
          end += static_cast<u32>(count);
          nextStage = StageQuiets;
        } else {
          current = 0;
          end = badCaptureCount;
          nextStage = StageBadCaptures;
        }
        break;
      }

      case StageQuiets:
        while (current < end) {
          const ScoredMove entry = moves[current++];
          const Move m = entry.move;
          if (m == hashMove || m == killer1 || m == killer2) continue;
          out = entry;
          return stage;
        }
        current = 0;
        end = badCaptureCount;
        nextStage = StageBadCaptures;
        break;

      case StageBadCaptures:
      case StageEvasions:
        while (current < end) {
          const ScoredMove entry = moves[current++];
          if (entry.move == hashMove) continue;
          out = entry;
          return stage;
        }
        nextStage = 0;
        break;

      case StageGenerateEvasions: {
        const i32 count = GenerateEvasions(board, moves);
        if (count == 0) {
          nextStage = 0;
          break;
        }
        for (i32 i = 0; i < count; ++i) {
          const Move m = moves[i].move;
          i32 score;
          if (IsCaptureOrQueenPromotion(m))
            score = CaptureScore(m);
          else if (m == killer1)
            score = Killer1EvasionScore;
          else if (m == killer2)
            score = Killer2EvasionScore;
          else
            score = QuietScore(board, m);
          moves[i].score = score;
        }
        SortMoves(moves, count);
        current = 0;
        end = static_cast<u32>(count);
        nextStage = StageEvasions;
        break;
      }

      default:
        nextStage = 0;
        return 0;
    }
  }
}
