// The hits per sequence: in input order, each sequence's domains from every
// profile along it, and which of them overlap. Private to tormid-scan.
#pragma once

#include <string>
#include <vector>

#include "search/search.h"

namespace tormid::scan {

// For each hit of `ordered`, the other hits of its sequence whose residues
// overlap its own (indices into ordered).
std::vector<std::vector<std::size_t>> overlapping(const std::vector<const Hit*>& ordered);

}  // namespace tormid::scan
