// Opening-book probing.
#include "engine/engine.h"

// No position has a book move until a book is loaded.
Move Engine::ProbeBook() {
  if (!bookEnabled || bookCount == 0 || static_cast<i32>(gameHistory.size()) >= bookPlyLimit)
    return 0;
  return 0;
}
