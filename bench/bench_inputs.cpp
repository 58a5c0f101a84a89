#include "bench_inputs.h"

#include <cstdio>
#include <random>
#include <sstream>

#include "engine/engine.h"
#include "input/input.h"

namespace bench {

namespace {
// Swiss-Prot composition, in alphabet order.
const double kBackground[20] = {0.0788, 0.0541, 0.0414, 0.0535, 0.0152, 0.0396, 0.0668,
                                0.0695, 0.0229, 0.0590, 0.0964, 0.0594, 0.0238, 0.0397,
                                0.0483, 0.0683, 0.0541, 0.0114, 0.0304, 0.0673};
}

std::string random_protein(int len, unsigned seed) {
  std::mt19937 rng(seed);
  std::discrete_distribution<int> residue(std::begin(kBackground), std::end(kBackground));
  std::string seq(static_cast<std::size_t>(len), 'A');
  for (char& c : seq) c = alphabet[residue(rng)];
  return seq;
}

std::string random_profile_text(int prf, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> letter(0, 19), high(400, 900), low(-400, 200);
  std::ostringstream text;
  text << "(Peptide) bench profile Length: " << prf << "\nCons A R N D C Q E G H I L K M F P S T W Y V\n";
  for (int k = 0; k < prf; ++k) {
    const int favoured = letter(rng);
    text << alphabet[favoured];
    for (int c = 0; c < 20; ++c) {
      char number[32];
      std::snprintf(number, sizeof number, " %.2f", (c == favoured ? high(rng) : low(rng)) / 100.0);
      text << number;
    }
    text << '\n';
  }
  return text.str();
}

std::string params_text(const Mode& mode, bool show) {
  auto yes = [](bool on) { return on ? "YES" : "NO"; };
  std::ostringstream text;
  text << "PRF_GAP_OPEN_PENALTY 11\nPRF_DELETION_PENALTY 1\n"
       << "SEQ_GAP_OPEN_PENALTY 11\nSEQ_DELETION_PENALTY 1\n"
       << "PRF_FREE_BEG " << yes(mode.prf_free_beg) << "\nPRF_FREE_END " << yes(mode.prf_free_end)
       << "\nSEQ_FREE_BEG " << yes(mode.seq_free_beg) << "\nSEQ_FREE_END " << yes(mode.seq_free_end)
       << "\nSHOW_ALIGNMENT " << yes(show) << "\n";
  return text.str();
}

void install(const std::string& profile_text, const Mode& mode, bool show) {
  std::istringstream lines(profile_text);
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  profile.clear();
  while (std::getline(lines, line)) {
    ProfileRow row{};
    std::istringstream words(line);
    std::string first;
    words >> first;
    for (double& s : row) words >> s;
    profile.push_back(row);
  }
  prf_length = static_cast<int>(profile.size());
  reset_settings();
  gap_open_penalty_prf = gap_open_penalty_seq = 11;
  deletion_penalty_prf = deletion_penalty_seq = 1;
  prf_free_beg = mode.prf_free_beg;
  prf_free_end = mode.prf_free_end;
  seq_free_beg = mode.seq_free_beg;
  seq_free_end = mode.seq_free_end;
  show_alignment = show;
  set_parameters();
  if (show) build_consensus();
}

}  // namespace bench
