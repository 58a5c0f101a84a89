// The scoring rules of the alignment engine, on small hand-computed cases,
// for every engine this CPU runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "support/engine_setup.h"

namespace {

using namespace tormid;
using fixtures::Penalties;

struct RuleCase {
  const char* name;
  const char* word;  // profile: +match for the word's letter, other elsewhere
  double match, other;
  Penalties penalties;
  const char* seq;
  double score;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

const RuleCase kRules[] = {
    // A gap of n residues costs open_prf + n * del_prf, once per stretch.
    {"GapInProfileOpenedOnce", "ACDEFGHIK", 5, -1, {7, 2, 100, 100}, "ACDEWWWFGHIK", 45 - 7 - 6},
    {"GapInSequenceOpenedOnce", "ACDEFGHIK", 5, -1, {100, 100, 7, 2}, "ACDHIK", 30 - 7 - 6},
    {"EachStretchOpensAgain", "ACDEFGHIK", 5, -1, {10, 1, 10, 1}, "ACWDEFGWHIK", 45 - 22},
    {"StretchPaysBothSidesOnce", "ACDEFGHIK", 5, -100, {10, 1, 10, 1}, "ACDEWWGHIK",
     40 - 12 - 11},
    {"LeadingAndTrailingGapsPenalised", "ACD", 5, -1, {3, 1, 100, 100}, "WACDWW", 15 - 4 - 5},
    // With an opening bonus, a stretch that mixes both kinds of moves still
    // earns it once per side: a step of the other kind does not end a gap.
    {"HorizontalStepDoesNotEndVerticalGap", "F", 5, -100, {-3, 1, 1, 1}, "WW", -1},
    {"VerticalStepDoesNotEndHorizontalGap", "FF", 5, -100, {1, 1, -3, 1}, "W", -1},
    // One residue against one position: the match or a gap on both sides.
    {"SingleCellMatchWins", "A", 3, -1, {1, 1, 1, 1}, "A", 3},
    {"SingleCellGapsWin", "A", -5, -5, {1, 1, 1, 1}, "A", -4},
    {"ZeroPenaltiesBestPairing", "ACDEFGHIK", 5, -1, {0, 0, 0, 0}, "KACWWDEFGHIKA", 45},
    {"LowerCaseSameCode", "ACDEFGHIK", 5, -1, {10, 1, 10, 1}, "acdefghik", 45},
    // Five of the six outside letters pair at 0.0 with ACDEF, one is left over.
    {"OutsideLettersScoreZero", "ACDEFGHIK", 5, -1, {10, 1, 10, 1}, "BJOUXZGHIK", 20 - 11},
    // All three candidates below the floor: the largest is still taken.
    {"BelowFloorTakesLargest", "A", -1, -200000, {1e6, 1e6, 1e6, 1e6}, "W", -200000},
};

class ScoringRules : public testing::TestWithParam<std::tuple<RuleCase, std::string>> {};

TEST_P(ScoringRules, ScoreIsExact) {
  const auto& [c, engine] = GetParam();
  Workspace ws(engine);
  const Profile profile(fixtures::word_rows(c.word, c.match, c.other));
  const Alignment a = align(profile, fixtures::settings_with(c.penalties), c.seq, ws, Detail::score);
  EXPECT_EQ(a.score, c.score);
  EXPECT_NE(a.status, AlignStatus::out_of_memory);
}

INSTANTIATE_TEST_SUITE_P(Engine, ScoringRules,
                         testing::Combine(testing::ValuesIn(kRules), testing::ValuesIn(fixtures::all_engines())),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
                         });

class SignOfZero : public testing::TestWithParam<std::string> {};

TEST_P(SignOfZero, ZeroPenaltiesKeepTheSignOfZero) {
  Workspace ws(GetParam());
  const Profile profile(fixtures::word_rows("W", -1, -1));
  const Settings zero = fixtures::settings_with({0, 0, 0, 0});
  const double gaps_only = score_sequence(profile, zero, "A", ws);
  EXPECT_EQ(gaps_only, 0.0);
  EXPECT_TRUE(std::signbit(gaps_only));  // -0.0 - 0 * 0.0 stays -0.0
  const double outside_letter = score_sequence(profile, zero, "AX", ws);
  EXPECT_EQ(outside_letter, 0.0);
  EXPECT_FALSE(std::signbit(outside_letter));  // -0.0 + 0.0 is +0.0
}

INSTANTIATE_TEST_SUITE_P(Engine, SignOfZero, testing::ValuesIn(fixtures::all_engines()),
                         [](const auto& info) { return info.param; });

struct MaxCase {
  double values[3];
  int index;
};

TEST(IndexOfMax, LastOnTiesAndNothingBelowTheFloor) {
  const MaxCase cases[] = {
      {{1, 2, 3}, 2},          {{3, 2, 1}, 0},         {{2, 2, 1}, 1},
      {{2, 2, 2}, 2},          {{1, 2, 2}, 2},         {{0.0, -0.0, -1}, 1},
      {{-1e5, -2e5, -3e5}, 0}, {{-2e5, -3e5, -4e5}, -1}, {{-1e5, -1e5, -2e5}, 1},
  };
  for (const MaxCase& c : cases)
    EXPECT_EQ(index_of_max(c.values, 3), c.index)
        << c.values[0] << " " << c.values[1] << " " << c.values[2];
}

TEST(GetIndex, CodesFollowTheAlphabetInBothCases) {
  for (int k = 0; k < kAlphabetSize; ++k) {
    EXPECT_EQ(getIndex(alphabet[k]), k);
    EXPECT_EQ(getIndex(static_cast<char>(alphabet[k] - 'A' + 'a')), k);
  }
  for (char c : std::string("BJOUXZbjouxz*-. 0\n\xC3"))
    EXPECT_EQ(getIndex(c), -1) << c;
}

}  // namespace
