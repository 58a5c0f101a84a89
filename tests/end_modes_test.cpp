// The end-gap modes, one table row per rule. Each row is built so that it
// fails when its rule is left out or applied in the wrong mode; the comment
// above a group says what the faulty engine would return instead.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/engine_setup.h"

namespace {

using fixtures::Penalties;

// Free-end switches as the engine sees them after set_parameters (tests of
// the end choice also set combinations that set_parameters would fold).
struct Modes {
  int prf_beg = 0, seq_beg = 0, all_beg = 0, prf_end = 0, seq_end = 0, all_end = 0;
};

struct ModeCase {
  const char* name;
  std::vector<ProfileRow> rows;
  Penalties penalties;
  Modes modes;
  const char* seq;
  double score;
  const char* prf_line = nullptr;  // when set, the alignment is checked too
  const char* seq_line = nullptr;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

// One position per letter of word: match for the letter, other elsewhere.
std::vector<ProfileRow> word(const std::string& letters, double match = 5, double other = -1) {
  fixtures::load_word_profile(letters, match, other);
  return profile;
}

ProfileRow row_with(char letter, double score, double other) {
  ProfileRow row;
  row.fill(other);
  row[getIndex(letter)] = score;
  return row;
}

const Penalties kTen = {10, 1, 10, 1};
const Penalties kZero = {0, 0, 0, 0};
// An opening bonus on the sequence side makes the opening rule visible in
// scores under the local start.
const Penalties kSeqBonus = {10, 1, -5, 1};
// A deletion bonus on the profile side makes non-diagonal cells the best.
const Penalties kPrfBonus = {0, -1, 10, 1};

Modes prf_beg() { Modes m; m.prf_beg = 1; return m; }
Modes seq_beg() { Modes m; m.seq_beg = 1; return m; }
Modes all_beg() { Modes m; m.all_beg = 1; return m; }
Modes prf_end() { Modes m; m.prf_end = 1; return m; }
Modes seq_end() { Modes m; m.seq_end = 1; return m; }
Modes all_end() { Modes m; m.all_end = 1; return m; }
Modes both(Modes a, const Modes& b) {
  a.prf_beg |= b.prf_beg; a.seq_beg |= b.seq_beg; a.all_beg |= b.all_beg;
  a.prf_end |= b.prf_end; a.seq_end |= b.seq_end; a.all_end |= b.all_end;
  return a;
}

const std::vector<ModeCase>& cases() {
  static const std::vector<ModeCase> all = {
      // Row 0 is free under the sequence-free and the local start (else 23).
      {"Row0FreeUnderSeqFreeBeg", word("ACDEFGHIK"), kTen, seq_beg(), "DEFGHIK", 35},
      {"Row0FreeUnderLocalStart", word("ACDEFGHIK"), kTen, all_beg(), "DEFGHIK", 35},
      {"Row0PenalisedUnderPrfFreeBeg", word("ACDEFGHIK"), kTen, prf_beg(), "DEFGHIK", 23},

      // Column 0 is free under the profile-free start only (else 45).
      {"Column0FreeUnderPrfFreeBeg", word("ACDEFGHIK"), kTen, prf_beg(), "WWACDEFGHIK", 45},
      {"Column0PenalisedUnderLocalStart", word("ACDEFGHIK"), kTen, all_beg(), "WWACDEFGHIK",
       40},
      {"Column0PenalisedUnderSeqFreeBeg", word("ACDEFGHIK"), kTen, seq_beg(), "WWACDEFGHIK",
       33},

      // Local start: a best of exactly 0.0 resets the cell and clears its
      // match (else the gap after it earns the opening bonus: 4); a move out
      // of a reset cell pays no opening (else 4 again); without the local
      // start the match stays and the bonus is earned.
      {"ExactZeroResets", {row_with('A', 0, -5), row_with('A', -5, -5)}, kSeqBonus, all_beg(),
       "A", 0},
      {"NoOpeningOutOfResetCell", {row_with('A', -1, -5), row_with('A', -5, -5)}, kSeqBonus,
       all_beg(), "A", 0},
      {"NoResetWithoutLocalStart", {row_with('A', -1, -5), row_with('A', -5, -5)}, kSeqBonus,
       seq_beg(), "A", 3},
      // The chosen diagonal move still counts for the trackers after a reset
      // (else nothing is found: -100000).
      {"ResetDiagonalCountsForTracker", word("ACDEFGHIK"), kTen, both(all_beg(), all_end()),
       "WWWW", 0},

      // Trackers take diagonal moves only (else 8 from the unpaired tail).
      {"LocalEndDiagonalOnly", word("A"), kPrfBonus, all_end(), "AWWW", 5},
      {"PrfEndDiagonalOnly", word("A"), kPrfBonus, prf_end(), "AWWW", 5},
      // ... in their own column or row only (else 5 from the first cell).
      {"PrfEndLastColumnOnly", word("AC"), kTen, prf_end(), "A", kScoreFloor},
      {"SeqEndLastRowOnly", word("A"), kTen, seq_end(), "AW", kScoreFloor},
      {"SeqEndNoDiagonalInLastRow", word("AC"), kZero, seq_end(), "AW", kScoreFloor},
      // ... strictly greater, so the first visited cell wins a tie (else the
      // pair moves right, or down).
      {"SeqEndFirstColumnWinsTie", word("AA"), kZero, seq_end(), "A", 5, "aa", "A."},
      {"LocalEndFirstColumnWinsTie", word("AA"), kZero, all_end(), "A", 5, "aa", "A."},
      {"LocalEndEarlierRowWinsTie", word("A"), kZero, all_end(), "AA", 5, "a.", "AA"},

      // End choice: local end first, then the profile end, then the
      // sequence end; with no end mode the last cell, whatever the start.
      {"LocalEndBeforeProfileEnd", word("AC"), kTen, both(all_end(), prf_end()), "A", 5},
      {"LocalEndBeforeSequenceEnd", word("A"), kTen, both(all_end(), seq_end()), "AW", 5},
      {"ProfileEndBeforeSequenceEnd", word("AC"), kTen, both(prf_end(), seq_end()), "A",
       kScoreFloor},
      {"SequenceEndAloneForContrast", word("AC"), kTen, seq_end(), "A", 5},
      {"NoEndModeTakesLastCell", word("ACDEFGHIK"), kTen, seq_beg(), "DEFGH", 13},
      {"SeqBothEndsForContrast", word("ACDEFGHIK"), kTen, both(seq_beg(), seq_end()), "DEFGH",
       25},
  };
  return all;
}

class EndModes : public testing::TestWithParam<ModeCase> {};

TEST_P(EndModes, ScoreAndEndPoint) {
  const ModeCase& c = GetParam();
  profile = c.rows;
  prf_length = static_cast<int>(c.rows.size());
  fixtures::use_penalties(c.penalties);
  prf_free_beg = c.modes.prf_beg;
  seq_free_beg = c.modes.seq_beg;
  all_free_beg = c.modes.all_beg;
  prf_free_end = c.modes.prf_end;
  seq_free_end = c.modes.seq_end;
  all_free_end = c.modes.all_end;
  show_alignment = c.prf_line != nullptr;
  build_consensus();
  EXPECT_EQ(score_sequence(c.seq), c.score);
  if (c.prf_line) {
    EXPECT_EQ(res_seq1, c.prf_line);
    EXPECT_EQ(res_seq2, c.seq_line);
  }
}

INSTANTIATE_TEST_SUITE_P(Engine, EndModes, testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
