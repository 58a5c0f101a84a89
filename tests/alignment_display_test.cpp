// The printed alignment: consensus letters, and properties of the two lines
// and the coordinates checked on many generated cases, including a
// re-scoring of what is shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>

#include "support/engine_setup.h"
#include "support/random_cases.h"

namespace {

using namespace tormid;

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
double rescore(const Alignment& a, const Profile& profile, const Settings& s, const FreeEnds& free) {
  double score = 0.0;
  int position = 0, residues = 0, positions = 0;
  bool leading = true;
  auto close_stretch = [&](bool trailing) {
    const bool free_res = (leading && free.lead_residues) || (trailing && free.trail_residues);
    const bool free_pos = (leading && free.lead_positions) || (trailing && free.trail_positions);
    if (residues > 0 && !free_res) score -= s.gap_open_penalty_prf + residues * s.deletion_penalty_prf;
    if (positions > 0 && !free_pos) score -= s.gap_open_penalty_seq + positions * s.deletion_penalty_seq;
    residues = positions = 0;
    leading = false;
  };
  for (std::size_t k = 0; k < a.prf_line.size(); ++k) {
    const bool has_position = a.prf_line[k] != '.';
    const bool has_residue = a.seq_line[k] != '.';
    if (has_position && has_residue) {
      close_stretch(false);
      const int code = getIndex(a.seq_line[k]);
      score += code >= 0 ? profile.row(position)[static_cast<std::size_t>(code)] : 0.0;
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
  Workspace ws;
  int checked_scores = 0;
  for (int n = 0; n < 4000; ++n) {
    const fixtures::RandomCase c = fixtures::random_case(rng);
    const Profile profile = c.profile();
    const Settings s = c.settings();
    const Alignment a = align(profile, s, c.seq, ws, Detail::display);
    SCOPED_TRACE("case " + std::to_string(n) + " seq " + c.seq);
    const bool free_end = s.end != EndMode::global;
    if (a.score <= kNoAlignment) {
      EXPECT_TRUE(free_end);  // a global alignment always exists
      EXPECT_EQ(a.status, AlignStatus::no_alignment);
      EXPECT_EQ(a.prf_line, "");
      EXPECT_EQ(a.seq_line, "");
      continue;
    }
    ASSERT_EQ(a.status, AlignStatus::aligned);
    ASSERT_EQ(a.prf_line.size(), a.seq_line.size());
    int pairs = 0, first_pair = -1, last_pair = -1;
    int residue = 0, position = 0;
    int seq_from = 0, seq_to = 0, prf_from = 0, prf_to = 0;
    for (std::size_t k = 0; k < a.prf_line.size(); ++k) {
      const char p = a.prf_line[k], r = a.seq_line[k];
      ASSERT_TRUE(p == '.' || std::islower(static_cast<unsigned char>(p)));
      ASSERT_TRUE(r == '.' || std::isupper(static_cast<unsigned char>(r)));
      ASSERT_FALSE(p == '.' && r == '.');
      position += p != '.';
      residue += r != '.';
      if (p != '.' && r != '.') {
        ++pairs;
        if (first_pair < 0) {
          first_pair = static_cast<int>(k);
          seq_from = residue;
          prf_from = position;
        }
        last_pair = static_cast<int>(k);
        seq_to = residue;
        prf_to = position;
      }
      // Within a stretch, unpaired positions come before unpaired residues.
      if (k > 0 && a.prf_line[k - 1] == '.' && r == '.') FAIL() << "residue before position";
    }
    EXPECT_EQ(a.prf_line.size(), c.seq.size() + c.rows.size() - static_cast<std::size_t>(pairs));
    EXPECT_EQ(without_dots(a.seq_line), c.seq);
    EXPECT_EQ(without_dots(a.prf_line), profile.consensus());
    EXPECT_EQ((std::array{a.seq_from, a.seq_to, a.prf_from, a.prf_to}),
              (std::array{seq_from, seq_to, prf_from, prf_to}));
    if (free_end) {
      EXPECT_GE(pairs, 1);  // the end cell is printed as a pair
    }
    const std::string after_prf = a.prf_line.substr(static_cast<std::size_t>(last_pair + 1));
    const std::string after_seq = a.seq_line.substr(static_cast<std::size_t>(last_pair + 1));
    if (s.end == EndMode::prf_free) {
      EXPECT_EQ(without_dots(after_prf), "");
    }
    if (s.end == EndMode::seq_free) {
      EXPECT_EQ(without_dots(after_seq), "");
    }

    if (s.start == StartMode::local) continue;  // restarts make the shown start free in any case
    FreeEnds free;
    free.lead_residues = s.start == StartMode::prf_free;
    free.lead_positions = s.start == StartMode::seq_free;
    free.trail_residues = s.end == EndMode::local || s.end == EndMode::prf_free;
    free.trail_positions = s.end == EndMode::local || s.end == EndMode::seq_free;
    EXPECT_EQ(rescore(a, profile, s, free), a.score);
    ++checked_scores;
  }
  EXPECT_GT(checked_scores, 2000);
}

class DisplayRules : public testing::TestWithParam<std::string> {};

TEST_P(DisplayRules, TiesGoToTheDiagonal) {
  // The pair and the two gaps both cost 4: the pair is shown.
  Workspace ws(GetParam());
  const Alignment a = align(Profile(fixtures::word_rows("A", -4, -4)),
                            fixtures::settings_with({1, 1, 1, 1}), "A", ws, Detail::display);
  EXPECT_EQ(a.score, -4);
  EXPECT_EQ(a.prf_line, "a");
  EXPECT_EQ(a.seq_line, "A");
}

TEST_P(DisplayRules, NoAlignmentLeavesBothLinesEmpty) {
  Workspace ws(GetParam());
  const Alignment a =
      align(Profile(fixtures::word_rows("A")),
            fixtures::settings_with({10, 1, 10, 1}, StartMode::global, EndMode::seq_free), "AW", ws,
            Detail::display);
  EXPECT_EQ(a.score, kScoreFloor);
  EXPECT_EQ(a.status, AlignStatus::no_alignment);
  EXPECT_EQ(a.prf_line, "");
  EXPECT_EQ(a.seq_line, "");
}

INSTANTIATE_TEST_SUITE_P(Engine, DisplayRules, testing::ValuesIn(fixtures::all_engines()),
                         [](const auto& info) { return info.param; });

struct ConsensusCase {
  const char* name;
  ProfileRow row;
  char letter;
};

TEST(Consensus, BestLetterLowerCaseEarlierOnTies) {
  ProfileRow tie_r_w{};
  tie_r_w.fill(-1);
  tie_r_w[static_cast<std::size_t>(getIndex('W'))] = 3;
  tie_r_w[static_cast<std::size_t>(getIndex('R'))] = 3;
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
  for (const ConsensusCase& c : cases)
    EXPECT_EQ(Profile({c.row, c.row}).consensus(), std::string(2, c.letter)) << c.name;
}

}  // namespace
