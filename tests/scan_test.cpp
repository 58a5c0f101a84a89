// tormid-scan: its scores are tormid's, domain by domain; planted domains
// are found where they are; its output does not depend on the number of
// threads or on how the database arrives; every error has its message.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <tuple>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "search/domains.h"
#include "support/fixtures.h"
#include "support/random_cases.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;
using fixtures::run_scan;
using fixtures::split;
using fixtures::numbered;

// The rows of a --tsv table, each a map from column name to value.
std::vector<std::map<std::string, std::string>> table_rows(const std::filesystem::path& path) {
  const std::vector<std::string> lines = split(fixtures::read_file(path), '\n');
  std::vector<std::map<std::string, std::string>> rows;
  if (lines.empty()) return rows;
  const std::vector<std::string> names = split(lines[0].substr(1), '\t');
  for (std::size_t k = 1; k < lines.size(); ++k) {
    const std::vector<std::string> values = split(lines[k], '\t');
    std::map<std::string, std::string> row;
    for (std::size_t c = 0; c < names.size(); ++c) row[names[c]] = c < values.size() ? values[c] : "";
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string printed(double score) {
  char text[400];
  std::snprintf(text, sizeof text, "%8.3lf", score);
  std::string s = text;
  return s.substr(s.find_first_not_of(' '));
}

// A parameter file for a case, with the display on.
std::string params_text(const ParamValues& v) {
  auto yes = [](bool on) { return on ? "YES" : "NO"; };
  char text[600];
  std::snprintf(text, sizeof text,
                "PRF_GAP_OPEN_PENALTY %.17g\nPRF_DELETION_PENALTY %.17g\nSEQ_GAP_OPEN_PENALTY %.17g\n"
                "SEQ_DELETION_PENALTY %.17g\nPRF_FREE_BEG %s\nPRF_FREE_END %s\nSEQ_FREE_BEG %s\n"
                "SEQ_FREE_END %s\nSHOW_ALIGNMENT YES\n",
                v.gap_open_penalty_prf, v.deletion_penalty_prf, v.gap_open_penalty_seq, v.deletion_penalty_seq,
                yes(v.prf_free_beg), yes(v.prf_free_end), yes(v.seq_free_beg), yes(v.seq_free_end));
  return text;
}

// What tormid prints for each sequence alone: the score, and whether its
// alignment pairs anything. One shell loop runs them all.
struct TormidResult {
  std::string score;
  bool paired;
};

std::vector<TormidResult> run_tormid_on_each(const fixtures::TempDir& dir, const std::vector<std::string>& sequences) {
  for (std::size_t k = 0; k < sequences.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "one%06zu.fa", k);
    dir.write(name, ">x\n" + sequences[k] + "\n");
  }
  const fixtures::RunResult r = fixtures::run_shell(
      "for f in one*.fa; do " + fixtures::shell_quote(TORMID_BINARY) + " \"$f\" p.prf g.par; done", dir.path());
  // Each run: the result line, an empty line, the two aligned lines.
  const std::vector<std::string> lines = split(r.out, '\n');
  std::vector<TormidResult> results;
  for (std::size_t k = 0; k + 3 < lines.size() + 1 && results.size() < sequences.size(); k += 4) {
    const std::string& line = lines[k];
    const std::string score = line.substr(line.rfind("Score:") + 6);
    bool paired = false;
    const std::string& prf = lines[k + 2];
    const std::string& seq = k + 3 < lines.size() ? lines[k + 3] : std::string();
    for (std::size_t c = 0; c < prf.size() && c < seq.size(); ++c) paired |= prf[c] != '.' && seq[c] != '.';
    results.push_back({score.substr(score.find_first_not_of(' ')), paired});
  }
  EXPECT_EQ(results.size(), sequences.size()) << r.err;
  return results;
}

// Sequence text as a user may write it: mixed case, and now and then
// letters outside the alphabet, digits and stars.
std::string messy_sequence(std::mt19937& rng, int len) {
  static const char kLetters[] = "ARNDCQEGHILKMFPSTWYVXBZacdefghikw";
  const int kinds = std::uniform_int_distribution<int>(1, 33)(rng);
  std::string s;
  for (int i = 0; i < len; ++i) {
    s += kLetters[std::uniform_int_distribution<int>(0, kinds - 1)(rng)];
    if (i % 17 == 16) s += std::uniform_int_distribution<int>(0, 1)(rng) ? " 1*" : "\n";
  }
  return s;
}

// Every mode (the raw switches of a file, so also the combinations that
// fold), ties, letters outside the alphabet, several records per file: the
// best domain of each record is what tormid prints for that record alone
// (with a local start, where that pairs something worth a positive score).
TEST(ScanExactness, BestDomainIsTormidsScoreForTheRecordAlone) {
  std::mt19937 rng(4242);
  int compared = 0, without_pairs = 0;
  for (int n = 0; n < 64; ++n) {
    fixtures::RandomLimits limits;
    limits.max_prf = n % 4 == 0 ? 120 : 25;
    limits.max_len = 60;
    const fixtures::RandomCase c = fixtures::random_case(rng, limits);
    ParamValues values = c.values;
    values.prf_free_beg = n & 1;
    values.prf_free_end = (n >> 1) & 1;
    values.seq_free_beg = (n >> 2) & 1;
    values.seq_free_end = (n >> 3) & 1;
    fixtures::TempDir dir;
    dir.write("p.prf", fixtures::rows_profile(c.rows));
    dir.write("g.par", params_text(values));
    const int records = std::uniform_int_distribution<int>(1, 5)(rng);
    std::vector<std::string> sequences;
    std::string fasta;
    for (int r = 0; r < records; ++r) {
      sequences.push_back(messy_sequence(rng, std::uniform_int_distribution<int>(1, limits.max_len)(rng)));
      const std::string number = std::to_string(r);
      fasta.append(">s").append(number).append(" record ").append(number).append("\n");
      fasta.append(sequences.back()).append("\n");
    }
    dir.write("all.fa", fasta);
    const fixtures::RunResult scan = run_scan({"--quiet", "--params", "g.par", "--min-score", "-1e300", "-E", "1e300",
                                               "--max-domains", "1", "--tsv", "t.tsv", "p.prf", "all.fa"},
                                              dir.path());
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::map<std::string, std::string> best;  // sequence name -> score
    for (auto& row : table_rows(dir.path() / "t.tsv")) {
      EXPECT_EQ(best.count(row["sequence"]), 0u) << "two domains for " << row["sequence"];
      best[row["sequence"]] = row["score"];
    }
    const std::vector<TormidResult> expected = run_tormid_on_each(dir, sequences);
    const bool local_start = values.prf_free_beg && values.seq_free_beg;
    for (std::size_t r = 0; r < expected.size(); ++r) {
      const std::string name = numbered("s", r);
      SCOPED_TRACE(numbered("case ", n) + ", record " + name);
      if (!expected[r].paired || (local_start && std::stod(expected[r].score) <= 0)) {
        EXPECT_EQ(best.count(name), 0u);
        ++without_pairs;
        continue;
      }
      ASSERT_EQ(best.count(name), 1u);
      EXPECT_EQ(best[name], expected[r].score);
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
  EXPECT_GT(without_pairs, 0);  // the free-end modes find nothing now and then
}

// Every domain found is the best alignment of its stretch: its score is what
// tormid prints for that stretch alone; it lies inside the stretch, and the
// stretches of its children lie outside it.
TEST(ScanExactness, EachDomainIsTormidsScoreForItsStretch) {
  std::mt19937 rng(777);
  Workspace ws;
  int checked = 0;
  for (int n = 0; n < 24; ++n) {
    fixtures::RandomLimits limits;
    limits.max_prf = 12;
    limits.max_len = 120;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    c.values.prf_free_beg = c.values.prf_free_end = true;  // domains need free sequence ends
    c.values.seq_free_beg = c.values.seq_free_end = n % 2 == 1;
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    std::string seq;
    for (int i = 0; i < 150; ++i) seq += alphabet[std::uniform_int_distribution<int>(0, 19)(rng)];
    std::uint64_t cells = 0;
    const std::vector<Domain> found =
        find_domains(profile, settings, seq, [](double) { return true; }, [](double) { return true; }, false, ws,
                     cells);
    if (found.empty()) continue;  // the free ends found no pair at all
    fixtures::TempDir dir;
    dir.write("p.prf", fixtures::rows_profile(c.rows));
    dir.write("g.par", params_text(c.values));
    std::vector<std::string> stretches;
    for (const Domain& d : found) {
      EXPECT_LE(d.stretch_from, d.seq_from);
      EXPECT_LE(d.seq_from, d.seq_to);
      EXPECT_LE(d.seq_to, d.stretch_to);
      if (d.parent >= 0) {
        const Domain& p = found[static_cast<std::size_t>(d.parent)];
        EXPECT_TRUE(d.stretch_to < p.seq_from || d.stretch_from > p.seq_to);
      }
      stretches.push_back(seq.substr(static_cast<std::size_t>(d.stretch_from - 1),
                                     static_cast<std::size_t>(d.stretch_to - d.stretch_from + 1)));
    }
    const std::vector<TormidResult> expected = run_tormid_on_each(dir, stretches);
    for (std::size_t k = 0; k < found.size() && k < expected.size(); ++k) {
      EXPECT_EQ(printed(found[k].score), expected[k].score) << "case " << n << " domain " << k;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
}

// The domain search as its definition reads, every stretch aligned afresh:
// the best alignment of the best pending stretch (then the one further
// left) is the next domain, and its flanks become stretches; the whole
// sequence is searched where its best score passes `first`, a flank where
// its own passes `explore`.
std::vector<Domain> domains_by_definition(const Profile& profile, const Settings& settings, const std::string& seq,
                                          const std::function<bool(double)>& first,
                                          const std::function<bool(double)>& explore, Workspace& ws) {
  struct Stretch {
    double score;
    int from, to, parent;
  };
  std::vector<Stretch> pending;
  auto offer = [&](int from, int to, int parent) {
    if (to < from) return;
    const Alignment a = align(profile, settings, seq.substr(from - 1, to - from + 1), ws, Detail::score);
    if (a.status == AlignStatus::aligned && (parent < 0 ? first : explore)(a.score))
      pending.push_back({a.score, from, to, parent});
  };
  std::vector<Domain> found;
  offer(1, static_cast<int>(seq.size()), -1);
  while (!pending.empty()) {
    auto next = std::min_element(pending.begin(), pending.end(), [](const Stretch& a, const Stretch& b) {
      return a.score != b.score ? a.score > b.score : a.from < b.from;
    });
    const Stretch s = *next;
    pending.erase(next);
    const Alignment a = align(profile, settings, seq.substr(s.from - 1, s.to - s.from + 1), ws, Detail::path);
    if (a.seq_from == 0) continue;
    found.push_back({a.score, a.seq_from + s.from - 1, a.seq_to + s.from - 1, a.prf_from, a.prf_to, s.from, s.to,
                     s.parent, "", "", {}});
    const int index = static_cast<int>(found.size()) - 1;
    offer(s.from, found.back().seq_from - 1, index);
    offer(found.back().seq_to + 1, s.to, index);
  }
  return found;
}

// The search re-aligns only what a domain changes, and drops flanks whose
// score bound fails; its domains must be the definition's, in the same
// order, on records of repeats (identical ones tie and are found left to
// right, the case that meets rows most), with integer scores (many ties)
// and with every end mode.
TEST(ScanDomains, SameDomainsAsAligningEveryStretchAfresh) {
  std::mt19937 rng(4242);
  Workspace fast, plain("reference");
  int domains = 0, dropped = 0;
  for (int n = 0; n < 36; ++n) {
    fixtures::RandomLimits limits;
    limits.max_prf = 6 + n % 30;
    limits.max_len = 1;
    limits.score_range = n % 4 == 0 ? 9 : 4;
    limits.fractional = n % 5 == 1;
    fixtures::RandomCase c = fixtures::random_case(rng, limits);
    if (c.rows.empty()) continue;
    const int mode = n % 4;  // local, glocal, local start with last-column ends, last-row ends
    c.values.prf_free_beg = true;
    c.values.seq_free_beg = mode != 1;
    c.values.prf_free_end = mode != 3;
    c.values.seq_free_end = mode == 0 || mode == 3;
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    std::string unit;
    for (int i = 0; i < 8 + n % 30; ++i) unit += alphabet[std::uniform_int_distribution<int>(0, 19)(rng)];
    std::string seq;
    const int copies = n < 12 ? 20 : 200;  // up to some 7,000 residues: long flanks meet rows
    for (int k = 0; k < copies; ++k) {
      std::string copy = unit;
      if (n % 3 != 0)  // mutated copies; every third case identical ones
        for (char& ch : copy)
          if (std::uniform_int_distribution<int>(0, 9)(rng) == 0) ch = alphabet[std::uniform_int_distribution<int>(0, 19)(rng)];
      seq += copy;
    }
    // The whole sequence at a threshold, its flanks at another (as low or
    // lower: a search looks further than it reports).
    const double threshold = std::uniform_int_distribution<int>(1, 12)(rng);
    const double looser = threshold - std::uniform_int_distribution<int>(0, 4)(rng);
    const auto first = [&](double score) { return score >= threshold; };
    const auto explore = [&](double score) { return score >= looser; };
    Workspace& ws = n % 6 == 5 ? plain : fast;
    // Every other case drops the flanks the bound rules out.
    const ScoreBound bound(profile, settings, bound_scale(profile, looser, threshold));
    MayExplore may_explore;
    if (n % 2 == 1)
      may_explore = [&](std::string_view stretch) {
        const bool may = explore(bound.bound(stretch, ws));
        dropped += !may;
        return may;
      };
    std::uint64_t cells = 0;
    const std::vector<Domain> found =
        find_domains(profile, settings, seq, first, explore, false, ws, cells, {}, may_explore);
    const std::vector<Domain> expected = domains_by_definition(profile, settings, seq, first, explore, plain);
    ASSERT_EQ(found.size(), expected.size()) << "case " << n;
    for (std::size_t k = 0; k < found.size(); ++k) {
      const Domain& a = found[k];
      const Domain& b = expected[k];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(a.score), std::bit_cast<std::uint64_t>(b.score)) << "case " << n << " domain " << k;
      ASSERT_EQ(std::tie(a.seq_from, a.seq_to, a.prf_from, a.prf_to, a.stretch_from, a.stretch_to, a.parent),
                std::tie(b.seq_from, b.seq_to, b.prf_from, b.prf_to, b.stretch_from, b.stretch_to, b.parent))
          << "case " << n << " domain " << k;
    }
    domains += static_cast<int>(found.size());
  }
  EXPECT_GT(domains, 1000);
  EXPECT_GT(dropped, 50);
}

// A strong family planted three times, between unrelated stretches.
TEST(ScanDomains, PlantedDomainsAreFoundWhereTheyAre) {
  synthetic::Random rng(5);
  const synthetic::Family family = synthetic::family(rng, "fam", 80, 0.8);
  std::string seq = synthetic::protein(rng, 150);
  std::vector<std::pair<int, int>> planted;
  for (int k = 0; k < 3; ++k) {
    const std::string copy = synthetic::member(rng, family);
    planted.push_back({static_cast<int>(seq.size()) + 1, static_cast<int>(seq.size() + copy.size())});
    seq += copy + synthetic::protein(rng, 120);
  }
  fixtures::TempDir dir;
  dir.write("fam.prf", synthetic::profile_text(family.profile));
  dir.write("db.fa", synthetic::fasta({{"host", "three copies", seq},
                                       {"decoy", "", synthetic::protein(rng, 400)}}));
  const fixtures::RunResult r =
      run_scan({"--quiet", "--mode", "glocal", "-E", "1e-3", "--tsv", "t.tsv", "fam.prf", "db.fa"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  auto rows = table_rows(dir.path() / "t.tsv");
  ASSERT_EQ(rows.size(), 3u);
  std::sort(rows.begin(), rows.end(),
            [](auto& a, auto& b) { return std::stoi(a["domain"]) < std::stoi(b["domain"]); });
  for (int k = 0; k < 3; ++k) {
    auto& row = rows[static_cast<std::size_t>(k)];
    EXPECT_EQ(row["sequence"], "host");
    EXPECT_EQ(row["domain"], std::to_string(k + 1));
    EXPECT_EQ(row["n_domains"], "3");
    EXPECT_NEAR(std::stoi(row["seq_from"]), planted[static_cast<std::size_t>(k)].first, 5);
    EXPECT_NEAR(std::stoi(row["seq_to"]), planted[static_cast<std::size_t>(k)].second, 5);
    EXPECT_LE(std::stoi(row["prf_from"]), 3);
    EXPECT_GE(std::stoi(row["prf_to"]), 78);
    EXPECT_LT(std::stod(row["evalue"]), 1e-10);
  }
}

TEST(ScanOutput, SameWhateverTheThreadsAndTheWayTheDatabaseArrives) {
  synthetic::Random rng(99);
  std::vector<synthetic::Family> families;
  for (int k = 0; k < 3; ++k) families.push_back(synthetic::family(rng, numbered("fam", k), 40 + 30 * k));
  fixtures::TempDir dir;
  std::string profiles;
  for (const auto& f : families) profiles += synthetic::profile_text(f.profile);
  dir.write("a.prf", synthetic::profile_text(families[0].profile));
  dir.write("b.prf", synthetic::profile_text(families[1].profile));
  dir.write("c.prf", synthetic::profile_text(families[2].profile));
  dir.write("db.fa", synthetic::fasta(synthetic::planted_records(rng, families, 2000)));
  ASSERT_EQ(std::system(("gzip -c " + fixtures::shell_quote((dir.path() / "db.fa").string()) + " > " +
                         fixtures::shell_quote((dir.path() / "db.fa.gz").string()))
                            .c_str()),
            0);

  auto run = [&](const std::string& threads, const std::string& input) {
    return run_scan({"--quiet", "--alignments", "--threads", threads, "--tsv", "t" + threads + ".tsv", "a.prf",
                     "b.prf", "c.prf", input},
                    dir.path());
  };
  const fixtures::RunResult one = run("1", "db.fa");
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(one.err, "");
  EXPECT_NE(one.out.find("2,000 searched"), std::string::npos);
  EXPECT_NE(one.out.find("1 without letters skipped"), std::string::npos);
  const std::string table = fixtures::read_file(dir.path() / "t1.tsv");
  EXPECT_GT(split(table, '\n').size(), 200u);
  for (const std::string threads : {"2", "3", "8"}) {
    const fixtures::RunResult many = run(threads, "db.fa");
    EXPECT_EQ(many.out, one.out) << threads << " threads";
    EXPECT_EQ(fixtures::read_file(dir.path() / ("t" + threads + ".tsv")), table) << threads << " threads";
  }
  const fixtures::RunResult zipped = run("2", "db.fa.gz");
  EXPECT_EQ(zipped.out.substr(zipped.out.find('\n', zipped.out.find("# sequences:"))),
            one.out.substr(one.out.find('\n', one.out.find("# sequences:"))));
  const fixtures::RunResult piped = fixtures::run_shell(
      "exec " + fixtures::shell_quote(TORMID_SCAN_BINARY) + " --quiet --alignments a.prf b.prf c.prf - < db.fa.gz",
      dir.path());
  EXPECT_EQ(piped.out.substr(piped.out.find('\n', piped.out.find("# sequences:"))),
            one.out.substr(one.out.find('\n', one.out.find("# sequences:"))));
}

// The whole standard output of a small search, to the byte.
TEST(ScanOutput, ReportLayout) {
  fixtures::TempDir dir;
  dir.write("w.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("y.prf", fixtures::word_profile("YVYVYVYVY"));  // no hits
  dir.write("db.fa",
            ">sp|Q1|ONE first protein, two copies\nWWWACDEFGHIKWWWWACDQFGHIKWW\n"
            ">two\nMMMMACDEFGHIK\n>none\nWWWWWWWW\n>empty\n\n");
  const fixtures::RunResult r = run_scan(
      {"--quiet", "--alignments", "--min-score", "20", "--tsv", "t.tsv", "w.prf", "y.prf", "db.fa"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::string expected = fixtures::read_file(std::string(TORMID_TEST_DATA) + "/scan/report_layout.txt");
  expected.replace(expected.find("@VERSION@"), 9, TORMID_VERSION_STRING);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(fixtures::read_file(dir.path() / "t.tsv"),
            "#profile\tsequence\tseq_len\tdomain\tn_domains\tscore\tevalue\tbits\tbias\tseq_from\tseq_to\tprf_from\t"
            "prf_to\tprf_len\tdescription\tprf_accession\tprf_description\n"
            "w\ttwo\t13\t1\t1\t40.000\t5.4e-08\t29.4\t0.1\t6\t13\t2\t9\t9\t\t-\t-\n"
            "w\tsp|Q1|ONE\t27\t1\t2\t40.000\t1.1e-07\t29.4\t0.1\t5\t12\t2\t9\t9\tfirst protein, two copies\t-\t-\n"
            "w\tsp|Q1|ONE\t27\t2\t2\t34.000\t2.6e-06\t24.9\t0.1\t18\t25\t2\t9\t9\tfirst protein, two copies\t-\t-\n");
}

struct ErrorCase {
  const char* name;
  std::vector<std::string> args;
  std::string err;  // exact, or a prefix when it ends with "..."
  int status;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

const ErrorCase kErrors[] = {
    {"NoArguments", {}, "FILES is required\n...", 2},
    {"OneFile", {"w.prf"}, "FILES: At least 2 required but received 1\n...", 2},
    {"UnknownMode", {"--mode", "semi", "w.prf", "db.fa"}, "--mode: semi not in {glocal,local,global}\n...", 2},
    {"ParamsAndMode", {"--params", "g.par", "--mode", "local", "w.prf", "db.fa"}, "--params excludes --mode\n...", 2},
    {"NotANumber", {"--min-score", "lots", "w.prf", "db.fa"}, "--min-score: a finite number is expected...", 2},
    {"ZeroThreads", {"--threads", "0", "w.prf", "db.fa"},
     "--threads: must be a whole number from 1 to 2147483647, not 0\nRun with --help for more information.\n", 2},
    {"UnknownOption", {"--evalue", "1", "w.prf", "db.fa"}, "The following argument was not expected: ...", 2},
    {"MissingProfile", {"none.hmm", "db.fa"}, "tormid-scan: none.hmm: cannot open (No such file or directory)\n", 1},
    {"DirectoryAsProfile", {".", "db.fa"}, "tormid-scan: .: cannot open (Is a directory)\n", 1},
    {"ParametersAsProfile", {"bad.par", "db.fa"},
     "tormid-scan: bad.par: not a profile file: expected a tormid profile (\"(Peptide) ...\"), an HMMER3 model file "
     "(\"HMMER3/...\"), a PSI-BLAST ASCII PSSM, a prepared library, a Stockholm alignment or FASTA\n",
     1},
    {"Hmmer2Model", {"old.hmm", "db.fa"},
     "tormid-scan: old.hmm: an HMMER2 model file: tormid reads HMMER3 models (HMMER's hmmconvert writes them)\n", 1},
    {"ShortProfile", {"short.prf", "db.fa"}, "tormid-scan: short.prf: profile file short.prf has 1 of 3 positions\n", 1},
    {"BrokenModel", {"w.prf", "broken.hmm", "db.fa"},
     "tormid-scan: broken.hmm:2: the file ends before the model's HMM line\n", 1},
    {"ParamsNotNine", {"--params", "bad.par", "w.prf", "db.fa"},
     "tormid-scan: bad.par: not a tormid parameter file: its key lines do not add up to the nine keys "
     "(PRF_GAP_OPEN_PENALTY ... SHOW_ALIGNMENT)\n",
     1},
    {"MissingDatabase", {"w.prf", "none.fa"}, "tormid-scan: none.fa: cannot open (No such file or directory)\n", 1},
    // A sequence file starts with a header, after blank lines.
    {"ModelAsDatabase", {"w.prf", "broken.hmm"},
     "tormid-scan: broken.hmm:1: not FASTA: an HMMER3 model file; the sequence file comes last\n", 1},
    {"ProfileAsDatabase", {"w.prf", "w.prf"}, "tormid-scan: w.prf:1: not FASTA: a tormid profile; the sequence file "
                                              "comes last\n", 1},
    {"TextBeforeTheFirstHeader", {"w.prf", "pre.fa"},
     "tormid-scan: pre.fa:3: not FASTA: a sequence file starts with a header line, \">NAME\"\n", 1},
    {"TruncatedDatabase", {"w.prf", "cut.fa.gz"}, "tormid-scan: cut.fa.gz: cannot read (the compressed data ends too early)\n",
     1},
    {"TableInMissingDirectory", {"--tsv", "no/such/dir/t.tsv", "w.prf", "db.fa"},
     "tormid-scan: no/such/dir/t.tsv: cannot write (No such file or directory)\n", 1},
    {"DomainTableInMissingDirectory", {"--domtblout", "no/such/dir/t.tbl", "w.prf", "db.fa"},
     "tormid-scan: no/such/dir/t.tbl: cannot write (No such file or directory)\n", 1},
    {"HmmerTablesNeedEValues", {"--mode", "global", "--tblout", "t.tbl", "w.prf", "db.fa"},
     "tormid-scan: --tblout and --domtblout write HMMER's tables, which need E-values, and global mode has none; "
     "--tsv writes tormid's table\n",
     1},
    // Option values, refused in plain sentences.
    {"ZNotANumber", {"-Z", "nan", "w.prf", "db.fa"}, "-Z: a finite number is expected, not 'nan'\n...", 2},
    {"ZZero", {"-Z", "0", "w.prf", "db.fa"}, "-Z: must be a positive number, not 0\n...", 2},
    {"NegativeDomains", {"--max-domains", "-1", "w.prf", "db.fa"},
     "--max-domains: must be a whole number from 0 to 2147483647, not '-1'\n...", 2},
    {"NegativeSeed", {"--seed", "-1", "w.prf", "db.fa"},
     "--seed: must be a whole number from 0 to 18446744073709551615, not '-1'\n...", 2},
    {"SeedBeyondRange", {"--seed", "18446744073709551616", "w.prf", "db.fa"},
     "--seed: must be a whole number from 0 to 18446744073709551615, not 18446744073709551616\n...", 2},
    {"HugeThreads", {"--threads", "99999999999", "w.prf", "db.fa"},
     "--threads: must be a whole number from 1 to 2147483647, not 99999999999\n...", 2},
    {"NegativeExtension", {"--extend", "-1", "w.prf", "db.fa"}, "--extend: must be 0 or more, not -1\n...", 2},
    {"FileLikeAnOption", {"w.prf", "-x.fa"},
     "FILES: At least 2 required but received 1\nRun with --help for more information.\n"
     "tormid-scan: -x.fa is taken for an option; file names that start with - go after --, as in tormid-scan "
     "[OPTIONS] -- PROFILE_FILE... SEQUENCE_FILE\n",
     2},
    // HMMER's options typed by habit: what to use instead, once each.
    {"HmmerOptions", {"--cpu", "2", "-o", "out.txt", "--domE=0.01", "--cpu", "4", "w.prf", "db.fa"},
     "The following arguments were not expected: --cpu --domE=0.01 -o --cpu\nRun with --help for more information.\n"
     "tormid-scan: --cpu is HMMER's; --threads N sets the threads\n"
     "tormid-scan: -o is HMMER's; the report goes to standard output: redirect it (> FILE)\n"
     "tormid-scan: --domE is HMMER's; -E sets the domains' E-value threshold (each domain is reported on its own "
     "E-value)\n",
     2},
    {"CutoffsTheProfilesLack", {"--cut_tc", "w.prf", "y.prf", "db.fa"},
     "tormid-scan: --cut_tc: 2 profiles carry no TC line with a STATS LOCAL FORWARD law (HMMER3 models from Pfam "
     "have both): w, y\n",
     1},
    {"CutoffsInGlobalMode", {"--cut_ga", "--mode", "global", "w.prf", "db.fa"},
     "tormid-scan: --cut_ga reads each profile's cutoffs as P-values, and global mode has no E-values\n", 1},
    {"TwoKindsOfCutoffs", {"--cut_ga", "--cut_nc", "w.prf", "db.fa"},
     "--cut_ga excludes --cut_nc\nRun with --help for more information.\n", 2},
    // Files and settings a search cannot take.
    {"NegativePenaltyFile", {"--params", "negative.par", "w.prf", "db.fa"},
     "tormid-scan: negative gap penalties make gaps pay, and scores and E-values mean nothing; a search needs "
     "penalties of 0 or more (opening 11 / 11, deletion -1 / -1 for profile / sequence gaps)\n",
     1},
    {"ProfileWithoutPositions", {"zero.prf", "db.fa"}, "tormid-scan: zero.prf: the header gives the profile 0 positions\n", 1},
    {"SameNameTwice", {"w.prf", "w.prf", "db.fa"},
     "tormid-scan: w.prf: a profile named w is already searched (from w.prf); each profile needs a name of its own "
     "(rename the file or the model)\n",
     1},
    {"StandardInputTwice", {"-", "-"}, "tormid-scan: -: standard input can give the profiles or the sequences, once\n", 1},
    {"ModelWithAScoreMissing", {"missing_score.hmm", "db.fa"},
     "tormid-scan: missing_score.hmm:24: node 1's match emission line (its number, 20 emission scores, 5 "
     "annotations in HMMER3/f) has 25 fields where 26 are expected\n",
     1},
    {"RecordTooLong", {"--max-record-length", "10", "w.prf", "db.fa"},
     "tormid-scan: db.fa: record s is longer than 10 residues; --max-record-length raises the limit\n", 1},
    {"TableIsAFolder", {"--tsv", "sub", "w.prf", "db.fa"}, "tormid-scan: sub: cannot write (Is a directory)\n", 1},
    {"AbsurdScores", {"huge.prf", "db.fa"},
     "tormid-scan: profile huge: position 1 scores 1e+308 for A, beyond +-1,000,000, where scores and E-values "
     "lose their meaning\n",
     1},
};

class ScanErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ScanErrors, ExactMessageAndStatus) {
  const ErrorCase& c = GetParam();
  fixtures::TempDir dir;
  dir.write("w.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("y.prf", fixtures::word_profile("YVYVYVYVY"));
  dir.write("short.prf", "(Peptide) x y Length: 3\nCons\nA 1\n");
  dir.write("broken.hmm", "HMMER3/f\nNAME x\n");
  dir.write("old.hmm", "HMMER2.0  [2.3.2]\nNAME  x\n");
  dir.write("g.par", fixtures::params(11, 1));
  dir.write("bad.par", "PRF_GAP_OPEN_PENALTY 1\n");
  dir.write("negative.par", fixtures::params(11, -1, {"PRF_FREE_BEG", "PRF_FREE_END"}));
  dir.write("zero.prf", "(Peptide) x y Length: 0\nCons\n");
  dir.write("-x.fa", ">s\nAAAACDEFGHIK\n");
  dir.write("missing_score.hmm", fixtures::read_file(std::string(TORMID_TEST_DATA) + "/converter/missing_score.hmm"));
  std::filesystem::create_directory(dir.path() / "sub");
  std::array<double, 20> huge_row;
  huge_row.fill(1e308);
  const std::string huge = fixtures::rows_profile({huge_row, huge_row, huge_row, huge_row});
  dir.write("huge.prf", huge);
  dir.write("db.fa", ">s\nAAAACDEFGHIK\n");
  dir.write("pre.fa", "\n  \nMKV\n>s\nAAAACDEFGHIK\n");
  std::string long_fasta = ">s\n";
  for (int k = 0; k < 2000; ++k) long_fasta += "ACDEFGHIKLMNPQRSTVWYACDEFGHIKLMNPQRSTVWYACDEFGHIKLMNPQRSTVWY\n";
  dir.write("long.fa", long_fasta);
  ASSERT_EQ(std::system(("cd " + fixtures::shell_quote(dir.path().string()) + " && gzip -c long.fa | head -c 200 > cut.fa.gz")
                            .c_str()),
            0);
  const fixtures::RunResult r = run_scan(c.args, dir.path());
  if (c.err.size() > 3 && c.err.compare(c.err.size() - 3, 3, "...") == 0) {
    EXPECT_EQ(r.err.substr(0, c.err.size() - 3), c.err.substr(0, c.err.size() - 3)) << r.err;
  } else {
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, c.status);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "t.tsv"));
}

INSTANTIATE_TEST_SUITE_P(Scan, ScanErrors, testing::ValuesIn(kErrors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanCommandLine, HelpAndVersion) {
  fixtures::TempDir dir;
  const fixtures::RunResult help = run_scan({"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: tormid-scan [OPTIONS] PROFILE_FILE... SEQUENCE_FILE"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  const fixtures::RunResult version = run_scan({"--version"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tormid-scan ", 0), 0u);
}

}  // namespace

namespace {

// The progress line shows on a terminal only; elsewhere standard error
// holds the elapsed time alone, and --quiet leaves it empty.
TEST(ScanProgress, OnATerminalOnly) {
  fixtures::TempDir dir;
  synthetic::Random rng(3);
  const synthetic::Family f = synthetic::family(rng, "f", 50);
  dir.write("f.prf", synthetic::profile_text(f.profile));
  std::vector<synthetic::Record> db;
  constexpr int kRecords = 20000;  // more than one batch of records
  for (int k = 0; k < kRecords; ++k) db.push_back({numbered("s", k), "", synthetic::protein(rng, 300)});
  dir.write("db.fa", synthetic::fasta(db));
  const fixtures::RunResult plain = run_scan({"--threads", "1", "f.prf", "db.fa"}, dir.path());
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err.rfind("tormid-scan: ", 0), 0u) << plain.err;
  EXPECT_EQ(std::count(plain.err.begin(), plain.err.end(), '\n'), 1) << plain.err;
  EXPECT_EQ(plain.err.find('\r'), std::string::npos);
  if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is missing";
  std::string command = fixtures::shell_quote(TORMID_SCAN_BINARY);
  command.append(" --threads 1 f.prf db.fa >out.txt");
  std::string under_script = "script -qec ";
  under_script.append(fixtures::shell_quote(command)).append(" /dev/null");
  const fixtures::RunResult tty = fixtures::run_shell(under_script, dir.path());
  EXPECT_EQ(tty.status, 0);
  // A line after the first batch, before the last.
  const std::size_t first = tty.out.find('\r');
  ASSERT_NE(first, std::string::npos) << tty.out;
  const int shown = std::atoi(tty.out.c_str() + first + 1);
  EXPECT_GT(shown, 0) << tty.out;
  EXPECT_LT(shown, kRecords) << tty.out;
  EXPECT_EQ(tty.out.compare(first + 1 + std::to_string(shown).size(), 10, " records, "), 0) << tty.out;
  EXPECT_NE(tty.out.find("% of the file, about "), std::string::npos) << tty.out;
  EXPECT_NE(tty.out.find("\r\033[Ktormid-scan: "), std::string::npos) << tty.out;  // cleared before the time
  EXPECT_EQ(fixtures::read_file(dir.path() / "out.txt"), plain.out);
}

}  // namespace

namespace {

// E-values count with -Z; the global mode has none and reports by score.
// Sequences so like the profile that their E-values are all 0 still come
// in order in every table: by E-value, then the higher score (or bits)
// first. Copies of a 600-letter word with more and more letters changed,
// in shuffled order, among unrelated sequences.
TEST(ScanSignificance, TiesAtEValueZeroGoByScore) {
  std::mt19937 rng(8);
  const std::string letters = "ACDEFGHIKLMNPQRSTVWY";
  const auto random_text = [&](int length) {
    std::string s;
    for (int k = 0; k < length; ++k) s += letters[rng() % letters.size()];
    return s;
  };
  const std::string word = random_text(600);
  std::vector<int> changed;
  for (int k = 0; k < 60; k += 3) changed.push_back(k);
  std::shuffle(changed.begin(), changed.end(), rng);
  std::string db;
  for (const int k : changed) {
    std::string copy = word;
    for (int c = 0; c < k; ++c) copy[rng() % copy.size()] = letters[rng() % letters.size()];
    db += ">copy" + std::to_string(k) + "\n" + copy + "\n";
  }
  for (int k = 0; k < 30; ++k) db += ">other" + std::to_string(k) + "\n" + random_text(300) + "\n";
  fixtures::TempDir dir;
  dir.write("w.prf", fixtures::word_profile(word));
  dir.write("db.fa", db);
  const fixtures::RunResult r = run_scan(
      {"--quiet", "--tsv", "t.tsv", "--tblout", "t.tbl", "--domtblout", "d.tbl", "w.prf", "db.fa"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // (name, E-value, score) in table order.
  using Row = std::tuple<std::string, double, double>;
  const auto in_order = [](const std::vector<Row>& rows, const char* table) {
    int zeros = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      zeros += std::get<1>(rows[k]) == 0;
      if (k == 0) continue;
      const auto& [name, evalue, score] = rows[k];
      const auto& [name_before, evalue_before, score_before] = rows[k - 1];
      EXPECT_TRUE(evalue_before < evalue || (evalue_before == evalue && score_before >= score))
          << table << ": " << name_before << " before " << name;
    }
    EXPECT_GE(zeros, 10) << table;
  };
  std::vector<Row> tsv, pairs;
  for (auto& row : table_rows(dir.path() / "t.tsv"))
    tsv.emplace_back(row["sequence"], std::stod(row["evalue"]), std::stod(row["score"]));
  in_order(tsv, "--tsv");
  std::vector<std::string> domain_targets;
  for (const std::string& line : split(fixtures::read_file(dir.path() / "t.tbl"), '\n')) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string target, accession, query, query_accession;
    double evalue = 0, bits = 0;
    fields >> target >> accession >> query >> query_accession >> evalue >> bits;
    pairs.emplace_back(target, evalue, bits);
  }
  in_order(pairs, "--tblout");
  // Each pair's domains follow the pairs' order.
  for (const std::string& line : split(fixtures::read_file(dir.path() / "d.tbl"), '\n'))
    if (!line.empty() && line[0] != '#') {
      const std::string target = line.substr(0, line.find(' '));
      if (domain_targets.empty() || domain_targets.back() != target) domain_targets.push_back(target);
    }
  std::vector<std::string> pair_targets;
  for (const Row& row : pairs) pair_targets.push_back(std::get<0>(row));
  EXPECT_EQ(domain_targets, pair_targets);
}

TEST(ScanSignificance, ZScalesEValuesAndGlobalModeHasNone) {
  fixtures::TempDir dir;
  dir.write("w.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("db.fa", ">one\nWWWACDEFGHIKWWWWACDQFGHIKWW\n>two\nMMMMACDEFGHIK\n");
  auto evalues = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--quiet", "--min-score", "20", "--tsv", "t.tsv"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"w.prf", "db.fa"});
    EXPECT_EQ(run_scan(args, dir.path()).status, 0);
    std::vector<std::string> values;
    for (auto& row : table_rows(dir.path() / "t.tsv")) values.push_back(row["evalue"]);
    return values;
  };
  const std::vector<std::string> small = evalues({"-Z", "300"}), large = evalues({"-Z", "3000000"});
  ASSERT_EQ(small.size(), 3u);
  ASSERT_EQ(large.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(std::stod(large[k]) / std::stod(small[k]), 10000, 200);
  EXPECT_EQ(evalues({"--mode", "global"}), (std::vector<std::string>{"-"}));  // only "two" scores 30
}

}  // namespace

// Profiles that outnumber the sequences a hundred to one without
// --per-sequence: E-values count the sequences, which a note on standard
// error says, with the option that counts the profiles.
TEST(ScanNotes, ZOfALibraryAgainstAFewSequences) {
  fixtures::TempDir dir;
  std::vector<std::string> press = {"press", "--quiet", "--mode", "local", "lib.tlib"};
  for (int k = 0; k < 100; ++k) {
    press.push_back(fixtures::numbered("p", k) + ".prf");
    dir.write(press.back(), fixtures::word_profile("ACDEFGHIK"));
  }
  ASSERT_EQ(fixtures::run(TORMID_PRF_BINARY, press, dir.path()).status, 0);
  dir.write("db.fa", ">s\nAAAACDEFGHIK\n");
  dir.write("two.fa", ">s\nAAAACDEFGHIK\n>t\nACDEFGHIKAAA\n");
  const std::string note =
      "tormid-scan: note: 100 profiles against 1 sequence: E-values count Z = 1, the sequences searched, as hmmsearch "
      "does; --per-sequence counts the profiles searched (Z = 100), as hmmscan does\n";
  struct Case {
    std::vector<std::string> options;
    const char* database;
    std::string err;
  };
  const Case cases[] = {{{}, "db.fa", note},
                        {{"--per-sequence"}, "db.fa", ""},
                        {{"-Z", "1"}, "db.fa", ""},
                        {{}, "two.fa", ""}};
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    for (const char* a : {"--quiet", "--mode", "local", "lib.tlib"}) args.emplace_back(a);
    args.emplace_back(c.database);
    const fixtures::RunResult r = fixtures::run(TORMID_SCAN_BINARY, args, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, c.err) << testing::PrintToString(c.options) << ", " << c.database;
  }
}
