// The printed alignment: consensus letters, and properties of the two lines
// checked on many generated cases, including a re-scoring of what is shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>

#include "engine/engine.h"
#include "support/engine_setup.h"
#include "support/random_cases.h"

namespace {

std::string without_dots(std::string line) {
  line.erase(std::remove(line.begin(), line.end(), '.'), line.end());
  return line;
}

// Which stretches at the two ends of the alignment are not charged.
struct FreeEnds {
  bool lead_residues = false, lead_positions = false;
  bool trail_residues = false, trail_positions = false;
};

// The score of the printed alignment: the profile scores of the pairs minus,
// for each stretch between pairs, one opening plus one deletion penalty per
// unpaired residue and likewise per unpaired position.
double rescore(const std::string& prf_line, const std::string& seq_line, const FreeEnds& free) {
  double score = 0.0;
  int position = 0, residues = 0, positions = 0;
  bool leading = true;
  auto close_stretch = [&](bool trailing) {
    const bool free_res = (leading && free.lead_residues) || (trailing && free.trail_residues);
    const bool free_pos = (leading && free.lead_positions) || (trailing && free.trail_positions);
    if (residues > 0 && !free_res) score -= gap_open_penalty_prf + residues * deletion_penalty_prf;
    if (positions > 0 && !free_pos) score -= gap_open_penalty_seq + positions * deletion_penalty_seq;
    residues = positions = 0;
    leading = false;
  };
  for (std::size_t k = 0; k < prf_line.size(); ++k) {
    const bool has_position = prf_line[k] != '.';
    const bool has_residue = seq_line[k] != '.';
    if (has_position && has_residue) {
      close_stretch(false);
      const int code = getIndex(seq_line[k]);
      score += code >= 0 ? profile[position][code] : 0.0;
    } else if (has_residue) {
      ++residues;
    } else {
      ++positions;
    }
    position += has_position;
  }
  close_stretch(true);
  return score;
}

TEST(AlignmentDisplay, PropertiesHoldOnGeneratedCases) {
  std::mt19937 rng(20261207);
  int checked_scores = 0;
  for (int n = 0; n < 4000; ++n) {
    const fixtures::RandomCase c = fixtures::random_case(rng);
    fixtures::install(c, true);
    const double score = score_sequence(c.seq);
    SCOPED_TRACE("case " + std::to_string(n) + " seq " + c.seq);
    const std::string& prf_line = res_seq1;
    const std::string& seq_line = res_seq2;
    const bool free_end = all_free_end || prf_free_end || seq_free_end;
    if (score <= kNoAlignment) {
      EXPECT_TRUE(free_end);  // a global alignment always exists
      EXPECT_EQ(prf_line, "");
      EXPECT_EQ(seq_line, "");
      continue;
    }
    ASSERT_EQ(prf_line.size(), seq_line.size());
    int pairs = 0, last_pair = -1;
    for (std::size_t k = 0; k < prf_line.size(); ++k) {
      ASSERT_TRUE(prf_line[k] == '.' || std::islower(static_cast<unsigned char>(prf_line[k])));
      ASSERT_TRUE(seq_line[k] == '.' || std::isupper(static_cast<unsigned char>(seq_line[k])));
      ASSERT_FALSE(prf_line[k] == '.' && seq_line[k] == '.');
      if (prf_line[k] != '.' && seq_line[k] != '.') {
        ++pairs;
        last_pair = static_cast<int>(k);
      }
      // Within a stretch, unpaired positions come before unpaired residues.
      if (k > 0 && prf_line[k - 1] == '.' && seq_line[k] == '.') FAIL() << "residue before position";
    }
    EXPECT_EQ(prf_line.size(), c.seq.size() + c.rows.size() - pairs);
    EXPECT_EQ(without_dots(seq_line), c.seq);
    EXPECT_EQ(without_dots(prf_line), consensus);
    if (free_end) {
      EXPECT_GE(pairs, 1);  // the end cell is printed as a pair
    }
    const std::string after_prf = prf_line.substr(last_pair + 1);
    const std::string after_seq = seq_line.substr(last_pair + 1);
    if (prf_free_end) {
      EXPECT_EQ(without_dots(after_prf), "");
    }
    if (seq_free_end) {
      EXPECT_EQ(without_dots(after_seq), "");
    }

    if (all_free_beg) continue;  // restarts make the shown start free in any case
    FreeEnds free;
    free.lead_residues = prf_free_beg;
    free.lead_positions = seq_free_beg;
    free.trail_residues = all_free_end || prf_free_end;
    free.trail_positions = all_free_end || seq_free_end;
    EXPECT_EQ(rescore(prf_line, seq_line, free), score);
    ++checked_scores;
  }
  EXPECT_GT(checked_scores, 2000);
}

TEST(AlignmentDisplay, TiesGoToTheDiagonal) {
  // The pair and the two gaps both cost 4: the pair is shown.
  fixtures::load_word_profile("A", -4, -4);
  fixtures::use_penalties({1, 1, 1, 1});
  show_alignment = 1;
  build_consensus();
  EXPECT_EQ(score_sequence("A"), -4);
  EXPECT_EQ(res_seq1, "a");
  EXPECT_EQ(res_seq2, "A");
}

TEST(AlignmentDisplay, NoAlignmentLeavesBothLinesEmpty) {
  fixtures::load_word_profile("A");
  fixtures::use_penalties({10, 1, 10, 1});
  seq_free_end = 1;
  show_alignment = 1;
  build_consensus();
  EXPECT_EQ(score_sequence("AW"), kScoreFloor);
  EXPECT_EQ(res_seq1, "");
  EXPECT_EQ(res_seq2, "");
}

struct ConsensusCase {
  const char* name;
  ProfileRow row;
  char letter;
};

TEST(Consensus, BestLetterLowerCaseEarlierOnTies) {
  ProfileRow tie_r_w{};
  tie_r_w.fill(-1);
  tie_r_w[getIndex('W')] = 3;
  tie_r_w[getIndex('R')] = 3;
  ProfileRow all_zero{};
  ProfileRow floor_row;
  floor_row.fill(kScoreFloor);
  ProfileRow below_floor;
  below_floor.fill(-1e6);
  ProfileRow last_best;
  last_best.fill(-2);
  last_best[19] = -1;
  const ConsensusCase cases[] = {
      {"TieGoesToEarlierLetter", tie_r_w, 'r'},
      {"AllEqualGivesA", all_zero, 'a'},
      {"LastColumnBest", last_best, 'v'},
      {"AllAtFloorGivesX", floor_row, 'x'},
      {"AllBelowFloorGivesX", below_floor, 'x'},
  };
  for (const ConsensusCase& c : cases) {
    profile = {c.row, c.row};
    prf_length = 2;
    build_consensus();
    EXPECT_EQ(consensus, std::string(2, c.letter)) << c.name;
  }
}

}  // namespace
