// Engine set-up steps shared by the UCI and XBoard handlers.
#pragma once

#include <string>
#include <vector>

class Engine;

// Loads a personality file (the empty name restores the built-in weights);
// on success the engine's nodes-per-second cap becomes its "ReduceSpeed",
// otherwise that of the engine's strength setting. The texts of the problems
// met (an unreadable file, clamped values) are appended to notes when it is
// given; they are logged either way.
bool LoadPersonality(Engine& engine, const std::string& fileName,
                     std::vector<std::string>* notes = nullptr);
