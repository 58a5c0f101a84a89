// tormid-prf: profiles for tormid from the formats people already have.
//
// A profile HMM (HMMER3 ASCII) becomes one position per match state scoring
// 2 log2(p(a) / f(a)) in half-bits; a PSI-BLAST ASCII PSSM keeps its own
// scores. Both are written in the profile format that tormid reads.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace converter {

// Amino-acid order of tormid's profile columns.
inline constexpr char kColumns[] = "ARNDCQEGHILKMFPSTWYV";

// Background composition f in column order (Swiss-Prot 50.8).
inline constexpr std::array<double, 20> kBackground = {
    0.0787945, 0.0540978, 0.0414386, 0.0535222, 0.0151600, 0.0395639, 0.0668298,
    0.0695071, 0.0229198, 0.0590092, 0.0963728, 0.0594422, 0.0237718, 0.0397062,
    0.0482904, 0.0683364, 0.0540687, 0.0114135, 0.0304133, 0.0673417};

// A residue with zero probability (written "*") scores this instead of -inf.
inline constexpr double kImpossibleScore = -1000.0;

struct Profile {
  std::string name;                         // one word, for the header line
  std::vector<char> consensus;              // first word of each position line
  std::vector<std::array<double, 20>> scores;  // column order
};

// A problem with an input file: its message names the file and the line.
class InputError : public std::runtime_error {
 public:
  InputError(const std::string& file, int line, const std::string& what);
};

// Reads the model named `name` (the first model when empty).
Profile read_hmm(const std::string& path, const std::string& name);
// Reads a PSI-BLAST ASCII PSSM.
Profile read_pssm(const std::string& path);

// The profile in tormid's format: header, column names, one line per position.
std::string profile_text(const Profile& profile);

// A commented parameter file for "glocal", "local" or "global"; empty for
// another mode.
std::string params_text(const std::string& mode);

// The whole command line; returns the exit status.
int run_tormid_prf(int argc, const char* const* argv);

}  // namespace converter
