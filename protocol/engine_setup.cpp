#include "protocol/engine_setup.h"

#include <cstdio>

#include "common/log.h"
#include "engine/engine.h"

bool LoadPersonality(Engine& engine, const std::string& fileName,
                     std::vector<std::string>* notes) {
  const bool loaded = engine.personality.Load(fileName.c_str(), notes) != 0;
  // A personality that is not in use (the empty name, a file that cannot be
  // read) leaves the speed to the strength setting.
  engine.limits.npsLimit = loaded ? engine.PersonalityNpsLimit() : engine.StrengthNpsLimit();
  return loaded;
}

u32 FitHashTable(Engine& engine, i32 megabytes, std::vector<std::string>* notes) {
  const u32 wanted = HashTableMegabytes(megabytes);
  if (engine.tt.HasStorage()) return wanted;
  const u32 inUse = wanted > 1 ? engine.tt.ResizeToFit(static_cast<i32>(wanted / 2)) : 0;
  engine.limits.hashMb = static_cast<i32>(inUse);
  char text[96];
  if (inUse > 0)
    std::snprintf(text, sizeof text, "Hash table : out of memory for %u MB, using %u MB", wanted,
                  inUse);
  else
    std::snprintf(text, sizeof text, "Hash table : out of memory, no hash table in use");
  gLog.Warning("%s", text);
  if (notes) notes->push_back(text);
  return inUse;
}

bool ToolHashTableAllocated(const Engine& engine, i32 megabytes) {
  if (engine.tt.HasStorage()) return true;
  std::fprintf(stderr, "Hash table : out of memory, cannot allocate %u MB\n",
               HashTableMegabytes(megabytes));
  return false;
}
