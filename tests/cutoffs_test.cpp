// What a profile's source says of it (accession, description, curated
// cutoffs) survives every file tormid writes, and the cutoffs report
// exactly what the plain search reports that passes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "converter/converter.h"
#include "input/input.h"
#include "search/search.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;

const std::string kConverterData = std::string(TORMID_TEST_DATA) + "/converter";

// Notes of every shape: each part present or not, odd bytes in the
// description, numbers that need all their digits.
ProfileNotes random_notes(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> number(-500, 500);
  auto coin = [&] { return (rng() & 1) != 0; };
  ProfileNotes notes;
  if (coin()) notes.accession.append("PF").append(std::to_string(rng() % 100000)).append(".").append(std::to_string(rng() % 30));
  if (coin()) {
    const std::string letters = "Protein kinase (a.k.a. PK);\t\x01\xc3\xa9 domain, 2 DESC words";
    for (int k = 0, n = 1 + static_cast<int>(rng() % 40); k < n; ++k)
      notes.description += letters[rng() % letters.size()];
    // One line without blanks around it, as a header line keeps it.
    notes.description.front() = 'D';
    notes.description.back() = '.';
  }
  for (std::optional<BitCutoff>* cutoff : {&notes.gathering, &notes.trusted, &notes.noise})
    if (coin()) *cutoff = BitCutoff{number(rng), number(rng)};
  if (coin()) notes.forward = ForwardLaw{number(rng) / 50, 0.5 + std::generate_canonical<double, 53>(rng)};
  return notes;
}

std::vector<Profile> noted_profiles(std::mt19937_64& rng, int count) {
  std::vector<Profile> profiles;
  for (int p = 0; p < count; ++p) {
    std::vector<ProfileRow> rows(1 + rng() % 30);
    for (ProfileRow& row : rows)
      for (double& s : row) s = static_cast<double>(static_cast<int>(rng() % 21) - 10);
    profiles.emplace_back(std::move(rows), "p" + std::to_string(p), random_notes(rng));
  }
  return profiles;
}

TEST(ProfileNotes, SurviveTextFilesAndPreparedLibraries) {
  std::mt19937_64 rng(42);
  const std::vector<Profile> profiles = noted_profiles(rng, 60);
  fixtures::TempDir dir;
  std::string text;
  // Blank lines between profiles, as files put together by hand have them.
  for (const Profile& p : profiles) text += converter::profile_text({p, std::string(p.length(), 'X')}) + "\n";
  const std::vector<Profile> from_text = read_profiles(dir.write("all.prf", text));
  std::vector<StoredLaw> laws(profiles.size());
  const ProfileLibrary pressed = read_library(dir.write("all.tlib", prepared_library(profiles, laws)));
  const ProfileLibrary old = read_library(dir.write("old.tlib", prepared_library(profiles, laws, 1)));
  ASSERT_EQ(from_text.size(), profiles.size());
  ASSERT_EQ(pressed.profiles.size(), profiles.size());
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    EXPECT_EQ(from_text[p].notes(), profiles[p].notes()) << "text, profile " << p;
    EXPECT_EQ(pressed.profiles[p].notes(), profiles[p].notes()) << "library, profile " << p;
    // Format 1 holds no notes; the rest reads as before.
    EXPECT_EQ(old.profiles[p].notes(), ProfileNotes{}) << p;
    EXPECT_EQ(old.profiles[p].rows(), profiles[p].rows()) << p;
  }
}

// HMMER3 header lines as Pfam writes them, and as they go wrong.
TEST(ProfileNotes, ReadFromHmmerModels) {
  const std::string tiny = fixtures::read_file(kConverterData + "/tiny.hmm");
  struct Case {
    const char* lines;  // put before the STATS lines
    std::optional<BitCutoff> gathering, trusted;
    const char* error;  // the reason, or "" where read
  };
  const Case cases[] = {
      {"GA    27.00 13.70;\nTC    27.20 13.90;\n", BitCutoff{27, 13.7}, BitCutoff{27.2, 13.9}, ""},
      {"GA    -95.80 -95.80\n", BitCutoff{-95.8, -95.8}, std::nullopt, ""},
      {"GA    27.00\n", std::nullopt, std::nullopt, "GA should give two bit scores, the sequence's and the domain's"},
      {"TC    x 1\n", std::nullopt, std::nullopt, "TC should give two bit scores, the sequence's and the domain's"},
  };
  for (const Case& c : cases) {
    std::string model = tiny;
    model.insert(model.find("STATS LOCAL MSV"), c.lines);
    fixtures::TempDir dir;
    const std::string path = dir.write("m.hmm", model);
    try {
      const ProfileNotes notes = read_hmm(path, "").profile.notes();
      EXPECT_STREQ(c.error, "") << c.lines;
      EXPECT_EQ(notes.accession, "TST00004.1");
      EXPECT_EQ(notes.description, "Test model tiny");
      EXPECT_EQ(notes.gathering, c.gathering) << c.lines;
      EXPECT_EQ(notes.trusted, c.trusted) << c.lines;
      EXPECT_EQ(notes.forward, (ForwardLaw{-3.9, 0.71}));
    } catch (const InputError& e) {
      EXPECT_EQ(e.reason(), c.error) << c.lines;
    }
  }
}

// A bit score means the P-value it has under the model's forward law; a
// sequence never passes above HMMER's last filter.
TEST(Cutoffs, AreTheBitScoresPValuesUnderTheModelsLaw) {
  ProfileNotes pkinase;
  pkinase.gathering = BitCutoff{70.3, 70.3};
  pkinase.noise = BitCutoff{-95.8, 8.0};
  pkinase.forward = ForwardLaw{-5.2305, 0.70254};
  const std::optional<PvalueCutoff> ga = pvalue_cutoff(pkinase, CutoffKind::gathering);
  ASSERT_TRUE(ga);
  EXPECT_DOUBLE_EQ(ga->domain, std::exp(-0.70254 * (70.3 + 5.2305)));
  EXPECT_DOUBLE_EQ(ga->sequence, ga->domain);
  const std::optional<PvalueCutoff> nc = pvalue_cutoff(pkinase, CutoffKind::noise);
  ASSERT_TRUE(nc);
  EXPECT_EQ(nc->sequence, kHmmerForwardPvalue);  // below tau: P would be 1
  EXPECT_DOUBLE_EQ(nc->domain, std::exp(-0.70254 * (8.0 + 5.2305)));
  EXPECT_FALSE(pvalue_cutoff(pkinase, CutoffKind::trusted));
  ProfileNotes lawless = pkinase;
  lawless.forward.reset();
  EXPECT_FALSE(pvalue_cutoff(lawless, CutoffKind::gathering));

  std::vector<Profile> profiles = {Profile({ProfileRow{}}, "with", pkinase), Profile({ProfileRow{}}, "without")};
  try {
    pvalue_cutoffs(profiles, CutoffKind::gathering);
    ADD_FAILURE() << "a profile without cutoffs was taken";
  } catch (const SearchError& e) {
    EXPECT_STREQ(e.what(),
                 "1 profile carries no GA line with a STATS LOCAL FORWARD law (HMMER3 models from Pfam have both): "
                 "without");
  }
}

// The hits with cutoffs are the plain search's hits that pass them, domain
// by domain and pair by pair; their E-values do not move.
TEST(Cutoffs, ReportWhatThePlainSearchFindsThatPassesThem) {
  synthetic::Random rng(5);
  std::vector<synthetic::Family> families;
  std::vector<Profile> profiles;
  for (int k = 0; k < 3; ++k) {
    families.push_back(synthetic::family(rng, "fam" + std::to_string(k), 30 + 25 * k, 0.35));
    profiles.push_back(families.back().profile);
  }
  const std::vector<synthetic::Record> records = synthetic::planted_records(rng, families, 400);
  std::vector<SequenceRecord> list;
  for (const synthetic::Record& r : records) list.push_back({r.name, r.sequence, r.description});
  const SequenceSource source = SequenceSource::records(list);

  for (const SearchMode mode : {SearchMode::local, SearchMode::glocal}) {
    SearchConfig config;
    config.alignment = mode_settings(mode);
    config.threads = 2;
    const SearchResult plain = search(profiles, config, source);
    ASSERT_GT(plain.hits.size(), 30u);
    const double z = plain.stats.database_size;
    const std::vector<std::vector<PvalueCutoff>> tables = {
        {{1, 1}, {1, 1}, {1, 1}},
        {{1e-6, 1e-4}, {1e-9, 1e-9}, {1e-3, 1e-12}},
        {{1e-12, 1}, {1, 1e-7}, {0, 0}},
    };
    for (const std::vector<PvalueCutoff>& cutoffs : tables) {
      SearchConfig cut = config;
      cut.cutoffs = cutoffs;
      using Key = std::tuple<int, std::uint64_t, int, int, double, double, double>;
      auto key = [](const Hit& h) {
        return Key{h.profile, h.record, h.seq_from, h.seq_to, h.score, h.evalue, h.sequence_evalue};
      };
      std::vector<Key> expected, got;
      for (const Hit& h : plain.hits) {
        const PvalueCutoff& c = cutoffs[static_cast<std::size_t>(h.profile)];
        if (h.pvalue <= c.domain && -std::expm1(-h.sequence_evalue / z) <= c.sequence) expected.push_back(key(h));
      }
      for (const Hit& h : search(profiles, cut, source).hits) got.push_back(key(h));
      std::sort(expected.begin(), expected.end());
      std::sort(got.begin(), got.end());
      EXPECT_EQ(got, expected) << "cutoffs of profile 0: " << cutoffs[0].sequence << " " << cutoffs[0].domain;
      // Each table but the first keeps some hits and drops others.
      if (&cutoffs != &tables.front()) {
        EXPECT_FALSE(expected.empty());
        EXPECT_LT(expected.size(), plain.hits.size());
      }
    }
  }
  SearchConfig global;
  global.alignment = mode_settings(SearchMode::global);
  global.cutoffs = {{1, 1}, {1, 1}, {1, 1}};
  EXPECT_THROW(search(profiles, global, source), SearchError);
  SearchConfig short_list;
  short_list.cutoffs = {{1, 1}};
  EXPECT_THROW(search(profiles, short_list, source), SearchError);
}

}  // namespace
