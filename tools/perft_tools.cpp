#include "tools/perft_tools.h"

// Placeholders until the perft tools arrive: the debug commands "perft",
// "perftd" and "divide" do nothing yet.
void RunPerft(ProtocolManager&, i32) {}
void RunPerftDetailed(ProtocolManager&, i32) {}
void RunDivide(ProtocolManager&, i32) {}
