// Sequence weights of an alignment. Private to the builder.
#pragma once

#include <string>
#include <vector>

namespace tormid {

// Position-based weights (Henikoff and Henikoff 1994): in each column a
// sequence earns 1 / (kinds of residue in the column x sequences sharing
// its residue), so that a hundred near-identical sequences weigh about as
// much as one; gaps and letters outside the alphabet earn nothing. Scaled
// to sum to the number of sequences; a sequence that earns nothing weighs
// the average.
std::vector<double> position_based_weights(const std::vector<std::string>& rows);

}  // namespace tormid
