// The substitution matrix's rows. Private to the builder.
#pragma once

#include "engine/engine.h"

namespace tormid {

// The scores of a residue letter against the alphabet: its own row, B's
// or Z's, and X's for any other letter.
ProfileRow substitution_row(char letter);

}  // namespace tormid
