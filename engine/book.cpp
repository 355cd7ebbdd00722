// Opening-book probing.
#include "engine/engine.h"

// A book move for the game position. The book is consulted only while it is
// switched on, holds entries and the game is young enough; until books are
// loaded no position has a book move.
Move Engine::ProbeBook() {
  const i32 plies = static_cast<i32>(gameHistory.size());
  if (!bookEnabled || bookCount == 0 || plies >= bookPlyLimit) return 0;
  return 0;
}
