// What the evaluation reads besides the board: the personality weights and
// the strength settings of the engine.
#pragma once

#include "common/types.h"
#include "engine/personality.h"

struct EvalSettings {
  Personality personality{};
  i32 elo = 2700;           // strength setting
  u8 strengthLimited = 0;   // strength limit in force
  i32 evalRootSide = 0;     // side to move on the game board when the search began
};
