// tormid-prf: profiles for tormid from the formats people already have,
// and starter parameter files.
#pragma once

#include <functional>
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

// Runs a command's work; a failure of its files, the search or memory is
// one line on standard error and exit status 1.
int with_failures_told(const std::function<void()>& work);

}  // namespace tormid::converter
