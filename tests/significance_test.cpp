// E-values: the fits recover known laws; on random databases the number of
// domains with E <= x is close to x; planted homologs are significant; the
// law orders scores and lengths as it must.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <thread>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "search/calibration.h"
#include "search/domains.h"
#include "search/search.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;
using fixtures::numbered;

// A draw from the Gumbel law of slope lambda and location mu.
double gumbel(synthetic::Random& rng, double lambda, double mu) {
  return mu - std::log(-std::log(1.0 - rng.uniform())) / lambda;
}

TEST(ScoreLawFits, LocalFitRecoversTheLawItWasDrawnFrom) {
  synthetic::Random rng(1);
  for (const double lambda : {0.2, 0.33, 0.7}) {
    const double mu0 = 4.0;
    std::vector<ScoreLaw::Sample> samples;
    for (int k = 0; k < 3000; ++k) {
      const int length = 50 + rng.below(3000);
      samples.push_back({gumbel(rng, lambda, mu0 + std::log(static_cast<double>(length)) / lambda), length});
    }
    const ScoreLaw law = ScoreLaw::fit_local(samples);
    ASSERT_EQ(law.kind(), ScoreLaw::Kind::local);
    EXPECT_NEAR(law.lambda(100), lambda, 0.05 * lambda);
    EXPECT_NEAR(law.location(1), mu0, 0.3 / lambda);
    EXPECT_NEAR(law.bits(mu0 + 10 / lambda, 300), 10 / std::log(2.0), 0.05 * 10 / std::log(2.0));
  }
}

// Per length a Gumbel law whose slope and location change with ln L; the
// fit sees only the upper tenth of each class.
TEST(ScoreLawFits, LengthFitRecoversSlopesAndLocations) {
  synthetic::Random rng(2);
  const std::vector<int> lengths = {30, 60, 120, 250, 500, 1000};
  auto true_lambda = [](int length) { return 0.12 + 0.01 * std::log(static_cast<double>(length)); };
  auto true_mu = [](int length) { return -60 + 6 * std::log(static_cast<double>(length)); };
  std::vector<std::vector<double>> classes(lengths.size());
  for (std::size_t c = 0; c < lengths.size(); ++c)
    for (int k = 0; k < 4000; ++k) classes[c].push_back(gumbel(rng, true_lambda(lengths[c]), true_mu(lengths[c])));
  const ScoreLaw law = ScoreLaw::fit_by_length(lengths, classes, 100);
  ASSERT_EQ(law.kind(), ScoreLaw::Kind::by_length);
  for (const int length : {30, 100, 700, 1000}) {
    EXPECT_NEAR(law.lambda(length), true_lambda(length), 0.1 * true_lambda(length)) << length;
    EXPECT_NEAR(law.location(length), true_mu(length), 1.0) << length;
    // A P-value of 1e-3 under the true law comes out within a factor of 2.
    const double x = true_mu(length) - std::log(-std::log(1 - 1e-3)) / true_lambda(length);
    EXPECT_NEAR(std::log(law.pvalue(x, length)), std::log(1e-3), std::log(2.0)) << length;
  }
}

TEST(ScoreLawFits, DegenerateSamplesGiveNoLaw) {
  std::vector<ScoreLaw::Sample> flat(500, {0.0, 100});
  EXPECT_FALSE(ScoreLaw::fit_local(flat).defined());
  std::vector<std::vector<double>> no_alignment(3, std::vector<double>(200, kScoreFloor));
  EXPECT_FALSE(ScoreLaw::fit_by_length({30, 60, 120}, no_alignment, 100).defined());
}

Settings mode(bool local) { return mode_settings(local ? SearchMode::local : SearchMode::glocal); }

// The configuration of a search in that mode on two threads.
SearchConfig config(bool local) {
  SearchConfig c;
  c.alignment = mode(local);
  c.threads = 2;
  return c;
}

// Four families, 50 to 300 positions, against 3,000 random sequences of
// 50 to 3,000 residues: the domains with E <= 10 and E <= 100, summed over
// the profiles, are within a factor of two of 40 and 400.
class Calibration : public testing::TestWithParam<bool> {};

TEST_P(Calibration, RandomDatabaseHitsAsManyAsTheEValuesPromise) {
  const bool local = GetParam();
  synthetic::Random rng(local ? 31 : 32);
  std::vector<Profile> profiles;
  for (const int length : {50, 100, 200, 300})
    profiles.push_back(synthetic::family(rng, numbered("f", length), length).profile);
  std::vector<synthetic::Record> db;
  for (int k = 0; k < 3000; ++k) {
    const int length = static_cast<int>(std::exp(std::log(50.0) + rng.uniform() * std::log(3000.0 / 50.0)));
    db.push_back({numbered("r", k), "", synthetic::protein(rng, length)});
  }
  fixtures::TempDir dir;
  const std::string path = dir.write("db.fa", synthetic::fasta(db));
  SearchConfig c = config(local);
  c.max_evalue = 100;
  const SearchResult result = search(profiles, c, SequenceSource::file(path));
  EXPECT_EQ(result.stats.database_size, 3000);
  int at_most_10 = 0, at_most_100 = 0;
  for (const Hit& h : result.hits) {
    at_most_10 += h.evalue <= 10;
    at_most_100 += h.evalue <= 100;
  }
  EXPECT_GE(at_most_10, 20);
  EXPECT_LE(at_most_10, 80);
  EXPECT_GE(at_most_100, 200);
  EXPECT_LE(at_most_100, 800);
}

INSTANTIATE_TEST_SUITE_P(Significance, Calibration, testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Local" : "Glocal"); });

// Long proteins, beyond the longest length the laws are calibrated on and
// longer than the window the composition correction counts: 400 random
// sequences of 2,000 to 5,000 residues, and 400 shuffles of proteins rich
// in E, K, L and Q as long, against families of 60 and 150 positions.
// The domains with E <= 10 and E <= 100, summed over the two profiles, are
// at most twice the 20 and 200 promised, and for the random ones at least
// a third (glocal laws err on the safe side, by about half).
TEST_P(Calibration, LongProteinsHitAsOftenAsTheEValuesPromise) {
  const bool local = GetParam();
  synthetic::Random rng(local ? 61 : 62);
  std::vector<Profile> profiles;
  for (const int length : {60, 150}) profiles.push_back(synthetic::family(rng, numbered("f", length), length).profile);
  synthetic::Composition biased = background;
  for (const char a : std::string("EKLQ")) biased[static_cast<std::size_t>(getIndex(a))] *= 3.0;
  for (const bool composed : {false, true}) {
    SCOPED_TRACE(composed ? "biased" : "random");
    std::vector<SequenceRecord> db;
    for (int k = 0; k < 400; ++k) {
      const int length = 2000 + rng.below(3001);
      std::string s = synthetic::protein(rng, length, composed ? biased : background);
      db.push_back({numbered("r", k), composed ? synthetic::shuffled(rng, s) : s, ""});
    }
    SearchConfig c = config(local);
    c.max_evalue = 100;
    int at_most_10 = 0, at_most_100 = 0;
    for (const Hit& h : search(profiles, c, SequenceSource::records(db)).hits) {
      at_most_10 += h.evalue <= 10;
      at_most_100 += h.evalue <= 100;
    }
    EXPECT_GE(at_most_10, composed ? 0 : 7);
    EXPECT_LE(at_most_10, 40);
    EXPECT_GE(at_most_100, composed ? 0 : 70);
    EXPECT_LE(at_most_100, 400);
  }
}

// A member of a family planted in a random protein is highly significant;
// the law gives lower P-values to higher scores and higher ones to longer
// sequences.
TEST(Significance, PlantedHomologIsSignificantAndEValuesFallAsScoresRise) {
  for (const bool local : {false, true}) {
    synthetic::Random rng(local ? 41 : 42);
    const synthetic::Family family = synthetic::family(rng, "fam", 120, 0.6);
    const std::vector<Profile> profiles = {family.profile};
    std::vector<synthetic::Record> db;
    for (int k = 0; k < 200; ++k) db.push_back({numbered("r", k), "", synthetic::protein(rng, 400)});
    std::string host = synthetic::protein(rng, 200);
    host.insert(100, synthetic::member(rng, family));
    db.push_back({"host", "planted", host});
    fixtures::TempDir dir;
    const std::string path = dir.write("db.fa", synthetic::fasta(db));
    const SearchResult result = search(profiles, config(local), SequenceSource::file(path));
    ASSERT_FALSE(result.hits.empty());
    EXPECT_EQ(result.hits.front().name(), "host");
    EXPECT_LT(result.hits.front().evalue, 1e-5) << (local ? "local" : "glocal");
    for (std::size_t k = 1; k < result.hits.size(); ++k) {
      if (result.hits[k].seq_len == result.hits[k - 1].seq_len) {
        EXPECT_GE(result.hits[k].evalue, result.hits[k - 1].evalue);
      }
    }

    const std::vector<ScoreLaw> laws = calibrate({&profiles[0]}, mode(local), 42, 2);
    ASSERT_TRUE(laws[0].defined());
    for (const int length : {20, 50, 300, 1000, 5000, 40000}) {
      double previous = 1.0;
      for (double score = -200; score < 400; score += 7) {
        const double p = laws[0].pvalue(score, length);
        EXPECT_LE(p, previous);
        EXPECT_GE(p, 0.0);
        EXPECT_LE(p, laws[0].pvalue(score, length * 2));
        previous = p;
      }
    }
  }
}

// The glocal law's tail against 20,000 random sequences it was not fitted
// on: at the sequence length of the profile and at four times it, the
// P-values it gives the 20th, 50th and 200th best scores are on average
// (geometric mean) within a factor of 1.5 of how often random sequences
// reach them.
TEST(Significance, GlocalTailMatchesSequencesItWasNotFittedOn) {
  synthetic::Random rng(5);
  const Settings glocal = mode(false);
  for (const int positions : {60, 150}) {
    const Profile profile = synthetic::family(rng, "f", positions).profile;
    const ScoreLaw law = calibrate({&profile}, glocal, 7, 2)[0];
    ASSERT_TRUE(law.defined());
    for (const int length : {positions, 4 * positions}) {
      constexpr int kSamples = 20000;
      std::vector<double> scores(kSamples);
      auto score_half = [&](int half) {
        Workspace ws;
        for (int k = half; k < kSamples; k += 2)
          scores[static_cast<std::size_t>(k)] =
              score_sequence(profile, glocal, random_sequence(99, 77, k, length), ws);
      };
      std::thread other(score_half, 1);
      score_half(0);
      other.join();
      std::sort(scores.rbegin(), scores.rend());
      double log_ratio = 0;
      for (const int rank : {20, 50, 200}) {
        const double empirical = static_cast<double>(rank) / kSamples;
        log_ratio += std::log(law.pvalue(scores[static_cast<std::size_t>(rank - 1)], length) / empirical) / 3;
      }
      EXPECT_LT(std::fabs(log_ratio), std::log(1.5)) << positions << " positions, length " << length;
    }
  }
}

// Glocal E-values from half to five times the profile's length: for
// profiles of 60 and 150 positions, 10,000 random sequences at each length
// with E-values for a search of 1,000 sequences, so that 10 are expected
// at E <= 1 and 100 at E <= 10 (chance P-values of 1e-3 and 1e-2). Each
// count must lie within a factor of 2 of that. Counts of chance hits are
// Poisson: a correct law leaves 100 outside [50, 200] with probability
// below 1e-6, but 10 outside [5, 20] with 3.4%, so E <= 1 is counted over
// the four lengths of a profile together (40 outside [20, 80]: 0.08%).
TEST(Significance, GlocalEValuesHoldFromHalfToFiveProfileLengths) {
  synthetic::Random rng(9);
  const Settings glocal = mode(false);
  constexpr int kSequences = 10000;
  constexpr double kSearched = 1000;
  for (const int positions : {60, 150}) {
    const Profile profile = synthetic::family(rng, "f", positions).profile;
    const ScoreLaw law = calibrate({&profile}, glocal, 42, 2)[0];
    int at_most_1 = 0;
    for (const double times : {0.5, 1.0, 2.0, 5.0}) {
      const int length = static_cast<int>(times * positions);
      std::vector<double> evalues(kSequences);
      auto score_half = [&](int half) {
        Workspace ws;
        for (int k = half; k < kSequences; k += 2) {
          const double score = score_sequence(profile, glocal, random_sequence(2026, length, k, length), ws);
          evalues[static_cast<std::size_t>(k)] = kSearched * law.expected_count(score, length);
        }
      };
      std::thread other(score_half, 1);
      score_half(0);
      other.join();
      const auto count = [&](double at_most) {
        return std::count_if(evalues.begin(), evalues.end(), [&](double e) { return e <= at_most; });
      };
      at_most_1 += static_cast<int>(count(1));
      EXPECT_GE(count(10), 50) << positions << " positions, length " << length;
      EXPECT_LE(count(10), 200) << positions << " positions, length " << length;
    }
    EXPECT_GE(at_most_1, 20) << positions << " positions";
    EXPECT_LE(at_most_1, 80) << positions << " positions";
  }
}

TEST(Significance, CalibrationIsTheSameOnAnyNumberOfThreads) {
  synthetic::Random rng(5);
  const Profile profile = synthetic::family(rng, "f", 60).profile;
  for (const bool local : {false, true}) {
    const ScoreLaw one = calibrate({&profile}, mode(local), 7, 1)[0];
    const ScoreLaw three = calibrate({&profile}, mode(local), 7, 3)[0];
    // A score in the tail at 400 residues.
    const double score = one.location(400) + 5 / one.lambda(400);
    for (const int length : {40, 400, 4000})
      EXPECT_EQ(one.pvalue(score, length), three.pvalue(score, length));
    EXPECT_NE(calibrate({&profile}, mode(local), 8, 1)[0].pvalue(score, 400), one.pvalue(score, 400));
  }
  ParamValues global;
  EXPECT_FALSE(calibrate({&profile}, set_parameters(global), 7, 1)[0].defined());
}

}  // namespace

namespace {

// Shuffled proteins of biased composition: a quarter rich in the residues
// of coiled coils (E K L A Q R), a quarter with a low-complexity stretch,
// the rest plain; a profile of a family of that same coiled-coil
// composition and a plain one; and planted members of both families.
struct BiasedDatabase {
  std::vector<Profile> profiles;
  std::vector<synthetic::Record> records;
  std::string fasta;
};

BiasedDatabase biased_database() {
  synthetic::Random rng(77);
  synthetic::Composition coiled = background;
  for (const char a : std::string("EKLAQR")) coiled[static_cast<std::size_t>(getIndex(a))] *= 3.0;
  double total = 0;
  for (const double f : coiled) total += f;
  for (double& f : coiled) f /= total;  // frequencies, so that the scores are log-odds
  const synthetic::Family biased = synthetic::family(rng, "coiled", 150, 0.4, coiled);
  const synthetic::Family plain = synthetic::family(rng, "plain", 100, 0.5);
  std::vector<synthetic::Record> db;
  for (int k = 0; k < 2000; ++k) {
    const int length = synthetic::protein_length(rng) / 2;
    std::string s = synthetic::protein(rng, length, k % 4 == 0 ? coiled : background);
    if (k % 4 == 1) {  // a stretch of two or three kinds of residue
      const std::string kinds[] = {"QPS", "GS", "EK", "PA"};
      const std::string& letters = kinds[rng.below(4)];
      std::string stretch;
      for (int n = 50 + rng.below(100); n > 0; --n) stretch += letters[static_cast<std::size_t>(rng.below(static_cast<int>(letters.size())))];
      s.insert(static_cast<std::size_t>(rng.below(length)), stretch);
    }
    db.push_back({numbered("decoy", k), "", synthetic::shuffled(rng, s)});
  }
  for (int k = 0; k < 10; ++k) {
    std::string host = synthetic::protein(rng, 300);
    host.insert(150, synthetic::member(rng, k % 2 ? biased : plain));
    db.push_back({numbered(k % 2 ? "coiled_member" : "plain_member", k), "", host});
  }
  std::string fasta = synthetic::fasta(db);
  return {{biased.profile, plain.profile}, std::move(db), std::move(fasta)};
}

class BiasCorrection : public testing::TestWithParam<bool> {};

// Against a family that favours coiled-coil residues at every position,
// shuffled proteins of that composition reach E <= 10 by the hundred
// without the correction; with it, at least five times fewer do (the
// correction reads each domain's own alignment; the plain profile stays
// near the 10 the E-values promise), and every planted member that is
// significant without the correction (E <= 1e-5) stays so.
TEST_P(BiasCorrection, ShuffledBiasedProteinsLoseTheirSignificance) {
  const bool local = GetParam();
  const BiasedDatabase data = biased_database();
  fixtures::TempDir dir;
  const std::string path = dir.write("db.fa", data.fasta);
  // Decoys at E <= 10 per profile, and each member's best E-value.
  auto search_with = [&](bool correct, std::array<int, 2>& decoys, std::map<std::string, double>& members) {
    SearchConfig c = config(local);
    c.bias_correction = correct;
    for (const Hit& h : search(data.profiles, c, SequenceSource::file(path)).hits) {
      if (h.name().rfind("decoy", 0) == 0) ++decoys[static_cast<std::size_t>(h.profile)];
      else if (!members.count(h.name()) || h.evalue < members[h.name()]) members[h.name()] = h.evalue;
    }
  };
  std::array<int, 2> uncorrected_decoys{}, corrected_decoys{};
  std::map<std::string, double> uncorrected, corrected;
  search_with(false, uncorrected_decoys, uncorrected);
  search_with(true, corrected_decoys, corrected);
  EXPECT_GT(uncorrected_decoys[0], 300);
  EXPECT_LE(5 * corrected_decoys[0], uncorrected_decoys[0]);
  EXPECT_GE(corrected_decoys[1], 3);
  EXPECT_LE(corrected_decoys[1], 30);
  int significant = 0;
  for (const auto& [name, evalue] : uncorrected) {
    if (evalue > 1e-5) continue;
    ++significant;
    EXPECT_LE(corrected[name], 1e-5) << name;
  }
  EXPECT_GE(significant, 10);
}

INSTANTIATE_TEST_SUITE_P(Significance, BiasCorrection, testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Local" : "Glocal"); });

}  // namespace
