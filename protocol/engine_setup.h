// Engine set-up steps shared by the UCI and XBoard handlers.
#pragma once

#include <string>

class Engine;

// Loads a personality file (the empty name restores the built-in weights);
// on success the engine's nodes-per-second cap becomes its "ReduceSpeed",
// otherwise that of the engine's strength setting.
bool LoadPersonality(Engine& engine, const std::string& fileName);
