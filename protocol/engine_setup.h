// Engine set-up steps shared by the UCI and XBoard handlers (and the tools'
// check of their hash table).
#pragma once

#include <string>
#include <vector>

#include "common/types.h"

class Engine;

// Loads a personality file (the empty name restores the built-in weights);
// on success the engine's nodes-per-second cap becomes its "ReduceSpeed",
// otherwise that of the engine's strength setting. The texts of the problems
// met (an unreadable file, clamped values) are appended to notes when it is
// given; they are logged either way.
bool LoadPersonality(Engine& engine, const std::string& fileName,
                     std::vector<std::string>* notes = nullptr);

// After the engine's hash table was sized for `megabytes` (Engine::Init or
// TranspositionTable::Resize): when that allocation failed, the protocols go
// on with the largest smaller table that can be had. The shortfall is logged
// and its text, naming the size in use, appended to notes when it is given.
// Returns the megabytes in use (0: no table at all).
u32 FitHashTable(Engine& engine, i32 megabytes, std::vector<std::string>* notes);

// For the tools that search with a hash table of the size they were given:
// true when the engine's table of `megabytes` was allocated; otherwise the
// size is named on standard error, and the tool must fail rather than search
// without it.
bool ToolHashTableAllocated(const Engine& engine, i32 megabytes);
