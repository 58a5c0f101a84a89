// The prior of a position's residue probabilities: a Dirichlet mixture.
// Private to the builder.
#pragma once

#include <array>

#include "engine/engine.h"

namespace tormid {

using Residues = std::array<double, kAlphabetSize>;

// The mean posterior residue probabilities of a position given its
// weighted residue counts (alphabet order): each component of the mixture
// weighted by how well it explains the counts. No counts give the prior's
// own mean.
Residues posterior_probabilities(const Residues& counts);

}  // namespace tormid
