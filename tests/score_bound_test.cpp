// The score bound on thousands of generated cases: never below the exact
// engine's score, whatever the modes, penalties (zero, huge, negative),
// ties, letters and lengths; the same number from every kernel; and, where
// the inputs need no rounding, no looser than the relaxed gap model it
// computes (a plain double version of which lives here). The coarse bound
// of local alignments likewise, within its rounding of the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include "engine/coarse_kernel.h"
#include "engine/cpu.h"
#include "support/random_cases.h"

namespace {

using namespace tormid;

constexpr double kMinus = -std::numeric_limits<double>::infinity();

// The relaxed model, cell by cell in doubles: a stretch of gaps pays
// L = min(open_seq, open_prf, both) once, deletions per move; edges earn
// back their side's opening bonus; a local start restarts anywhere at 0.
// `lowest` gets the lowest value of any cell.
double relaxed_score(const Profile& profile, const Settings& s, const std::string& seq, double& lowest) {
  const int len = static_cast<int>(seq.size()), prf = profile.length();
  const double enter = std::min({s.gap_open_penalty_seq, s.gap_open_penalty_prf,
                                 s.gap_open_penalty_seq + s.gap_open_penalty_prf});
  const bool local = s.start == StartMode::local;
  const bool free_row0 = local || s.start == StartMode::seq_free, free_col0 = s.start == StartMode::prf_free;
  const double bonus_prf = std::max(0.0, -s.gap_open_penalty_prf), bonus_seq = std::max(0.0, -s.gap_open_penalty_seq);
  const std::size_t w = static_cast<std::size_t>(prf) + 1;
  std::vector<double> m((static_cast<std::size_t>(len) + 1) * w, kMinus), g = m;
  auto at = [&](int i, int j) { return static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j); };
  for (int j = 1; j <= prf; ++j) {
    m[at(0, j)] = free_row0 ? 0.0 : -s.gap_open_penalty_seq - j * s.deletion_penalty_seq;
    g[at(0, j)] = m[at(0, j)] + bonus_prf;
  }
  for (int i = 1; i <= len; ++i) {
    m[at(i, 0)] = free_col0 ? 0.0 : -s.gap_open_penalty_prf - i * s.deletion_penalty_prf;
    g[at(i, 0)] = m[at(i, 0)] + bonus_seq;
  }
  m[at(0, 0)] = 0.0;
  for (std::size_t k = 0; k < m.size(); ++k) lowest = std::min({lowest, m[k] == kMinus ? 0.0 : m[k], g[k] == kMinus ? 0.0 : g[k]});
  double best = kMinus;
  for (int i = 1; i <= len; ++i) {
    const int code = getIndex(seq[static_cast<std::size_t>(i - 1)]);
    for (int j = 1; j <= prf; ++j) {
      // Out of an edge cell a pairing starts from its edge value.
      double from = i == 1 || j == 1 ? m[at(i - 1, j - 1)] : std::max(m[at(i - 1, j - 1)], g[at(i - 1, j - 1)]);
      if (local) from = std::max(from, 0.0);
      m[at(i, j)] = from + (code >= 0 ? profile.row(j - 1)[static_cast<std::size_t>(code)] : 0.0);
      const bool edge_up = i == 1, edge_left = j == 1;
      const double up = std::max(edge_up ? kMinus : m[at(i - 1, j)] - enter, g[at(i - 1, j)]);
      const double left = std::max(edge_left ? kMinus : m[at(i, j - 1)] - enter, g[at(i, j - 1)]);
      g[at(i, j)] = std::max({up - s.deletion_penalty_prf, left - s.deletion_penalty_seq, local ? 0.0 : kMinus});
      const bool ends = s.end == EndMode::local || (s.end == EndMode::prf_free && j == prf) ||
                        (s.end == EndMode::seq_free && i == len);
      if (ends) best = std::max(best, m[at(i, j)]);
      lowest = std::min({lowest, m[at(i, j)], g[at(i, j)]});
    }
  }
  if (s.end == EndMode::global) return std::max(m[at(len, prf)], g[at(len, prf)]);
  if (local) best = std::max(best, 0.0);
  return std::max(best, kScoreFloor);
}

// The varied cases of the engine's tests, and now and then a long one.
fixtures::RandomLimits limits_for(int n) {
  fixtures::RandomLimits limits = fixtures::varied_limits(n);
  if (n % 97 == 11) {
    limits.max_prf = 1500;
    limits.max_len = 3000;
  }
  return limits;
}

const double kScales[] = {256, 32, 1, 1.0 / 16, 1024};

class ScoreBoundProperty : public testing::TestWithParam<std::string> {};

TEST_P(ScoreBoundProperty, NeverBelowTheExactScoreAndNoLooserThanTheRelaxedModel) {
  Workspace exact_ws, bound_ws;
  std::mt19937 rng(2026);
  int finite = 0, usable = 0, compared = 0;
  for (int n = 0; n < 2500; ++n) {
    fixtures::RandomCase c = fixtures::random_case(rng, limits_for(n));
    if (n % 12 == 9) {  // opening bonuses, which the edges must pass on
      fixtures::RandomCase& v = c;
      v.values.gap_open_penalty_prf = -v.values.gap_open_penalty_prf;
      v.values.gap_open_penalty_seq = -v.values.gap_open_penalty_seq;
    }
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    const double scale = kScales[n % 5];
    SCOPED_TRACE("case " + std::to_string(n) + ": " + std::to_string(c.rows.size()) + " positions, " +
                 std::to_string(c.seq.size()) + " residues, scale " + std::to_string(scale));
    const double exact = align(profile, settings, c.seq, exact_ws, Detail::score).score;
    const ScoreBound bound(profile, settings, scale, GetParam());
    const double ub = bound.bound(c.seq, bound_ws);
    ASSERT_GE(ub, exact);
    // Every kernel computes the same integers.
    ASSERT_EQ(std::bit_cast<std::uint64_t>(ub),
              std::bit_cast<std::uint64_t>(ScoreBound(profile, settings, scale, "scalar").bound(c.seq, bound_ws)));
    // Many at once: the same as one by one.
    const std::string_view part = std::string_view(c.seq).substr(0, c.seq.size() / 2);
    const std::string_view many[] = {c.seq, "", part};
    double bounds[3];
    bound.bound_many(many, bounds, bound_ws);
    ASSERT_EQ(bounds[0], ub);
    ASSERT_EQ(bounds[1], std::numeric_limits<double>::infinity());
    ASSERT_EQ(bounds[2], bound.bound(part, bound_ws));
    usable += bound.usable();
    finite += std::isfinite(ub);
    // Whole numbers at scale >= 1 need no rounding: then the bound is the
    // relaxed model's best, plus at most the margin for rounding.
    const fixtures::RandomLimits limits = limits_for(n);
    if (std::isfinite(ub) && scale >= 1 && !limits.fractional && !limits.huge_values) {
      double lowest = 0;
      const double relaxed = relaxed_score(profile, settings, c.seq, lowest);
      // Below the integers' range, clipping raises values: no equality.
      if (lowest * scale > -30000) {
        ++compared;
        ASSERT_GE(ub, relaxed);
        ASSERT_LE(ub, relaxed + 1e-3);
      }
    }
  }
  // The property is not vacuous: most cases give a finite bound.
  EXPECT_GT(finite, usable * 3 / 4);
  EXPECT_GT(compared, 500);
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScoreBoundProperty, testing::ValuesIn(bound_kernels()),
                         [](const auto& info) { return info.param; });

// With BoundReach::stretches, and the coarse bound always, never below the
// exact score of any stretch of the sequence aligned alone, where
// alignments start anywhere in it (with a local start a stretch's first
// residue may pair with the first position, which one inside the sequence
// may not): in many of the cases some stretch scores more than the whole
// sequence, so the reach is not vacuous.
TEST(ScoreBound, StretchesReachBoundsEveryStretch) {
  Workspace exact_ws, bound_ws;
  std::mt19937 rng(77);
  int above_whole = 0, checked = 0;
  for (int n = 0; n < 600; ++n) {
    fixtures::RandomLimits limits = fixtures::varied_limits(n);
    limits.max_len = 60;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    c.values.prf_free_beg = true;
    c.values.seq_free_beg = n % 3 != 0;  // local starts, and profile-free ones
    c.values.prf_free_end = true;
    c.values.seq_free_end = n % 2 == 0;
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    if (c.seq.empty() || profile.length() == 0) continue;
    const ScoreBound stretches(profile, settings, 4, {}, BoundReach::stretches);
    const double whole = stretches.bound(c.seq, bound_ws);
    const double sequence_score = align(profile, settings, c.seq, exact_ws, Detail::score).score;
    const bool local = settings.start == StartMode::local && settings.end == EndMode::local;
    const CoarseBound coarse(profile, settings, 100);
    double coarse_value = std::numeric_limits<double>::infinity();
    const std::string_view one[] = {c.seq};
    if (local && coarse.usable()) coarse.bound_many(one, std::span(&coarse_value, 1), bound_ws);
    bool above = false;
    for (std::size_t from = 0; from < c.seq.size(); ++from)
      for (std::size_t to = from + 1; to <= c.seq.size(); to += 1 + to % 5) {
        const double exact =
            align(profile, settings, std::string_view(c.seq).substr(from, to - from), exact_ws, Detail::score).score;
        ASSERT_GE(whole, exact) << "case " << n << ", residues " << from + 1 << "-" << to;
        ASSERT_GE(coarse_value, exact) << "case " << n << ", residues " << from + 1 << "-" << to;
        above |= exact > sequence_score;
        ++checked;
      }
    above_whole += above;
  }
  EXPECT_GT(checked, 20000);
  EXPECT_GT(above_whole, 20);
}

// Lanes that finish at different times take the next sequence: a hundred
// sequences of very different lengths, in every mode.
TEST(ScoreBound, ManyAtOnceEqualOneByOne) {
  std::mt19937 rng(5);
  Workspace ws;
  for (int n = 0; n < 16; ++n) {
    fixtures::RandomLimits limits;
    limits.max_prf = n % 4 == 0 ? 3 : 200;
    limits.max_len = 1;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    c.values.prf_free_beg = n & 1;
    c.values.prf_free_end = n & 2;
    c.values.seq_free_beg = n & 4;
    c.values.seq_free_end = n & 8;
    std::vector<std::string> seqs;
    for (int k = 0; k < 100; ++k) {
      const int len = k % 10 == 0 ? 1 + static_cast<int>(rng() % 2000) : static_cast<int>(rng() % 300);
      std::string seq;
      for (int i = 0; i < len; ++i) seq += "ACDEFGHIKLMNPQRSTVWYXacd*"[rng() % 25];
      seqs.push_back(seq);
    }
    const std::vector<std::string_view> views(seqs.begin(), seqs.end());
    for (const std::string& kernel : bound_kernels()) {
      const ScoreBound bound(c.profile(), c.settings(), 64, kernel);
      std::vector<double> many(seqs.size());
      bound.bound_many(views, many, ws);
      for (std::size_t k = 0; k < seqs.size(); ++k)
        ASSERT_EQ(many[k], bound.bound(seqs[k], ws)) << kernel << ", case " << n << ", sequence " << k;
    }
  }
}

TEST(ScoreBound, OutOfRangeInputsGiveNoBoundRatherThanAWrongOne) {
  Workspace ws;
  const Profile profile(std::vector<ProfileRow>(4, ProfileRow{}));
  Settings settings;
  settings.gap_open_penalty_seq = settings.gap_open_penalty_prf = 3;
  settings.deletion_penalty_seq = settings.deletion_penalty_prf = 1;
  struct Case {
    const char* what;
    Settings settings;
    Profile profile;
  };
  Settings negative_deletion = settings;
  negative_deletion.deletion_penalty_prf = -0.5;
  Settings huge_bonus = settings;
  huge_bonus.gap_open_penalty_seq = -1e4;
  Settings not_finite = settings;
  not_finite.deletion_penalty_seq = std::numeric_limits<double>::infinity();
  ProfileRow high{};
  high[0] = 200;  // 200 * 256 > 32767
  const Case cases[] = {{"negative deletion", negative_deletion, profile},
                        {"large opening bonus", huge_bonus, profile},
                        {"infinite penalty", not_finite, profile},
                        {"score beyond the integers", settings, Profile({high})}};
  for (const Case& c : cases) {
    const ScoreBound bound(c.profile, c.settings, 256);
    EXPECT_FALSE(bound.usable()) << c.what;
    EXPECT_EQ(bound.bound("ACDA", ws), std::numeric_limits<double>::infinity()) << c.what;
  }
  // Values that reach the top of the integers: no bound either.
  ProfileRow strong{};
  strong[0] = 100;
  EXPECT_EQ(ScoreBound(Profile(std::vector<ProfileRow>(3, strong)), settings, 256).bound("AAA", ws),
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(ScoreBound(profile, settings, 256).bound("", ws), std::numeric_limits<double>::infinity());
  EXPECT_THROW(ScoreBound(profile, settings, 3), std::invalid_argument);
  EXPECT_THROW(ScoreBound(profile, settings, 2048), std::invalid_argument);
  EXPECT_THROW(ScoreBound(profile, settings, 1, "no-such-kernel"), std::invalid_argument);
}

// The coarse bound on the same kinds of cases, made local: never below the
// exact score; within its rounding (a unit of its scale per move) of the
// relaxed model; the same numbers from every kernel, sequences of any
// lengths at once.
TEST(CoarseBound, NeverBelowTheExactScoreAndWithinItsRoundingOfTheRelaxedModel) {
  Workspace exact_ws, bound_ws;
  std::mt19937 rng(77);
  const double reaches[] = {5, 20, 40, 100};
  int usable = 0, finite = 0, compared = 0;
  for (int n = 0; n < 2000; ++n) {
    fixtures::RandomCase c = fixtures::random_case(rng, limits_for(n));
    const Profile profile = c.profile();
    Settings settings = c.settings();
    settings.start = StartMode::local;
    settings.end = EndMode::local;
    const double reach = reaches[n % 4];
    SCOPED_TRACE("case " + std::to_string(n) + ": " + std::to_string(c.rows.size()) + " positions, " +
                 std::to_string(c.seq.size()) + " residues, reach " + std::to_string(reach));
    const double exact = align(profile, settings, c.seq, exact_ws, Detail::score).score;
    std::string other;
    for (int i = 0; i < 1 + n % 300; ++i) other += "ACDEFGHIKLMNPQRSTVWYX"[rng() % 21];
    const std::string_view part = std::string_view(c.seq).substr(0, c.seq.size() / 2);
    const std::string_view many[] = {c.seq, "", part, other, c.seq};
    std::vector<double> reference(std::size(many));
    const CoarseBound scalar(profile, settings, reach, "scalar");
    scalar.bound_many(many, reference, bound_ws);
    ASSERT_GE(reference[0], exact);
    ASSERT_EQ(reference[1], std::numeric_limits<double>::infinity());
    ASSERT_GE(reference[3], align(profile, settings, other, exact_ws, Detail::score).score);
    ASSERT_EQ(reference[4], reference[0]);
    for (const std::string& kernel : coarse_bound_kernels()) {
      std::vector<double> bounds(std::size(many));
      CoarseBound(profile, settings, reach, kernel).bound_many(many, bounds, bound_ws);
      for (std::size_t k = 0; k < bounds.size(); ++k)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(bounds[k]), std::bit_cast<std::uint64_t>(reference[k]))
            << kernel << ", sequence " << k;
    }
    usable += scalar.usable();
    finite += std::isfinite(reference[0]);
    const fixtures::RandomLimits limits = limits_for(n);
    if (std::isfinite(reference[0]) && !limits.huge_values) {
      // Nothing capped at the signed bytes' ends (a penalty at 127 units, a
      // score at -128): each move then rounds by less than a unit.
      bool capped = std::max({settings.gap_open_penalty_seq, settings.gap_open_penalty_prf,
                              settings.deletion_penalty_seq, settings.deletion_penalty_prf}) *
                        scalar.scale() >= 127;
      for (const ProfileRow& row : c.rows)
        for (const double v : row) capped = capped || -v * scalar.scale() >= 128;
      double lowest = 0;
      const double relaxed = relaxed_score(profile, settings, c.seq, lowest);
      if (!capped) {
        ++compared;
        ASSERT_LE(reference[0], relaxed + static_cast<double>(c.seq.size() + c.rows.size() + 1) / scalar.scale() + 1e-3);
      }
    }
  }
  // The property is not vacuous: most cases give a finite bound (the rest
  // score past the reach).
  EXPECT_GT(usable, 1000);
  EXPECT_GT(finite, usable * 2 / 3);
  EXPECT_GT(compared, 500);
}

// What a profile keeps of its scores for the bounds and the checks, against
// one plain pass: rows with infinities and NaN among ordinary scores too.
TEST(ProfileSummary, LargestScoreAndMagnitudeOfAnyRows) {
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<double> unit(-1, 1);
  const double odd[] = {HUGE_VAL, -HUGE_VAL, std::nan(""), 0.0, -0.0, 1e300, -1e300};
  for (int n = 0; n < 2000; ++n) {
    std::vector<ProfileRow> rows(rng() % 40);
    for (ProfileRow& row : rows)
      for (double& x : row) x = rng() % 50 == 0 ? odd[rng() % std::size(odd)] : unit(rng) * (n % 2 ? 10 : 1e-3);
    double largest = 0, magnitude = 0;
    bool nan = false;
    for (const ProfileRow& row : rows)
      for (const double x : row) {
        if (x < HUGE_VAL) largest = std::max(largest, x);
        nan |= std::isnan(x);
        if (!std::isnan(x)) magnitude = std::max(magnitude, std::fabs(x));
      }
    const Profile profile(rows);
    EXPECT_EQ(profile.largest_score(), largest) << "case " << n;
    if (nan)
      EXPECT_TRUE(std::isnan(profile.largest_magnitude())) << "case " << n;
    else
      EXPECT_EQ(profile.largest_magnitude(), magnitude) << "case " << n;
  }
}

// Each kernel's scores as bytes against the exact ceiling of the product
// (fma gives the double product's rounding error exactly): equal wherever
// the kernel answers for them all, and it leaves them to its caller
// exactly when some nonzero score's double product is whole inside the
// range. Scores of every kind: arbitrary, whole and half multiples of
// 1 / scale, tiny, clipped at either end, 0 and -0.
TEST(CoarseBound, ScoreBytesAreTheExactCeilingInEveryKernel) {
  auto exact_byte = [](double x, double scale) {
    const double product = x * scale;
    double up = std::ceil(product);
    if (up == product && std::fma(x, scale, -product) > 0) up += 1;
    return static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(up, -128.0, 127.0)));
  };
  std::vector<coarse::Kernel> kernels = {coarse::scalar_kernel()};
  const CpuFeatures& cpu = cpu_features();
  if (cpu.avx2 && coarse::avx2_kernel()) kernels.push_back(*coarse::avx2_kernel());
  if (cpu.avx512bw && cpu.avx512vbmi && cpu.avx512vl && coarse::avx512_kernel()) kernels.push_back(*coarse::avx512_kernel());
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> unit(-1, 1);
  int doubtful_runs = 0, sure_runs = 0;
  for (int n = 0; n < 3000; ++n) {
    const double scale = n % 3 == 0 ? std::ldexp(1.0, static_cast<int>(rng() % 9)) : 2 + 250 * (unit(rng) + 1) / 2;
    std::vector<double> scores(1 + rng() % 70);
    for (double& x : scores) {
      switch (rng() % 8) {
        case 0: x = std::round(unit(rng) * 140) / scale; break;            // whole products, near enough
        case 1: x = (std::round(unit(rng) * 280) + 0.5) / 2 / scale; break;
        case 2: x = unit(rng) * 1e-300; break;
        case 3: x = unit(rng) * 1e6; break;
        case 4: x = rng() % 2 ? 0.0 : -0.0; break;
        default: x = unit(rng) * 150 / scale; break;
      }
      if (n % 2 == 0 && rng() % 4 != 0) x = unit(rng) * 150 / scale;  // mostly without whole products
    }
    bool whole_inside = false;
    for (const double x : scores) {
      const double product = x * scale;
      whole_inside |= x != 0 && std::ceil(product) == product && product > -129 && product < 127;
    }
    (whole_inside ? doubtful_runs : sure_runs) += 1;
    for (const coarse::Kernel& kernel : kernels) {
      std::vector<std::uint8_t> bytes(scores.size());
      const bool sure = kernel.score_bytes(scores.data(), scores.size(), scale, bytes.data());
      ASSERT_EQ(sure, !whole_inside) << kernel.name << ", case " << n;
      if (!sure) continue;
      for (std::size_t k = 0; k < scores.size(); ++k)
        ASSERT_EQ(bytes[k], exact_byte(scores[k], scale)) << kernel.name << ", case " << n << ", score " << scores[k];
    }
  }
  EXPECT_GT(doubtful_runs, 300);
  EXPECT_GT(sure_runs, 300);
}

// Lanes that finish take the next sequence and must not see what the last
// one left: three hundred sequences of very different lengths at once,
// against each alone.
TEST(CoarseBound, ManyAtOnceEqualOneByOne) {
  std::mt19937 rng(9);
  Workspace ws;
  for (int n = 0; n < 6; ++n) {
    fixtures::RandomLimits limits;
    limits.max_prf = n % 3 == 0 ? 3 : 150;
    limits.max_len = 1;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    // Scores mostly below 0, as a profile's are against chance: most
    // sequences stay inside the bytes' range.
    for (ProfileRow& row : c.rows)
      for (double& v : row) v -= 3;
    Settings settings = c.settings();
    settings.start = StartMode::local;
    settings.end = EndMode::local;
    std::vector<std::string> seqs;
    for (int k = 0; k < 300; ++k) {
      const int len = k % 10 == 0 ? 1 + static_cast<int>(rng() % 1500) : static_cast<int>(rng() % 200);
      std::string seq;
      for (int i = 0; i < len; ++i) seq += "ACDEFGHIKLMNPQRSTVWYXacd*"[rng() % 25];
      seqs.push_back(seq);
    }
    const std::vector<std::string_view> views(seqs.begin(), seqs.end());
    for (const std::string& kernel : coarse_bound_kernels()) {
      const CoarseBound bound(c.profile(), settings, 30, kernel);
      ASSERT_TRUE(bound.usable());
      std::vector<double> many(seqs.size());
      bound.bound_many(views, many, ws);
      int finite = 0;
      for (std::size_t k = 0; k < seqs.size(); ++k) {
        double alone = 0;
        bound.bound_many(std::span(&views[k], 1), std::span(&alone, 1), ws);
        ASSERT_EQ(many[k], alone) << kernel << ", case " << n << ", sequence " << k;
        finite += std::isfinite(alone);
      }
      EXPECT_GT(finite, 100) << kernel << ", case " << n;
    }
  }
}

// Profiles side by side in the lanes give each profile's own bound: sets
// of 1 to 150 profiles of 1 to 300 positions, unusable ones among them
// (scores that are not finite, or past the bytes' reach), against
// sequences of every length, empty ones and odd letters included; groups
// of mixed lengths and idle lanes in every kernel.
TEST(CoarseBoundSet, EachProfileItsOwnBound) {
  std::mt19937 rng(31);
  Workspace ws;
  const int sizes[] = {1, 5, 33, 64, 150};
  for (const int size : sizes) {
    Settings settings;
    settings.start = StartMode::local;
    settings.end = EndMode::local;
    settings.gap_open_penalty_seq = static_cast<double>(rng() % 12);
    settings.gap_open_penalty_prf = static_cast<double>(rng() % 12);
    settings.deletion_penalty_seq = static_cast<double>(rng() % 5) / 2;
    settings.deletion_penalty_prf = static_cast<double>(rng() % 5) / 2;
    std::vector<Profile> profiles;
    std::vector<CoarseBound> alone;
    for (int k = 0; k < size; ++k) {
      fixtures::RandomLimits limits;
      limits.max_prf = k % 7 == 0 ? 3 : 300;
      limits.fractional = k % 2 == 0;
      fixtures::RandomCase c = fixtures::random_case(rng, limits);
      for (ProfileRow& row : c.rows)
        for (double& v : row) v -= 2;
      if (k % 11 == 5) c.rows[0][3] = std::numeric_limits<double>::infinity();
      profiles.push_back(c.profile());
      alone.emplace_back(profiles.back(), settings, k % 9 == 4 ? 500.0 : 10.0 + k % 40, "scalar");
    }
    std::vector<std::string> seqs = {"", "W", std::string(400, 'A')};
    for (int k = 0; k < 12; ++k) {
      std::string seq;
      for (int i = 0, len = 1 + static_cast<int>(rng() % 700); i < len; ++i) seq += "ACDEFGHIKLMNPQRSTVWYXacd*"[rng() % 25];
      seqs.push_back(seq);
    }
    std::vector<double> reaches;
    for (int k = 0; k < size; ++k) reaches.push_back(k % 9 == 4 ? 500.0 : 10.0 + k % 40);
    int finite = 0;
    for (const std::string& kernel : coarse_bound_kernels()) {
      const CoarseBoundSet set(profiles, settings, reaches, kernel);
      ASSERT_EQ(set.size(), profiles.size());
      for (std::size_t s = 0; s < seqs.size(); ++s) {
        std::vector<double> together(profiles.size());
        set.bound(seqs[s], together, ws);
        for (std::size_t k = 0; k < profiles.size(); ++k) {
          const std::string_view view = seqs[s];
          double own = 0;
          alone[k].bound_many(std::span(&view, 1), std::span(&own, 1), ws);
          ASSERT_EQ(std::bit_cast<std::uint64_t>(together[k]), std::bit_cast<std::uint64_t>(own))
              << kernel << ", " << size << " profiles, profile " << k << ", sequence " << s;
          finite += std::isfinite(own);
        }
      }
    }
    EXPECT_GT(finite, size) << size << " profiles";
  }
  EXPECT_THROW(CoarseBoundSet({}, Settings(), {}, "no-such-kernel"), std::invalid_argument);
  const std::vector<double> one_reach = {10};
  EXPECT_THROW(CoarseBoundSet({}, Settings(), one_reach), std::invalid_argument);
}

TEST(CoarseBound, GivesNoBoundWhereItsRulesDoNotHold) {
  Workspace ws;
  ProfileRow row{};
  row[0] = 4;
  row[1] = -3;
  const Profile profile(std::vector<ProfileRow>(5, row));
  Settings local;
  local.start = StartMode::local;
  local.end = EndMode::local;
  local.gap_open_penalty_seq = local.gap_open_penalty_prf = 3;
  local.deletion_penalty_seq = local.deletion_penalty_prf = 1;
  Settings glocal = local, opening_bonus = local, negative_deletion = local, infinite = local;
  glocal.start = StartMode::global;
  glocal.end = EndMode::prf_free;
  opening_bonus.gap_open_penalty_prf = -1;
  negative_deletion.deletion_penalty_seq = -0.5;
  infinite.gap_open_penalty_seq = std::numeric_limits<double>::infinity();
  ProfileRow not_finite = row;
  not_finite[2] = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    Settings settings;
    Profile profile;
    double reach;
  };
  const Case cases[] = {{"not local", glocal, profile, 20},
                        {"opening bonus", opening_bonus, profile, 20},
                        {"negative deletion", negative_deletion, profile, 20},
                        {"infinite penalty", infinite, profile, 20},
                        {"score not finite", local, Profile({not_finite}), 20},
                        {"reach too far for the bytes", local, profile, 200}};
  const std::string_view seqs[] = {"ACA"};
  for (const Case& c : cases) {
    const CoarseBound bound(c.profile, c.settings, c.reach);
    EXPECT_FALSE(bound.usable()) << c.what;
    double value = 0;
    bound.bound_many(seqs, std::span<double>(&value, 1), ws);
    EXPECT_EQ(value, std::numeric_limits<double>::infinity()) << c.what;
  }
  // Values that reach the top of the bytes: no bound either; below it, one.
  ASSERT_TRUE(CoarseBound(profile, local, 20).usable());
  const std::string run(100, 'A');
  const std::string_view seqs_of_runs[] = {run, "C", "AAAAA"};
  double values[3];
  CoarseBound(Profile(std::vector<ProfileRow>(100, row)), local, 20).bound_many(seqs_of_runs, values, ws);
  EXPECT_EQ(values[0], std::numeric_limits<double>::infinity());  // 400, far past 20
  EXPECT_GE(values[1], 0.0);
  EXPECT_LT(values[1], 1.0);
  EXPECT_GE(values[2], 20.0);
  EXPECT_LT(values[2], 21.0);
  EXPECT_THROW(CoarseBound(profile, local, 20, "no-such-kernel"), std::invalid_argument);
}

}  // namespace
