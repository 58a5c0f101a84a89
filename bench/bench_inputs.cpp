#include "bench_inputs.h"

#include <cstdio>
#include <random>

namespace bench {

using namespace tormid;

std::string random_protein(int len, unsigned seed) {
  std::mt19937 rng(seed);
  std::discrete_distribution<int> residue(background.begin(), background.end());
  std::string seq(static_cast<std::size_t>(len), 'A');
  for (char& c : seq) c = alphabet[residue(rng)];
  return seq;
}

std::vector<ProfileRow> random_profile_rows(int prf, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> letter(0, 19), high(400, 900), low(-400, 200);
  std::vector<ProfileRow> rows(static_cast<std::size_t>(prf));
  for (ProfileRow& row : rows) {
    const int favoured = letter(rng);
    for (int c = 0; c < 20; ++c) row[static_cast<std::size_t>(c)] = (c == favoured ? high(rng) : low(rng)) / 100.0;
  }
  return rows;
}

std::string profile_text(const std::vector<ProfileRow>& rows) {
  std::string text = "(Peptide) bench profile Length: " + std::to_string(rows.size()) +
                     "\nCons A R N D C Q E G H I L K M F P S T W Y V\n";
  for (const ProfileRow& row : rows) {
    text += 'X';
    for (double s : row) {
      char number[32];
      std::snprintf(number, sizeof number, " %.2f", s);
      text += number;
    }
    text += '\n';
  }
  return text;
}

ParamValues param_values(const Mode& mode, bool show) {
  ParamValues v;
  v.gap_open_penalty_prf = v.gap_open_penalty_seq = 11;
  v.deletion_penalty_prf = v.deletion_penalty_seq = 1;
  v.prf_free_beg = mode.prf_free_beg;
  v.prf_free_end = mode.prf_free_end;
  v.seq_free_beg = mode.seq_free_beg;
  v.seq_free_end = mode.seq_free_end;
  v.show_alignment = show;
  return v;
}

std::string params_text(const Mode& mode, bool show) {
  const ParamValues v = param_values(mode, show);
  auto yes = [](bool on) { return on ? "YES" : "NO"; };
  return std::string("PRF_GAP_OPEN_PENALTY 11\nPRF_DELETION_PENALTY 1\n") +
         "SEQ_GAP_OPEN_PENALTY 11\nSEQ_DELETION_PENALTY 1\n" + "PRF_FREE_BEG " + yes(v.prf_free_beg) +
         "\nPRF_FREE_END " + yes(v.prf_free_end) + "\nSEQ_FREE_BEG " + yes(v.seq_free_beg) +
         "\nSEQ_FREE_END " + yes(v.seq_free_end) + "\nSHOW_ALIGNMENT " + yes(show) + "\n";
}

}  // namespace bench
