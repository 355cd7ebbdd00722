#include "protocol/engine_setup.h"

#include "engine/engine.h"

bool LoadPersonality(Engine& engine, const std::string& fileName,
                     std::vector<std::string>* notes) {
  if (!engine.personality.Load(fileName.c_str(), notes)) return false;
  // Sign-extended: a negative value gives a cap no search reaches.
  engine.limits.npsLimit = static_cast<u64>(static_cast<i64>(engine.personality.ReduceSpeed));
  return true;
}
