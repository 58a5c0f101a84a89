#include "engine/engine.h"

double score_sequence(const std::string& seq) { return score_sequence_reference(seq); }
