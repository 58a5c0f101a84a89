// Checks of tormid-scan's option values that answer in plain sentences.
// Private to tormid-scan.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace tormid::scan {

// A finite decimal number; one too small to tell from 0 is 0.
CLI::Validator number_check();
// The same, at least 0.
CLI::Validator non_negative_check();
// The same, above 0.
CLI::Validator positive_check();
// A whole number in decimal digits from least to most; the help shows
// `name` beside the option.
CLI::Validator whole_number_check(std::uint64_t least, std::uint64_t most, const std::string& name = "");

}  // namespace tormid::scan
