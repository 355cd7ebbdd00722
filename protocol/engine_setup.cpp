#include "protocol/engine_setup.h"

#include "engine/engine.h"

bool LoadPersonality(Engine& engine, const std::string& fileName,
                     std::vector<std::string>* notes) {
  const bool loaded = engine.personality.Load(fileName.c_str(), notes) != 0;
  // A personality that is not in use (the empty name, a file that cannot be
  // read) leaves the speed to the strength setting.
  engine.limits.npsLimit = loaded ? engine.PersonalityNpsLimit() : engine.StrengthNpsLimit();
  return loaded;
}
