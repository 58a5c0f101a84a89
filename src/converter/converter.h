// tormid-prf: profiles for tormid from the formats people already have,
// and starter parameter files.
#pragma once

#include <string>

#include "input/input.h"

namespace tormid::converter {

// The profile in tormid's format: header, column names, one line per
// position (its label, then twenty scores).
std::string profile_text(const ConvertedProfile& converted);

// A commented parameter file for "glocal", "local" or "global"; empty for
// another mode.
std::string params_text(const std::string& mode);

// The whole command line; returns the exit status.
int run_tormid_prf(int argc, const char* const* argv);

// tormid-prf press OPTIONS OUTPUT PROFILE_FILE...: a prepared library.
int press(int argc, const char* const* argv);

// tormid-prf build [--quiet] OUTPUT INPUT...: profiles from sequences and
// alignments.
int build(int argc, const char* const* argv);

}  // namespace tormid::converter
