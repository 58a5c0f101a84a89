// The programs on profiles built from what users start with: tormid-prf
// build, tormid-scan with sequences and alignments as profiles, -A's
// Stockholm and building from it again, and --iterations (the same on any
// number of threads, stopping when nothing new joins).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using fixtures::run_prf;
using fixtures::run_scan;
using fixtures::split;

// Rows of a --tsv table: column name -> value.
std::vector<std::map<std::string, std::string>> tsv_rows(const std::string& text) {
  const std::vector<std::string> lines = split(text, '\n');
  std::vector<std::map<std::string, std::string>> rows;
  if (lines.empty()) return rows;
  const std::vector<std::string> names = split(lines[0].substr(1), '\t');
  for (std::size_t k = 1; k < lines.size(); ++k) {
    if (lines[k].empty()) continue;
    const std::vector<std::string> values = split(lines[k], '\t');
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (std::size_t c = 0; c < names.size() && c < values.size(); ++c) row[names[c]] = values[c];
  }
  return rows;
}

TEST(PrfBuild, WritesEveryProfileAndSaysWhatItBuilt) {
  fixtures::TempDir dir;
  dir.write("fams.sto",
            "# STOCKHOLM 1.0\n#=GF ID kinase\na MKVLAAG\nb MKILA-G\nc MRVLSAG\n//\n"
            "# STOCKHOLM 1.0\n#=GF ID zinc\na CPECGKSF\nb CPEC-KAF\n#=GC RF xxxx.xxx\n//\n");
  dir.write("q.fa", ">query1 a protein\nMSTNPKPQRK\n>query2\nWWHHKK\n");
  const fixtures::RunResult r = run_prf({"build", "all.prf", "fams.sto", "q.fa"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "tormid-prf: kinase: 7 positions from 3 sequences (effective number 3.00)\n"
            "tormid-prf: zinc: 7 positions from 2 sequences (effective number 2.00)\n"
            "tormid-prf: query1: 10 positions from one sequence (BLOSUM62)\n"
            "tormid-prf: query2: 6 positions from one sequence (BLOSUM62)\n");
  // tormid-scan reads them back by name, and takes the sources as they are.
  dir.write("db.fa", ">target\nMKVLAAGCPECGKSFMSTNPKPQRK\n");
  const fixtures::RunResult built = run_scan({"--min-score", "5", "--tsv", "built.tsv", "all.prf", "db.fa"}, dir.path());
  const fixtures::RunResult direct =
      run_scan({"--min-score", "5", "--tsv", "direct.tsv", "fams.sto", "q.fa", "db.fa"}, dir.path());
  EXPECT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(direct.status, 0) << direct.err;
  std::set<std::string> names;
  for (auto& row : tsv_rows(fixtures::read_file(dir.path() / "built.tsv"))) names.insert(row["profile"]);
  EXPECT_EQ(names, (std::set<std::string>{"kinase", "zinc", "query1", "query2"}));
  EXPECT_EQ(fixtures::read_file(dir.path() / "built.tsv"), fixtures::read_file(dir.path() / "direct.tsv"));
}

TEST(PrfBuild, RefusalsAndTheirStatus) {
  fixtures::TempDir dir;
  dir.write("a.fa", ">p\nMKV\n");
  dir.write("b.fa", ">p\nWWW\n");
  dir.write("bad.sto", "# STOCKHOLM 1.0\nx ACDE\ny ACD\n//\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {{"build", "out.prf", "a.fa", "b.fa"},
       "tormid-prf: b.fa: a profile named p is already built (from a.fa); each profile needs a name of its own\n", 1},
      {{"build", "out.prf", "bad.sto"},
       "tormid-prf: bad.sto:3: ragged rows: sequence y has 3 columns, sequence x 4\n", 1},
      {{"build", "a.fa", "a.fa"}, "tormid-prf: the output a.fa is the input a.fa: an output may not overwrite an input\n", 2},
      {{"build", "out.prf"}, "tormid-prf: build needs an output file and at least one alignment or sequence file\n", 1},
      {{"build", "--matrix", "out.prf", "a.fa"}, "tormid-prf: unknown option --matrix\n", 1},
  };
  for (const Case& c : cases) {
    const fixtures::RunResult r = run_prf(c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << c.args[1];
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.prf"));
  }
}

// -A aligns each profile's reported domains to its positions: residues in
// upper case, deletions '-', the residues between positions in lower case
// in columns of their own; built again, it gives a profile of the same
// positions.
TEST(ScanAlignmentsOut, StockholmOfTheDomainsAndBackToAProfile) {
  fixtures::TempDir dir;
  dir.write("w.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("db.fa", ">one first\nWWWACDEFGHIKWWW\n>two\nMMACDEFWWGHIKMM\n>three\nPPACDGHIKPP\n");
  const fixtures::RunResult r =
      run_scan({"--quiet", "--open", "1", "--extend", "1", "--min-score", "10", "-A", "hits.sto", "w.prf", "db.fa"},
               dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(dir.path() / "hits.sto"),
            "# STOCKHOLM 1.0\n#=GF ID w\n\n"
            "one/4-12   ACDEF..GHIK\n"
            "two/3-13   ACDEFwwGHIK\n"
            "three/3-9  ACD--..GHIK\n"
            "#=GC RF    xxxxx..xxxx\n"
            "//\n");
  const fixtures::RunResult back = run_prf({"build", "--quiet", "back.prf", "hits.sto"}, dir.path());
  EXPECT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(split(fixtures::read_file(dir.path() / "back.prf"), '\n').front(), "(Peptide) from w Length: 9");
}

// A family planted strong and weak in random proteins, searched from one
// strong member: later rounds find weak members the first does not, the
// rounds stop before the limit once nothing new joins, and one thread or
// two give the same bytes.
TEST(ScanIterations, FindMoreStopAndAreTheSameOnAnyThreads) {
  synthetic::Random rng(40);
  const synthetic::Family strong = synthetic::family(rng, "fam", 120, 0.55);
  std::vector<synthetic::Record> db;
  for (int k = 0; k < 400; ++k) {
    std::string s = synthetic::protein(rng, 100 + rng.below(300));
    if (k % 8 == 0) s.insert(s.size() / 2, synthetic::member(rng, strong));
    db.push_back({fixtures::numbered("seq", k), "", s});
  }
  fixtures::TempDir dir;
  dir.write("db.fa", synthetic::fasta(db));
  dir.write("query.fa", ">query\n" + synthetic::member(rng, strong) + "\n");
  std::string tables[2], reports[2];
  for (const int threads : {1, 2}) {
    const fixtures::RunResult r = run_scan({"--quiet", "--threads", std::to_string(threads), "--iterations", "8",
                                            "--tsv", "it.tsv", "query.fa", "db.fa"},
                                           dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    reports[threads - 1] = r.out;
    tables[threads - 1] = fixtures::read_file(dir.path() / "it.tsv");
  }
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_EQ(tables[0], tables[1]);
  const fixtures::RunResult once = run_scan({"--quiet", "--tsv", "once.tsv", "query.fa", "db.fa"}, dir.path());
  ASSERT_EQ(once.status, 0) << once.err;
  std::set<std::string> first_round;
  for (auto& row : tsv_rows(fixtures::read_file(dir.path() / "once.tsv"))) first_round.insert(row["sequence"]);
  int later = 0, rounds = 0;
  for (auto& row : tsv_rows(tables[0])) {
    const int round = std::stoi(row["round"]);
    rounds = std::max(rounds, round);
    EXPECT_TRUE(round > 1 || first_round.count(row["sequence"])) << row["sequence"];
    later += round > 1;
  }
  EXPECT_GT(later, 0);
  EXPECT_NE(reports[0].find("  rounds:     "), std::string::npos);
  EXPECT_EQ(reports[0].find("  rounds:     8 "), std::string::npos) << "did not stop before the limit";
}

TEST(ScanIterations, OptionsThatDoNotGoTogether) {
  fixtures::TempDir dir;
  dir.write("w.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("db.fa", ">one\nWWWACDEFGHIKWWW\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {{"--iterations", "2", "--per-sequence", "w.prf", "db.fa"},
       "tormid-scan: --iterations rebuilds each profile from the sequences it finds; --per-sequence searches a "
       "library per sequence\n",
       2},
      {{"--iterations", "2", "--resolve-overlaps", "w.prf", "db.fa"},
       "tormid-scan: --iterations reports each profile's own rounds; --resolve-overlaps sets profiles against each "
       "other\n",
       2},
      {{"--iterations", "2", "w.prf", "-"},
       "tormid-scan: --iterations reads the sequence file once a round, and - is not a regular file that can be "
       "read again\n",
       2},
      {{"--iterations", "2", "--mode", "global", "w.prf", "db.fa"},
       "tormid-scan: --iterations includes domains by their E-values, and global mode has none\n", 1},
      {{"--iterations", "0", "w.prf", "db.fa"},
       "--iterations: must be a whole number from 1 to 1000, not 0\nRun with --help for more information.\n", 2},
  };
  for (const Case& c : cases) {
    const fixtures::RunResult r = run_scan(c.args, dir.path());
    EXPECT_EQ(r.status, c.status) << c.args[2];
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
