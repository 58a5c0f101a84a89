// tormid's command line and run sequence.
#pragma once

#include <string_view>

namespace tormid {

// The whole run for a command line; returns the process exit status: 0 when
// the result line was printed after a completed alignment, 1 otherwise.
// kernel names the engine kernel (the widest this CPU runs when empty).
int run_tormid(int argc, const char* const* argv, std::string_view kernel = {});

}  // namespace tormid
