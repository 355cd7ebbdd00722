// Engine set-up steps shared by the UCI and XBoard handlers.
#pragma once

#include <string>

class Engine;

// Points the engine's main search context and game board at search thread 0
// again, after the pool has recreated its threads.
void RelinkMainThread(Engine& engine);

// Loads a personality file (the empty name restores the built-in weights);
// on success the engine's nodes-per-second cap becomes its "ReduceSpeed".
bool LoadPersonality(Engine& engine, const std::string& fileName);
