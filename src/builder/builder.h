// Profiles from what people start with: one protein (scores from the
// BLOSUM62 substitution matrix, so that a search with it is a protein
// search of BLAST's or phmmer's kind) or a family alignment (the columns
// that become positions, sequence weights, the effective number of
// sequences, pseudocounts from a Dirichlet mixture, and log-odds scores in
// half-bits against the background, the unit of converted HMMER models).
// Used by tormid-prf build, by tormid-scan for alignments and sequences
// given as profiles, and by iterative search. Nothing here prints.
#pragma once

#include <string>
#include <vector>

#include "input/input.h"

namespace tormid {

// A family over the positions of a profile: each sequence's residue at
// each position, '-' where it has none (a deletion, or outside the part of
// it that is aligned).
struct Family {
  std::string name;
  int positions = 0;
  std::vector<std::string> names;
  std::vector<std::string> residues;  // per sequence, one letter or '-' per position
};

// What a build made, for its report.
struct BuildReport {
  int positions = 0;
  int sequences = 0;
  double effective = 0;  // the effective number of sequences the scores rest on
  bool from_matrix = false;  // one sequence: the substitution matrix's rows
};

struct BuiltProfile {
  Profile profile;
  std::string labels;  // a letter per position: its residue, upper case where conserved
  Family seed;         // what it was built from
  BuildReport report;
};

// The positions of an alignment: the columns its reference marks, else
// those where at least half of the weighted sequences have a residue
// (outside a fragment's aligned part a gap does not count).
Family family_of(const SequenceAlignment& alignment);

// A profile of the family: from one sequence, the substitution matrix's
// row of each residue; from several, weighted counts whose effective
// number is set so that the positions carry HMMER's relative entropy
// target, mixed with a Dirichlet mixture prior. The result depends on the
// family alone (not on the order of its sequences beyond ties).
BuiltProfile build_profile(const Family& family);

// Every profile of an alignment or sequence file (read_alignments), or of
// its families already read.
std::vector<BuiltProfile> build_profiles(const std::string& path);
std::vector<BuiltProfile> build_profiles(const std::string& path, const std::vector<SequenceAlignment>& alignments);

// The profiles of any file tormid-scan takes as profiles: profile files
// as read_library reads them, alignments and sequences built; seeds holds
// each profile's family where it was built (empty where it was read).
struct LoadedProfiles {
  ProfileLibrary library;
  std::vector<Family> seeds;  // one per profile
};
LoadedProfiles load_profiles(const std::string& path, int threads = 1);

// The substitution matrix (BLOSUM62, half-bits) in alphabet order: the
// score of residue a against b.
double substitution_score(int a, int b);

}  // namespace tormid
