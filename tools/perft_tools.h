// The perft, detailed perft and divide drivers, run from the command line
// and from the protocols' debug commands; they print through the manager.
#pragma once

#include "common/types.h"

class ProtocolManager;

void RunPerft(ProtocolManager& manager, i32 depth);
void RunPerftDetailed(ProtocolManager& manager, i32 depth);
void RunDivide(ProtocolManager& manager, i32 depth);
