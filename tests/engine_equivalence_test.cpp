// Every instruction-set variant of the engine, at every strip height,
// against the plain reference engine on thousands of generated cases: same
// score to the bit, same status, coordinates and aligned lines; and two
// threads aligning at once give what one thread gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/engine_setup.h"
#include "support/random_cases.h"

namespace {

using namespace tormid;

Detail detail_for(int n) {
  const Detail details[] = {Detail::score, Detail::path, Detail::display};
  return details[n % 3];
}

void expect_same(const Alignment& got, const Alignment& expected) {
  ASSERT_EQ(std::bit_cast<std::uint64_t>(got.score), std::bit_cast<std::uint64_t>(expected.score))
      << got.score << " vs " << expected.score;
  ASSERT_EQ(got.status, expected.status);
  ASSERT_EQ(got.seq_from, expected.seq_from);
  ASSERT_EQ(got.seq_to, expected.seq_to);
  ASSERT_EQ(got.prf_from, expected.prf_from);
  ASSERT_EQ(got.prf_to, expected.prf_to);
  ASSERT_EQ(got.prf_line, expected.prf_line);
  ASSERT_EQ(got.seq_line, expected.seq_line);
}

class EngineEquivalence : public testing::TestWithParam<std::string> {};

// One workspace per engine for all cases, so that buffers grown by a large
// case are reused by smaller ones.
TEST_P(EngineEquivalence, MatchesReferenceBitForBit) {
  Workspace fast(GetParam());
  Workspace reference("reference");
  std::mt19937 rng(7u + static_cast<unsigned>(GetParam().size()));
  for (int n = 0; n < 3000; ++n) {
    const fixtures::RandomCase c = fixtures::random_case(rng, fixtures::varied_limits(n));
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    SCOPED_TRACE("case " + std::to_string(n) + ": seq " + c.seq + ", " + std::to_string(c.rows.size()) +
                 " positions");
    const Alignment expected = align(profile, settings, c.seq, reference, detail_for(n));
    expect_same(align(profile, settings, c.seq, fast, detail_for(n)), expected);
  }
}

// Every prefix's score from one pass is align()'s score of that prefix
// alone, to the bit, with every start mode.
TEST_P(EngineEquivalence, PrefixScoresAreThoseOfEachPrefix) {
  Workspace fast(GetParam());
  Workspace reference("reference");
  std::mt19937 rng(11u + static_cast<unsigned>(GetParam().size()));
  std::vector<double> scores;
  for (int n = 0; n < 120; ++n) {
    fixtures::RandomCase c = fixtures::random_case(rng, fixtures::varied_limits(n));
    c.values.prf_free_end = true;
    c.values.seq_free_end = false;
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    prefix_scores(profile, settings, c.seq, fast, scores);
    ASSERT_EQ(scores.size(), c.seq.size());
    for (std::size_t k = 0; k < c.seq.size(); ++k) {
      const double expected = align(profile, settings, c.seq.substr(0, k + 1), reference, Detail::score).score;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(scores[k]), std::bit_cast<std::uint64_t>(expected))
          << "case " << n << ", prefix " << k + 1 << ": " << scores[k] << " vs " << expected;
    }
  }
  EXPECT_THROW(prefix_scores(Profile(), Settings{}, "A", fast, scores), std::invalid_argument);
}

// Row ends, per row, are what align() of each prefix ends in (score to the
// bit and the row and column); and where a suffix's matrix is said to meet
// the whole sequence's, the suffix's own row ends are the met rows' and,
// after them, the whole sequence's (at or below 0.0 a local start may
// differ, see rows_meet()).
TEST_P(EngineEquivalence, RowEndsAreThoseOfEachPrefixAndMetRowsStayMet) {
  Workspace fast(GetParam());
  Workspace reference("reference");
  std::mt19937 rng(17u + static_cast<unsigned>(GetParam().size()));
  std::vector<RowEnd> ends, suffix_ends, met;
  int meetings = 0;
  for (int n = 0; n < 300; ++n) {
    fixtures::RandomCase c = fixtures::random_case(rng, fixtures::varied_limits(n));
    if (n % 3 == 0) c.values.seq_free_beg = c.values.prf_free_beg = true;  // a local start
    c.values.prf_free_end = true;
    c.values.seq_free_end = n % 2 == 0;
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    SCOPED_TRACE("case " + std::to_string(n) + ": seq " + c.seq + ", " + std::to_string(c.rows.size()) +
                 " positions");
    row_ends(profile, settings, c.seq, fast, ends);
    ASSERT_EQ(ends.size(), c.seq.size());
    row_ends(profile, settings, c.seq, reference, suffix_ends);
    for (std::size_t k = 0; k < ends.size(); ++k) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(ends[k].score), std::bit_cast<std::uint64_t>(suffix_ends[k].score))
          << "row " << k + 1;
      ASSERT_EQ(ends[k].col, suffix_ends[k].col) << "row " << k + 1;
    }
    double best = kScoreFloor;
    int best_row = 0, best_col = 0;
    for (std::size_t k = 0; k < c.seq.size(); ++k) {
      if (ends[k].score > best) best = ends[k].score, best_row = static_cast<int>(k) + 1, best_col = ends[k].col;
      const Alignment a = align(profile, settings, c.seq.substr(0, k + 1), reference, Detail::path);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(best), std::bit_cast<std::uint64_t>(a.score)) << "prefix " << k + 1;
      if (a.status == AlignStatus::aligned && a.seq_to > 0) {
        ASSERT_EQ(best_row, a.seq_to);
        ASSERT_EQ(best_col, a.prf_to);
      }
    }
    if (c.seq.size() < 2) continue;
    const std::size_t from = std::uniform_int_distribution<std::size_t>(1, c.seq.size() - 1)(rng);
    std::uint64_t cells = 0;
    const int rows = rows_meet(profile, settings, c.seq, from, static_cast<int>(c.seq.size()), met, cells);
    if (rows < 0) continue;
    ++meetings;
    row_ends(profile, settings, std::string_view(c.seq).substr(from), reference, suffix_ends);
    const bool local_start = settings.start == StartMode::local;
    for (std::size_t k = 0; k < suffix_ends.size(); ++k) {
      const RowEnd expected = k < met.size() ? met[k] : ends[from + k];
      if (local_start && expected.score <= 0.0 && suffix_ends[k].score <= 0.0) continue;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(suffix_ends[k].score), std::bit_cast<std::uint64_t>(expected.score))
          << "from " << from << ", met after " << rows << ", row " << k + 1;
      ASSERT_EQ(suffix_ends[k].col, expected.col);
    }
  }
  EXPECT_GT(meetings, 30);
  EXPECT_THROW(row_ends(Profile(), Settings{}, "A", fast, ends), std::invalid_argument);
}

// The quick kernels: on integer scores and penalties every float operation
// is exact, so they must give align()'s score; on any values, every
// instruction set must give what the plain float kernel gives.
TEST_P(EngineEquivalence, QuickScoresAreExactOnIntegersAndAlikeOnEveryKernel) {
  Workspace fast(GetParam());
  Workspace plain("scalar");
  std::mt19937 rng(13u + static_cast<unsigned>(GetParam().size()));
  std::vector<double> prefixes, plain_prefixes, exact_prefixes;
  for (int n = 0; n < 1500; ++n) {
    fixtures::RandomLimits limits = fixtures::varied_limits(n);
    limits.huge_values = false;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    if (c.seq.empty() || c.rows.empty()) continue;
    if (n % 4 == 0) {
      c.values.prf_free_end = true;
      c.values.seq_free_end = false;
    }
    const Profile profile = c.profile();
    const QuickProfile quick(profile);
    const Settings settings = c.settings();
    SCOPED_TRACE("case " + std::to_string(n) + ": seq " + c.seq + ", " + std::to_string(c.rows.size()) +
                 " positions");
    const double score = quick_score(quick, settings, c.seq, fast);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(score), std::bit_cast<std::uint64_t>(quick_score(quick, settings, c.seq, plain)));
    if (!limits.fractional) {
      ASSERT_EQ(score, align(profile, settings, c.seq, plain, Detail::score).score);
    }
    if (settings.end != EndMode::prf_free) continue;
    quick_prefix_scores(quick, settings, c.seq, fast, prefixes);
    quick_prefix_scores(quick, settings, c.seq, plain, plain_prefixes);
    ASSERT_EQ(prefixes, plain_prefixes);
    prefix_scores(profile, settings, c.seq, plain, exact_prefixes);
    if (!limits.fractional) {
      ASSERT_EQ(prefixes, exact_prefixes);
    }
  }
  EXPECT_THROW(quick_score(QuickProfile(Profile()), Settings{}, "A", fast), std::invalid_argument);
}

// Local quick scores run on 16-bit integers: scores and penalties times
// the profile's scale, rounded. Wherever that problem's best score lies
// above 0 and below the top of the range, the quick score is exactly it,
// scaled back (the plain engine is exact on such integers); a score beyond
// the range comes from the floats.
TEST_P(EngineEquivalence, LocalQuickScoresAreThoseOfTheRoundedProblem) {
  Workspace fast(GetParam());
  Workspace plain("reference");
  std::mt19937 rng(29u + static_cast<unsigned>(GetParam().size()));
  int compared = 0;
  for (int n = 0; n < 1500; ++n) {
    fixtures::RandomLimits limits = fixtures::varied_limits(n);
    limits.huge_values = false;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    if (c.seq.empty() || c.rows.empty()) continue;
    c.values.prf_free_beg = c.values.prf_free_end = c.values.seq_free_beg = c.values.seq_free_end = true;
    const QuickProfile quick(c.profile());
    const Settings settings = c.settings();
    const double scale = quick.short_scale();
    std::vector<ProfileRow> rows = c.rows;
    for (ProfileRow& row : rows)
      for (double& score : row) score = std::round(score * scale);
    Settings rounded = settings;
    bool fits = true;
    for (double* penalty : {&rounded.gap_open_penalty_prf, &rounded.deletion_penalty_prf,
                            &rounded.gap_open_penalty_seq, &rounded.deletion_penalty_seq}) {
      fits = fits && *penalty >= 0 && *penalty * scale <= QuickProfile::kShortPenaltyLimit;
      *penalty = std::round(*penalty * scale);
    }
    if (!fits) continue;
    const double exact = align(Profile(rows), rounded, c.seq, plain, Detail::score).score;
    if (exact <= 0 || exact > INT16_MAX - QuickProfile::kShortScoreLimit) continue;
    SCOPED_TRACE("case " + std::to_string(n) + ": seq " + c.seq + ", scale " + std::to_string(scale));
    ASSERT_EQ(quick_score(quick, settings, c.seq, fast), exact / scale);
    ++compared;
  }
  EXPECT_GT(compared, 800);

  // 600 pairs of 10: far beyond 16 bits at any scale that keeps 10 exact.
  std::vector<ProfileRow> rows(600);
  for (ProfileRow& row : rows) {
    row.fill(-1.0);
    row[0] = 10.0;
  }
  const Profile profile(rows);
  const QuickProfile high(profile);
  const std::string seq(600, 'A');
  const Settings local = set_parameters({11, 1, 11, 1, true, true, true, true});
  const double exact = align(profile, local, seq, plain, Detail::score).score;
  EXPECT_GT(exact * high.short_scale(), INT16_MAX);
  EXPECT_EQ(quick_score(high, local, seq, fast), exact);
}

// One pass for the row ends and a prefix's alignment: the same ends as
// row_ends(), and align()'s alignment of the prefix chosen from them
// (score, coordinates, lines), whatever the prefix; none where none is
// chosen. The plain engine, which keeps no moves, aligns the prefix anew.
TEST_P(EngineEquivalence, RowEndsAndAPrefixFromOnePass) {
  Workspace fast(GetParam());
  Workspace plain("reference");
  std::mt19937 rng(37u + static_cast<unsigned>(GetParam().size()));
  std::vector<RowEnd> ends, want_ends;
  for (int n = 0; n < 600; ++n) {
    fixtures::RandomCase c = fixtures::random_case(rng, fixtures::varied_limits(n));
    if (c.seq.empty() || c.rows.empty()) continue;
    c.values.prf_free_end = true;
    c.values.seq_free_end = n % 2 == 0;  // local or last-column ends
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    const int len = static_cast<int>(c.seq.size());
    const int rows = std::array{0, 1, (len + 1) / 2, len}[static_cast<std::size_t>(n % 4)];
    const Detail detail = n % 3 ? Detail::display : Detail::path;
    row_ends(profile, settings, c.seq, plain, want_ends);
    for (Workspace* ws : {&fast, &plain}) {
      SCOPED_TRACE("case " + std::to_string(n) + ": seq " + c.seq + ", rows " + std::to_string(rows));
      const std::optional<Alignment> got = row_ends_and_prefix(
          profile, settings, c.seq, *ws, ends, [&](const std::vector<RowEnd>&) { return rows; }, detail);
      ASSERT_EQ(ends.size(), want_ends.size());
      for (std::size_t k = 0; k < ends.size(); ++k) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(ends[k].score), std::bit_cast<std::uint64_t>(want_ends[k].score));
        ASSERT_EQ(ends[k].col, want_ends[k].col);
      }
      ASSERT_EQ(got.has_value(), rows > 0);
      if (got)
        expect_same(*got, align(profile, settings, std::string_view(c.seq).substr(0, static_cast<std::size_t>(rows)),
                                plain, detail));
    }
  }
}

// Many sequences at once give what each gives alone, to the bit: batches
// of every size around the point where lanes take over, letters outside
// the alphabet, penalties the integers cannot take, and scores past the
// top of their range (left to the floats).
TEST_P(EngineEquivalence, QuickScoresOfManyAreEachOnesAlone) {
  Workspace fast(GetParam());
  std::mt19937 rng(31u + static_cast<unsigned>(GetParam().size()));
  std::vector<double> together;
  for (int n = 0; n < 300; ++n) {
    fixtures::RandomLimits limits = fixtures::varied_limits(n);
    limits.huge_values = false;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    if (c.rows.empty()) continue;
    if (n % 2 == 0) c.values.prf_free_beg = c.values.prf_free_end = c.values.seq_free_beg = c.values.seq_free_end = true;
    std::vector<std::string> seqs;
    const int count = static_cast<int>(rng() % 80) + 1;
    for (int k = 0; k < count; ++k) {
      std::string seq = fixtures::random_case(rng, limits).seq;
      if (!seq.empty()) seqs.push_back(std::move(seq));
    }
    const QuickProfile quick(c.profile());
    const Settings settings = c.settings();
    const std::vector<std::string_view> views(seqs.begin(), seqs.end());
    together.assign(views.size(), 0);
    quick_scores(quick, settings, views, fast, together);
    for (std::size_t k = 0; k < views.size(); ++k)
      ASSERT_EQ(std::bit_cast<std::uint64_t>(together[k]),
                std::bit_cast<std::uint64_t>(quick_score(quick, settings, views[k], fast)))
          << "case " << n << ", sequence " << k << " of " << views.size() << ": " << views[k];
  }

  // Pairs of 10 along 600 positions: the long sequences pass the top of
  // the 16-bit range, the short ones do not.
  std::vector<ProfileRow> rows(600);
  for (ProfileRow& row : rows) {
    row.fill(-1.0);
    row[0] = 10.0;
  }
  const QuickProfile high((Profile(rows)));
  const Settings local = set_parameters({11, 1, 11, 1, true, true, true, true});
  std::vector<std::string> seqs;
  for (int k = 0; k < 40; ++k) seqs.push_back(std::string(static_cast<std::size_t>(15 * k + 1), "AC"[k % 2]));
  const std::vector<std::string_view> views(seqs.begin(), seqs.end());
  together.assign(views.size(), 0);
  quick_scores(high, local, views, fast, together);
  for (std::size_t k = 0; k < views.size(); ++k) ASSERT_EQ(together[k], quick_score(high, local, views[k], fast)) << k;

  // More sequences than one plan takes.
  {
    fixtures::RandomLimits limits;
    const fixtures::RandomCase c = fixtures::random_case(rng, limits);
    const QuickProfile quick(Profile(c.rows.empty() ? std::vector<ProfileRow>(3) : c.rows));
    std::vector<std::string> many;
    for (int k = 0; k < 2500; ++k) many.push_back(std::string(static_cast<std::size_t>(5 + k % 23), "ACDEW"[k % 5]));
    const std::vector<std::string_view> views_many(many.begin(), many.end());
    together.assign(views_many.size(), 0);
    quick_scores(quick, local, views_many, fast, together);
    for (std::size_t k = 0; k < views_many.size(); ++k)
      ASSERT_EQ(std::bit_cast<std::uint64_t>(together[k]),
                std::bit_cast<std::uint64_t>(quick_score(quick, local, views_many[k], fast)))
          << k;
  }

  // What quick_score() refuses, quick_scores() refuses.
  const std::vector<std::string_view> with_empty(20, std::string_view("ACD"));
  std::vector<std::string_view> bad = with_empty;
  bad[7] = "";
  together.assign(bad.size(), 0);
  EXPECT_THROW(quick_scores(high, local, bad, fast, together), std::invalid_argument);
  together.resize(3);
  EXPECT_THROW(quick_scores(high, local, with_empty, fast, together), std::invalid_argument);
}

// align()'s scores of many sequences at once are each one's own, to the
// bit, and so are their row ends: alignments free at the sequence's start
// (where lanes may run) with every end, other starts (one by one), empty
// sequences among them, more sequences than one plan takes; and the lanes
// run wherever the kernel has them and the values are moderate.
TEST_P(EngineEquivalence, AlignedScoresOfManyAreEachOnesAlone) {
  Workspace fast(GetParam());
  Workspace reference("reference");
  std::mt19937 rng(43u + static_cast<unsigned>(GetParam().size()));
  std::vector<double> together;
  int in_lanes = 0;
  for (int n = 0; n < 300; ++n) {
    const fixtures::RandomLimits limits = fixtures::varied_limits(n);
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    if (n % 4 != 3) {
      c.values.prf_free_beg = true;
      c.values.seq_free_beg = false;
    }
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    std::vector<std::string> seqs;
    const int count = n == 1 ? 1100 : static_cast<int>(rng() % 80) + 1;
    for (int k = 0; k < count; ++k) seqs.push_back(k % 17 == 5 ? "" : fixtures::random_case(rng, limits).seq);
    const std::vector<std::string_view> views(seqs.begin(), seqs.end());
    together.assign(views.size(), 0);
    // Row ends too where the alignments end in the last column.
    std::vector<std::vector<RowEnd>> ends(settings.end == EndMode::prf_free ? views.size() : 0);
    align_scores(profile, settings, views, fast, together, ends);
    in_lanes += aligns_many_at_once(profile, settings, fast);
    std::vector<RowEnd> expected_ends;
    for (std::size_t k = 0; k < views.size(); ++k) {
      ASSERT_EQ(std::bit_cast<std::uint64_t>(together[k]),
                std::bit_cast<std::uint64_t>(align(profile, settings, views[k], reference, Detail::score).score))
          << "case " << n << ", sequence " << k << " of " << views.size() << ": " << views[k];
      if (ends.empty()) continue;
      row_ends(profile, settings, views[k], reference, expected_ends);
      ASSERT_EQ(ends[k].size(), expected_ends.size()) << "case " << n << ", sequence " << k;
      for (std::size_t i = 0; i < ends[k].size(); ++i)
        ASSERT_TRUE(std::bit_cast<std::uint64_t>(ends[k][i].score) ==
                        std::bit_cast<std::uint64_t>(expected_ends[i].score) &&
                    ends[k][i].col == expected_ends[i].col)
            << "case " << n << ", sequence " << k << ", row " << i + 1;
    }
  }
  if (GetParam().starts_with("avx512")) EXPECT_GT(in_lanes, 150);
  else EXPECT_EQ(in_lanes, 0);
  together.resize(2);
  const std::vector<std::string_view> three(3, std::string_view("ACD"));
  const Settings glocal = set_parameters({11, 1, 11, 1, true, true, false, false, false});
  EXPECT_THROW(align_scores(Profile(std::vector<ProfileRow>(4)), glocal, three, fast, together),
               std::invalid_argument);
  together.resize(3);
  std::vector<std::vector<RowEnd>> two_ends(2);
  EXPECT_THROW(align_scores(Profile(std::vector<ProfileRow>(4)), glocal, three, fast, together, two_ends),
               std::invalid_argument);
  std::vector<std::vector<RowEnd>> three_ends(3);
  const Settings to_last_row = set_parameters({11, 1, 11, 1, true, false, false, true, false});
  EXPECT_THROW(align_scores(Profile(std::vector<ProfileRow>(4)), to_last_row, three, fast, together, three_ends),
               std::invalid_argument);
}

// A cut stops a sequence only where align()'s score lies below it, and the
// score given then lies at or above align()'s and below the cut; a
// sequence whose score reaches its cut keeps its score and row ends to the
// bit. Cuts under each score, just above it, and far above.
TEST_P(EngineEquivalence, CutsStopOnlySequencesBelowTheirCut) {
  Workspace fast(GetParam());
  Workspace reference("reference");
  std::mt19937 rng(47u + static_cast<unsigned>(GetParam().size()));
  const double above[] = {-1, 1e-9, 3, 30, 300};
  int stopped = 0;
  for (int n = 0; n < 200; ++n) {
    const fixtures::RandomLimits limits = fixtures::varied_limits(n);
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    c.values.prf_free_beg = c.values.prf_free_end = true;
    c.values.seq_free_beg = c.values.seq_free_end = false;
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    std::vector<std::string> seqs;
    const int count = static_cast<int>(rng() % 60) + 1;
    for (int k = 0; k < count; ++k) seqs.push_back(fixtures::random_case(rng, limits).seq + "A");
    const std::vector<std::string_view> views(seqs.begin(), seqs.end());
    std::vector<double> exact(views.size());
    for (std::size_t k = 0; k < views.size(); ++k)
      exact[k] = align(profile, settings, views[k], reference, Detail::score).score;
    const auto [low, high] = std::minmax_element(exact.begin(), exact.end());
    const SuffixBound suffix(profile, settings, bound_scale(profile, *low - 50, *high + 350));
    std::vector<SuffixGains> gains;
    suffix.gains(views, 1 + static_cast<int>(rng() % 6), fast, gains);
    std::vector<ScoreCut> cuts(views.size());
    for (std::size_t k = 0; k < views.size(); ++k) cuts[k] = {exact[k] + above[k % 5], &gains[k]};
    std::vector<double> got(views.size());
    std::vector<std::vector<RowEnd>> ends(views.size());
    align_scores(profile, settings, views, fast, got, ends, cuts);
    std::vector<RowEnd> expected_ends;
    for (std::size_t k = 0; k < views.size(); ++k) {
      if (cuts[k].below > exact[k]) {
        stopped += std::bit_cast<std::uint64_t>(got[k]) != std::bit_cast<std::uint64_t>(exact[k]);
        ASSERT_GE(got[k], exact[k]) << "case " << n << ", sequence " << k << ": " << views[k];
        ASSERT_LT(got[k], cuts[k].below) << "case " << n << ", sequence " << k << ": " << views[k];
        continue;
      }
      ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(exact[k]))
          << "case " << n << ", sequence " << k << ": " << views[k];
      row_ends(profile, settings, views[k], reference, expected_ends);
      ASSERT_EQ(ends[k].size(), expected_ends.size());
      for (std::size_t i = 0; i < ends[k].size(); ++i)
        ASSERT_TRUE(std::bit_cast<std::uint64_t>(ends[k][i].score) ==
                        std::bit_cast<std::uint64_t>(expected_ends[i].score) &&
                    ends[k][i].col == expected_ends[i].col)
            << "case " << n << ", sequence " << k << ", row " << i + 1;
    }
  }
  // Only the lanes of many sequences at once stop early.
  if (GetParam().starts_with("avx512")) EXPECT_GT(stopped, 100);
  else EXPECT_EQ(stopped, 0);
  // Gains whose rows do not fit the sequence are refused.
  SuffixGains wrong;
  wrong.rows = {1, 2};
  wrong.d.assign(8, 0);
  wrong.start.assign(2, 0);
  const std::vector<std::string_view> one(1, std::string_view("ACDE"));
  std::vector<double> score(1);
  const std::vector<ScoreCut> cut(1, ScoreCut{0, &wrong});
  const Settings glocal = set_parameters({11, 1, 11, 1, true, true, false, false, false});
  EXPECT_THROW(align_scores(Profile(std::vector<ProfileRow>(4)), glocal, one, fast, score, {}, cut),
               std::invalid_argument);
}

// Every variant, and every strip height of those that pick one by profile
// length.
std::vector<std::string> all_kernels() {
  std::vector<std::string> names = engine_kernels();
  for (const std::string& h : engine_kernel_heights()) names.push_back(h);
  return names;
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineEquivalence, testing::ValuesIn(all_kernels()), [](const auto& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
});

TEST(EngineThreads, TwoThreadsWithTheirOwnWorkspacesMatchOneThread) {
  std::mt19937 rng(99);
  std::vector<fixtures::RandomCase> cases;
  for (int n = 0; n < 400; ++n) cases.push_back(fixtures::random_case(rng, fixtures::varied_limits(n)));
  std::vector<Profile> profiles;
  for (const auto& c : cases) profiles.push_back(c.profile());

  auto run = [&](std::size_t first, std::size_t step, std::vector<Alignment>& out) {
    Workspace ws;
    for (std::size_t k = first; k < cases.size(); k += step)
      out[k] = align(profiles[k], cases[k].settings(), cases[k].seq, ws, Detail::display);
  };
  std::vector<Alignment> sequential(cases.size()), parallel(cases.size());
  run(0, 1, sequential);
  std::thread a(run, 0, 2, std::ref(parallel)), b(run, 1, 2, std::ref(parallel));
  a.join();
  b.join();
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE("case " + std::to_string(k));
    expect_same(parallel[k], sequential[k]);
  }
}

TEST(EngineKernels, WidestByDefaultAndUnknownNamesRefused) {
  const std::vector<std::string> kernels = engine_kernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.back(), "scalar");
  EXPECT_EQ(Workspace().kernel(), kernels.front());
  EXPECT_EQ(Workspace("reference").kernel(), "reference");
  EXPECT_THROW(Workspace("no-such-unit"), std::invalid_argument);
}

}  // namespace
