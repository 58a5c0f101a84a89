// tormid-scan's score bound filter changes nothing but the time: on a
// generated database with planted homologs of every strength, whole and
// in fragments, the report and the table are the same byte for byte with
// and without --no-filter, in every mode and under every kind of
// threshold; and the filter does dismiss pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using fixtures::numbered;

// Records of background residues; about one in four carries a member of a
// family (conservation from barely detectable to strong), some two, some
// only half of one.
std::string planted_database(synthetic::Random& rng, const std::vector<synthetic::Family>& families, int records) {
  std::vector<synthetic::Record> db;
  for (int k = 0; k < records; ++k) {
    std::string seq = synthetic::protein(rng, 20 + rng.below(400));
    for (int copies = k % 4 == 0 ? 1 + k % 8 / 4 : 0; copies > 0; --copies) {
      const auto& family = families[static_cast<std::size_t>(rng.below(static_cast<int>(families.size())))];
      std::string copy = synthetic::member(rng, family);
      if (k % 3 == 0) copy = copy.substr(copy.size() / 4, copy.size() / 2);
      seq.insert(static_cast<std::size_t>(rng.below(static_cast<int>(seq.size()))), copy);
    }
    db.push_back({numbered("seq", k), "", seq});
  }
  return synthetic::fasta(db);
}

// scored_first: alignments start anywhere in the sequence but not
// locally, so the pairs the bound lets through get their best scores
// first, and some of them are ruled out there. Where alignments end in
// the profile's last column that pass comes with the domain search's row
// ends and always runs; otherwise only where the CPU has the kernels that
// score many sequences at once.
enum class ScoredFirst { no, yes, where_many_at_once };
struct Search {
  const char* what;
  std::vector<std::string> options;
  ScoredFirst scored_first;
};

const Search kSearches[] = {
    {"glocal", {"--mode", "glocal"}, ScoredFirst::yes},
    {"local", {"--mode", "local"}, ScoredFirst::no},
    {"global", {"--mode", "global", "--min-score", "-40"}, ScoredFirst::no},
    {"loose E-value", {"-E", "100"}, ScoredFirst::no},
    {"strict E-value, fixed Z", {"-E", "0.001", "-Z", "1000000"}, ScoredFirst::no},
    {"score threshold with E-values", {"--mode", "local", "--min-score", "12"}, ScoredFirst::no},
    {"cheap gaps, one domain", {"--open", "2", "--extend", "0.5", "--max-domains", "1"}, ScoredFirst::no},
    {"no composition correction", {"--no-bias-correction", "--mode", "local", "-E", "50"}, ScoredFirst::no},
    {"asymmetric parameter file", {"--params", "asymmetric.par"}, ScoredFirst::where_many_at_once},
};

class ScanFilter : public testing::TestWithParam<Search> {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fixtures::TempDir;
    synthetic::Random rng(2027);
    std::vector<synthetic::Family> families;
    const int lengths[] = {25, 70, 160};
    const double conservation[] = {0.25, 0.5, 0.9};
    for (int k = 0; k < 3; ++k) {
      families.push_back(synthetic::family(rng, numbered("fam", k), lengths[k], conservation[k]));
      dir_->write(numbered("fam", k) + ".prf", synthetic::profile_text(families.back().profile));
    }
    tormid::Settings anywhere;
    anywhere.start = tormid::StartMode::prf_free;
    scores_many_at_once_ = tormid::aligns_many_at_once(families[0].profile, anywhere, tormid::Workspace());
    // Weak members of a strong family's consensus: every strength between.
    families.push_back(synthetic::family(rng, "fam3", 100, 0.35));
    dir_->write("fam3.prf", synthetic::profile_text(families.back().profile));
    const std::string db = planted_database(rng, families, 500);
    dir_->write("db.fa", db);
    // Its first 12 records: a batch too small for the sequences to fill
    // the bound's lanes, where the profiles fill them instead.
    std::size_t end = 0;
    for (int k = 0; k <= 12; ++k) end = db.find('>', end + 1);
    dir_->write("few.fa", db.substr(0, end));
    dir_->write("asymmetric.par",
                "PRF_GAP_OPEN_PENALTY 4\nPRF_DELETION_PENALTY 2\nSEQ_GAP_OPEN_PENALTY 9\nSEQ_DELETION_PENALTY 0.5\n"
                "PRF_FREE_BEG YES\nPRF_FREE_END NO\nSEQ_FREE_BEG NO\nSEQ_FREE_END YES\nSHOW_ALIGNMENT NO\n");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static fixtures::TempDir* dir_;
  static bool scores_many_at_once_;
};

fixtures::TempDir* ScanFilter::dir_ = nullptr;
bool ScanFilter::scores_many_at_once_ = false;

TEST_P(ScanFilter, SameReportWithAndWithoutTheFilter) {
  auto run = [&](const std::string& table, bool filter) {
    std::vector<std::string> args = GetParam().options;
    for (const char* a : {"--alignments", "--threads", "2", "--tsv"}) args.emplace_back(a);
    args.push_back(table);
    if (!filter) args.emplace_back("--no-filter");
    for (const char* a : {"fam0.prf", "fam1.prf", "fam2.prf", "fam3.prf", "db.fa"}) args.emplace_back(a);
    return fixtures::run(TORMID_SCAN_BINARY, args, dir_->path());
  };
  const fixtures::RunResult with = run("with.tsv", true);
  const fixtures::RunResult without = run("without.tsv", false);
  ASSERT_EQ(with.status, 0) << with.err;
  ASSERT_EQ(without.status, 0) << without.err;
  EXPECT_EQ(with.out, without.out);
  EXPECT_EQ(fixtures::read_file(dir_->path() / "with.tsv"), fixtures::read_file(dir_->path() / "without.tsv"));
  // Not vacuous: hits were reported, and pairs were dismissed.
  EXPECT_EQ(with.out.find("hits:       0 domains"), std::string::npos);
  unsigned long long dismissed = 0, pairs = 0;
  const std::size_t at = with.err.find("dismissed ");
  ASSERT_NE(at, std::string::npos) << with.err;
  ASSERT_EQ(std::sscanf(with.err.c_str() + at, "dismissed %llu of %llu", &dismissed, &pairs), 2);
  EXPECT_EQ(pairs, 2000u);
  EXPECT_GT(dismissed, 0u);
  EXPECT_EQ(without.err.find("dismissed"), std::string::npos);
  const std::size_t scored = with.err.find(" and their best scores ");
  EXPECT_EQ(scored != std::string::npos, GetParam().scored_first == ScoredFirst::yes ||
                                              (GetParam().scored_first == ScoredFirst::where_many_at_once &&
                                               scores_many_at_once_)) << with.err;
}

// Hits of the first 12 records, read from a tsv table: the same whether
// they were searched alone (a few sequences, the profiles side by side in
// the bound's lanes) or among 500, at the same Z.
std::vector<std::string> rows_of_few(const std::string& tsv) {
  std::vector<std::string> rows;
  std::istringstream lines(tsv);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || line[0] == '#') continue;
    const std::string sequence = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
    if (std::stoi(sequence.substr(3)) < 12) rows.push_back(line);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST_P(ScanFilter, AFewSequencesAsAmongMany) {
  for (const std::string& option : GetParam().options)
    if (option == "-Z") GTEST_SKIP() << "sets its own Z";
  auto run = [&](const char* database, const std::string& table) {
    std::vector<std::string> args = GetParam().options;
    for (const char* a : {"-Z", "500", "--threads", "2", "--tsv"}) args.emplace_back(a);
    args.push_back(table);
    for (const char* a : {"fam0.prf", "fam1.prf", "fam2.prf", "fam3.prf"}) args.emplace_back(a);
    args.emplace_back(database);
    return fixtures::run(TORMID_SCAN_BINARY, args, dir_->path());
  };
  const fixtures::RunResult few = run("few.fa", "few.tsv"), many = run("db.fa", "many.tsv");
  ASSERT_EQ(few.status, 0) << few.err;
  ASSERT_EQ(many.status, 0) << many.err;
  const std::vector<std::string> alone = rows_of_few(fixtures::read_file(dir_->path() / "few.tsv"));
  EXPECT_EQ(alone, rows_of_few(fixtures::read_file(dir_->path() / "many.tsv")));
  EXPECT_FALSE(alone.empty());
  EXPECT_NE(few.err.find("dismissed "), std::string::npos) << few.err;
  EXPECT_EQ(few.err.find("dismissed 0 of"), std::string::npos) << few.err;
}

// The pairs the bound dismisses, from tormid-scan's summary.
double dismissed_share(const std::string& err) {
  unsigned long long dismissed = 0, pairs = 0;
  const std::size_t at = err.find("dismissed ");
  if (at == std::string::npos || std::sscanf(err.c_str() + at, "dismissed %llu of %llu", &dismissed, &pairs) != 2 ||
      pairs == 0)
    return -1;
  return static_cast<double>(dismissed) / static_cast<double>(pairs);
}

// A long profile's bound still rules out most unrelated proteins: a
// family of 600 positions against 500 random proteins of 300 to 1,500
// residues. Glocal thresholds lie hundreds below zero, where the bound's
// integer scale is coarsest and its rounding shows: at E <= 1 the bound
// dismisses 37% of the glocal pairs (a scale four times coarser, 19%; at
// E <= 10 chance scores lie too near the threshold for any bound, and the
// exact best scores dismiss the rest), locally 98%.
TEST(ScanFilterReach, ALongProfileDismissesMostUnrelatedProteins) {
  synthetic::Random rng(600);
  fixtures::TempDir dir;
  dir.write("long.prf", synthetic::profile_text(synthetic::family(rng, "long", 600).profile));
  std::vector<synthetic::Record> db;
  for (int k = 0; k < 500; ++k) db.push_back({numbered("r", k), "", synthetic::protein(rng, 300 + rng.below(1201))});
  dir.write("db.fa", synthetic::fasta(db));
  struct Case {
    const char *mode, *evalue;
    double share;
  };
  for (const Case c : {Case{"glocal", "1", 0.3}, Case{"local", "10", 0.9}}) {
    const fixtures::RunResult r = fixtures::run(
        TORMID_SCAN_BINARY, {"--mode", c.mode, "-E", c.evalue, "--threads", "2", "long.prf", "db.fa"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GE(dismissed_share(r.err), c.share) << c.mode << ": " << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Searches, ScanFilter, testing::ValuesIn(kSearches), [](const auto& info) {
  std::string name;
  for (const char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

}  // namespace
