// The soak's closing figures: a line per port from its statistics, the
// return codes of every call, and the process census before and after.
#pragma once

#include <cstdio>

#include "soak_state.h"

namespace tessaly::soak {

void PrintPortTable(const SoakState &state, std::FILE *out);
void PrintResultTally(const ResultTally &tally, std::FILE *out);

}  // namespace tessaly::soak
