// The end-gap modes, one table row per rule, for every engine this CPU
// runs. Each row is built so that it fails when its rule is left out or
// applied in the wrong mode; the comment above a group says what the faulty
// engine would return instead.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/engine_setup.h"

namespace {

using namespace tormid;
using fixtures::Penalties;
using fixtures::word_rows;

struct ModeCase {
  const char* name;
  std::vector<ProfileRow> rows;
  Penalties penalties;
  StartMode start;
  EndMode end;
  const char* seq;
  double score;
  const char* prf_line = nullptr;  // when set, the alignment is checked too
  const char* seq_line = nullptr;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

ProfileRow row_with(char letter, double score, double other) {
  ProfileRow row;
  row.fill(other);
  row[static_cast<std::size_t>(getIndex(letter))] = score;
  return row;
}

const Penalties kTen = {10, 1, 10, 1};
const Penalties kZero = {0, 0, 0, 0};
// An opening bonus on the sequence side makes the opening rule visible in
// scores under the local start.
const Penalties kSeqBonus = {10, 1, -5, 1};
// A deletion bonus on the profile side makes non-diagonal cells the best.
const Penalties kPrfBonus = {0, -1, 10, 1};

constexpr StartMode kGlobalStart = StartMode::global;
constexpr EndMode kGlobalEnd = EndMode::global;

const std::vector<ModeCase>& cases() {
  static const std::vector<ModeCase> all = {
      // Row 0 is free under the sequence-free and the local start (else 23).
      {"Row0FreeUnderSeqFreeBeg", word_rows("ACDEFGHIK"), kTen, StartMode::seq_free, kGlobalEnd, "DEFGHIK", 35},
      {"Row0FreeUnderLocalStart", word_rows("ACDEFGHIK"), kTen, StartMode::local, kGlobalEnd, "DEFGHIK", 35},
      {"Row0PenalisedUnderPrfFreeBeg", word_rows("ACDEFGHIK"), kTen, StartMode::prf_free, kGlobalEnd, "DEFGHIK",
       23},

      // Column 0 is free under the profile-free start only (else 45).
      {"Column0FreeUnderPrfFreeBeg", word_rows("ACDEFGHIK"), kTen, StartMode::prf_free, kGlobalEnd,
       "WWACDEFGHIK", 45},
      {"Column0PenalisedUnderLocalStart", word_rows("ACDEFGHIK"), kTen, StartMode::local, kGlobalEnd,
       "WWACDEFGHIK", 40},
      {"Column0PenalisedUnderSeqFreeBeg", word_rows("ACDEFGHIK"), kTen, StartMode::seq_free, kGlobalEnd,
       "WWACDEFGHIK", 33},

      // Local start: a best of exactly 0.0 resets the cell and clears its
      // match (else the gap after it earns the opening bonus: 4); a move out
      // of a reset cell pays no opening (else 4 again); without the local
      // start the match stays and the bonus is earned.
      {"ExactZeroResets", {row_with('A', 0, -5), row_with('A', -5, -5)}, kSeqBonus, StartMode::local,
       kGlobalEnd, "A", 0},
      {"NoOpeningOutOfResetCell", {row_with('A', -1, -5), row_with('A', -5, -5)}, kSeqBonus,
       StartMode::local, kGlobalEnd, "A", 0},
      {"NoResetWithoutLocalStart", {row_with('A', -1, -5), row_with('A', -5, -5)}, kSeqBonus,
       StartMode::seq_free, kGlobalEnd, "A", 3},
      // The chosen diagonal move still counts for the end after a reset
      // (else nothing is found: -100000).
      {"ResetDiagonalCountsForTracker", word_rows("ACDEFGHIK"), kTen, StartMode::local, EndMode::local,
       "WWWW", 0},

      // Free ends take diagonal moves only (else 8 from the unpaired tail).
      {"LocalEndDiagonalOnly", word_rows("A"), kPrfBonus, kGlobalStart, EndMode::local, "AWWW", 5},
      {"PrfEndDiagonalOnly", word_rows("A"), kPrfBonus, kGlobalStart, EndMode::prf_free, "AWWW", 5},
      // ... in their own column or row only (else 5 from the first cell).
      {"PrfEndLastColumnOnly", word_rows("AC"), kTen, kGlobalStart, EndMode::prf_free, "A", kScoreFloor},
      {"SeqEndLastRowOnly", word_rows("A"), kTen, kGlobalStart, EndMode::seq_free, "AW", kScoreFloor},
      {"SeqEndNoDiagonalInLastRow", word_rows("AC"), kZero, kGlobalStart, EndMode::seq_free, "AW",
       kScoreFloor},
      {"SeqEndInLastRow", word_rows("AC"), kTen, kGlobalStart, EndMode::seq_free, "A", 5},
      // ... strictly greater, so the first visited cell wins a tie (else the
      // pair moves right, or down).
      {"SeqEndFirstColumnWinsTie", word_rows("AA"), kZero, kGlobalStart, EndMode::seq_free, "A", 5, "aa",
       "A."},
      {"LocalEndFirstColumnWinsTie", word_rows("AA"), kZero, kGlobalStart, EndMode::local, "A", 5, "aa",
       "A."},
      {"LocalEndEarlierRowWinsTie", word_rows("A"), kZero, kGlobalStart, EndMode::local, "AA", 5, "a.",
       "AA"},

      // With no end mode the last cell, whatever the start.
      {"NoEndModeTakesLastCell", word_rows("ACDEFGHIK"), kTen, StartMode::seq_free, kGlobalEnd, "DEFGH", 13},
      {"SeqBothEndsForContrast", word_rows("ACDEFGHIK"), kTen, StartMode::seq_free, EndMode::seq_free,
       "DEFGH", 25},
  };
  return all;
}

class EndModes : public testing::TestWithParam<std::tuple<ModeCase, std::string>> {};

TEST_P(EndModes, ScoreAndEndPoint) {
  const auto& [c, engine] = GetParam();
  Workspace ws(engine);
  const Profile profile(c.rows);
  const Settings settings = fixtures::settings_with(c.penalties, c.start, c.end);
  const Alignment a = align(profile, settings, c.seq, ws, c.prf_line ? Detail::display : Detail::score);
  EXPECT_EQ(a.score, c.score);
  if (c.prf_line) {
    EXPECT_EQ(a.prf_line, c.prf_line);
    EXPECT_EQ(a.seq_line, c.seq_line);
  }
}

INSTANTIATE_TEST_SUITE_P(Engine, EndModes,
                         testing::Combine(testing::ValuesIn(cases()), testing::ValuesIn(fixtures::all_engines())),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
                         });

}  // namespace
