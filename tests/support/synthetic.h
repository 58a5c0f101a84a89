// Synthetic protein data for tests and benchmarks: random proteins of
// realistic lengths, families (a profile and members of it), and databases
// with planted domains. Deterministic for a seed on every platform.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace synthetic {

using Composition = std::array<double, tormid::kAlphabetSize>;

// splitmix64: small, fast, and the same numbers everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  double uniform();                   // [0, 1)
  int below(int n);                   // [0, n)
  double normal();                    // mean 0, deviation 1
  int residue(const Composition& c);  // a residue code drawn from c

 private:
  std::uint64_t state_;
};

// A protein of len residues drawn from a composition.
std::string protein(Random& rng, int len, const Composition& c = tormid::background);

// A length like those of real proteins: log-normal around 350 residues,
// mean about 450, between 30 and 5000.
int protein_length(Random& rng);

// A family: a consensus, its emission probabilities per position, and the
// profile of their log-odds scores in half-bits, 2 log2(p / f).
struct Family {
  std::string name;
  std::string consensus;
  std::vector<Composition> emissions;
  tormid::Profile profile;
};
// `conservation` is the probability of the consensus residue at a
// position (0.3 for a weak family, 0.8 for a strong one).
Family family(Random& rng, const std::string& name, int length, double conservation = 0.5,
              const Composition& c = tormid::background);

// A member of the family: each position drawn from its emissions, with a
// few insertions and deletions.
std::string member(Random& rng, const Family& f);

// The profile as a tormid profile file.
std::string profile_text(const tormid::Profile& p);

struct Record {
  std::string name, description, sequence;
};

// A database of proteins a quarter of the usual length, every seventh
// with a member of one of the families planted in it, then one record
// without letters.
std::vector<Record> planted_records(Random& rng, const std::vector<Family>& families, int records);

// FASTA text, 60 letters a line.
std::string fasta(const std::vector<Record>& records);

// A shuffle of the letters of s (same composition, order destroyed).
std::string shuffled(Random& rng, std::string s);

}  // namespace synthetic
