// tormid-scan with what careless or hostile users give it: tables sent to
// devices, links and pipes; databases and profiles from pipes; control
// bytes in names; a closed standard output; ties; settings that would make
// E-values meaningless. And the report and the table say the same.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "search/search.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;
using fixtures::run_scan;
using fixtures::split;
namespace fs = std::filesystem;
using fixtures::shell_quote;

// A word profile and a small database with a few hits.
class ScanFiles : public testing::Test {
 protected:
  void SetUp() override {
    dir_.write("w.prf", fixtures::word_profile("ACDEFGHIK"));
    dir_.write("db.fa", ">one first\nWWWACDEFGHIKWWWWACDQFGHIKWW\n>two\nMMMMACDEFGHIK\n>none\nWWWWWWWW\n");
    const fixtures::RunResult r = run_scan({"--quiet", "--tsv", "reference.tsv", "w.prf", "db.fa"}, path());
    ASSERT_EQ(r.status, 0) << r.err;
    report_ = r.out;
    table_ = fixtures::read_file(path() / "reference.tsv");
    ASSERT_GT(split(table_, '\n').size(), 2u);
  }
  const fs::path& path() const { return dir_.path(); }
  fixtures::RunResult shell(const std::string& command) const { return fixtures::run_shell(command, path()); }
  static std::string scan() { return shell_quote(TORMID_SCAN_BINARY); }

  fixtures::TempDir dir_;
  std::string report_, table_;
};

TEST_F(ScanFiles, TableFollowsLinksAndKeepsWhatIsThere) {
  // A link to standard output: the table follows the report there.
  fs::create_symlink("/proc/self/fd/1", path() / "stdout");
  fixtures::RunResult r = run_scan({"--quiet", "--tsv", "stdout", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, report_ + table_);
  EXPECT_TRUE(fs::is_symlink(path() / "stdout"));
  // A link to a private file: the file gets the table and keeps its mode.
  dir_.write("target.tsv", "old");
  fs::permissions(path() / "target.tsv", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("target.tsv", path() / "link.tsv");
  r = run_scan({"--quiet", "--tsv", "link.tsv", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(path() / "link.tsv"));
  EXPECT_EQ(fixtures::read_file(path() / "target.tsv"), table_);
  EXPECT_EQ(fs::status(path() / "target.tsv").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // A link to a file yet to be made: the file is made, the link stays.
  fs::create_symlink("new.tsv", path() / "dangling.tsv");
  r = run_scan({"--quiet", "--tsv", "dangling.tsv", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(path() / "dangling.tsv"));
  EXPECT_EQ(fixtures::read_file(path() / "new.tsv"), table_);
  // A file with two names: both see the table.
  dir_.write("a.tsv", "old");
  fs::create_hard_link(path() / "a.tsv", path() / "b.tsv");
  r = run_scan({"--quiet", "--tsv", "a.tsv", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(path() / "b.tsv"), table_);
  // A named pipe: its reader gets the table.
  ASSERT_EQ(::mkfifo((path() / "pipe").c_str(), 0600), 0);
  r = shell("timeout 10 cat pipe > got & timeout 10 " + scan() + " --quiet --tsv pipe w.prf db.fa; status=$?; wait; exit $status");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(path() / "got"), table_);
}

// Private device nodes (root only): a full device is a write error, and
// neither node is replaced by a file.
TEST_F(ScanFiles, TableToDevicesIsWrittenInPlace) {
  if (::mknod((path() / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
      ::mknod((path() / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "device nodes cannot be made here (root with CAP_MKNOD can)";
  fixtures::RunResult r = run_scan({"--quiet", "--tsv", "full", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tormid-scan: full: cannot write (No space left on device)\n");
  EXPECT_TRUE(fs::is_character_file(path() / "full"));
  r = run_scan({"--quiet", "--tsv", "null", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_character_file(path() / "null"));
}

// Databases and profiles from pipes are read once: the same table as from
// files, and no waiting on a second open.
TEST_F(ScanFiles, PipesAreReadOnce) {
  fixtures::RunResult r = shell("exec bash -c " + shell_quote("exec " + scan() + " --quiet --tsv t.tsv w.prf <(cat db.fa)"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(path() / "t.tsv"), table_);
  ASSERT_EQ(::mkfifo((path() / "db.pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((path() / "w.pipe").c_str(), 0600), 0);
  // The writers open the pipes inside timeout: a reader that never comes
  // fails the test instead of hanging it.
  r = shell("timeout 10 sh -c 'cat db.fa > db.pipe' & timeout 10 sh -c 'cat w.prf > w.pipe' & timeout 10 " + scan() +
            " --quiet --tsv f.tsv w.pipe db.pipe; status=$?; wait; exit $status");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(path() / "f.tsv"), table_);
  r = shell("exec " + scan() + " --quiet --tsv s.tsv - db.fa < w.prf");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(split(fixtures::read_file(path() / "s.tsv"), '\n').size(), split(table_, '\n').size());
}

// With nowhere to put the report (standard output closed, or a reader
// that stopped reading, as head does), the tables that are files are still
// written and the run fails saying so; "-" is standard output.
TEST_F(ScanFiles, AStandardOutputThatIsGoneStillLeavesTheTables) {
  fixtures::RunResult r = shell("exec " + scan() + " --quiet --tsv t.tsv w.prf db.fa >&-");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tormid-scan: cannot write the standard output (Bad file descriptor); the tables were written\n");
  EXPECT_EQ(fixtures::read_file(path() / "t.tsv"), table_);
  // A report larger than a pipe holds, read one line of.
  std::string big;
  for (int k = 0; k < 3000; ++k) big += ">s" + std::to_string(k) + "\nWWACDEFGHIKWW\n";
  dir_.write("big.fa", big);
  r = shell("exec bash -c " + shell_quote("set -o pipefail; " + scan() + " --quiet --tsv p.tsv w.prf big.fa | head -1"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "# tormid-scan " TORMID_VERSION_STRING "\n");
  EXPECT_EQ(r.err, "tormid-scan: cannot write the standard output (Broken pipe); the tables were written\n");
  EXPECT_EQ(split(fixtures::read_file(path() / "p.tsv"), '\n').size(), 3001u);
  r = run_scan({"--quiet", "--tsv", "-", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, report_ + table_);
  EXPECT_FALSE(fs::exists(path() / "-"));
}

// An output that is an input, or another output (through links, hard
// links too), is refused before any work with both named, exit status 2,
// and every file is left as it was; tormid-prf press alike.
TEST_F(ScanFiles, OutputsNeverOverwriteInputs) {
  fs::create_symlink("db.fa", path() / "link.fa");
  fs::create_hard_link(path() / "w.prf", path() / "hard.prf");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--tsv", "db.fa", "w.prf", "db.fa"},
       "tormid-scan: --tsv db.fa is the sequence file db.fa: an output may not overwrite an input\n"},
      {{"--tblout", "link.fa", "w.prf", "db.fa"},
       "tormid-scan: --tblout link.fa is the sequence file db.fa: an output may not overwrite an input\n"},
      {{"--domtblout", "hard.prf", "w.prf", "db.fa"},
       "tormid-scan: --domtblout hard.prf is the profile file w.prf: an output may not overwrite an input\n"},
      {{"--tblout", "same.txt", "--domtblout", "same.txt", "w.prf", "db.fa"},
       "tormid-scan: --domtblout same.txt and --tblout same.txt are the same file: each output needs a file of its "
       "own\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const fixtures::RunResult r = run_scan(args, path());
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(fixtures::read_file(path() / "db.fa"),
            ">one first\nWWWACDEFGHIKWWWWACDQFGHIKWW\n>two\nMMMMACDEFGHIK\n>none\nWWWWWWWW\n");
  EXPECT_EQ(fixtures::read_file(path() / "w.prf"), fixtures::word_profile("ACDEFGHIK"));
  EXPECT_FALSE(fs::exists(path() / "same.txt"));
  const fixtures::RunResult press = fixtures::run_prf({"press", "--quiet", "hard.prf", "w.prf"}, path());
  EXPECT_EQ(press.status, 2);
  EXPECT_EQ(press.err, "tormid-prf: the output hard.prf is the profile file w.prf: an output may not overwrite an input\n");
  EXPECT_EQ(fixtures::read_file(path() / "w.prf"), fixtures::word_profile("ACDEFGHIK"));
}

// tormid-prf press writes as the tables are written: through links to the
// file itself, in place to pipes, devices and standard output, keeping a
// file's mode.
TEST_F(ScanFiles, PressWritesAsTheTablesDo) {
  const auto press = [&](const std::string& output) {
    return fixtures::run_prf({"press", "--quiet", output, "w.prf"}, path());
  };
  ASSERT_EQ(press("plain.tlib").status, 0);
  const std::string library = fixtures::read_file(path() / "plain.tlib");
  dir_.write("target.tlib", "old");
  fs::permissions(path() / "target.tlib", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_symlink("target.tlib", path() / "link.tlib");
  fixtures::RunResult r = press("link.tlib");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(path() / "link.tlib"));
  EXPECT_EQ(fixtures::read_file(path() / "target.tlib"), library);
  EXPECT_EQ(fs::status(path() / "target.tlib").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ASSERT_EQ(::mkfifo((path() / "pipe").c_str(), 0600), 0);
  fs::create_symlink("pipe", path() / "pipe.tlib");
  r = shell("timeout 10 cat pipe > got & timeout 10 " + shell_quote(TORMID_PRF_BINARY) +
            " press --quiet pipe.tlib w.prf; status=$?; wait; exit $status");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(path() / "got"), library);
  EXPECT_TRUE(fs::is_fifo(path() / "pipe"));
  // Standard output by a name, as /dev/stdout is one: a private link.
  fs::create_symlink("/proc/self/fd/1", path() / "stdout");
  for (const std::string output : {"stdout", "-"}) {
    r = shell(shell_quote(TORMID_PRF_BINARY) + " press --quiet " + output + " w.prf | cat > piped");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fixtures::read_file(path() / "piped"), library) << output;
  }
  for (const auto& entry : fs::directory_iterator(path()))
    EXPECT_EQ(entry.path().filename().string().find("partial"), std::string::npos) << entry.path();
}

// Under an address-space limit that leaves no room for a second thread, a
// run ends with a message and status 1, never an abort; with one thread
// it runs or says it is out of memory.
TEST_F(ScanFiles, AMemoryLimitIsAMessageNotACrash) {
  if (fixtures::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's shadow memory needs more than the limit";
  int refused = 0;
  for (const std::string threads : {"1", "2"})
    for (const std::string limit : {"20000", "30000"}) {
      const std::string under = "ulimit -v " + limit + "; exec ";
      const fixtures::RunResult scanned = shell(under + scan() + " --quiet --threads " + threads + " w.prf db.fa");
      const fixtures::RunResult pressed =
          shell(under + shell_quote(TORMID_PRF_BINARY) + " press --quiet --threads " + threads + " x.tlib w.prf");
      for (const auto& [r, program] : {std::pair{&scanned, "tormid-scan: out of "}, {&pressed, "tormid-prf: out of "}}) {
        EXPECT_TRUE(r->status == 0 || (r->status == 1 && r->err.rfind(program, 0) == 0))
            << threads << " threads, " << limit << " KiB: " << r->status << " " << r->err;
        refused += r->status == 1;
      }
    }
  EXPECT_GT(refused, 0);
}

// Options that are accepted, some with a word on standard error.
TEST_F(ScanFiles, AcceptedOptionsAndTheirNotes) {
  fixtures::RunResult r = run_scan({"--quiet", "-E", "1e-400", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("hits:       0 domains"), std::string::npos);
  r = run_scan({"--quiet", "--mode", "global", "-E", "1", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "tormid-scan: -E has no effect in global mode, which has no E-values; --min-score sets the "
                   "threshold\n");
  r = run_scan({"--quiet", "--threads", "100000", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind("tormid-scan: --threads 100000 is more than 4 per core", 0), 0u) << r.err;
  dir_.write("g.par", fixtures::params(11, 1, {"PRF_FREE_BEG", "PRF_FREE_END"}));
  ASSERT_EQ(shell("gzip -k g.par").status, 0);
  r = run_scan({"--quiet", "--params", "g.par.gz", "--tsv", "z.tsv", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  r = run_scan({"--quiet", "--mode", "glocal", "--tsv", "glocal.tsv", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fixtures::read_file(path() / "z.tsv"), fixtures::read_file(path() / "glocal.tsv"));
}

// Control bytes from names and headers: the table keeps its columns, the
// report shows them escaped.
TEST_F(ScanFiles, ControlBytesNeitherBreakRowsNorReachTheTerminal) {
  dir_.write("w\tx.prf", fixtures::word_profile("ACDEFGHIK"));
  dir_.write("odd.fa", ">a\x1b[31mred\rback\tand\x01 more\nACDEFGHIK\n");
  const fixtures::RunResult r = run_scan({"--quiet", "--tsv", "t.tsv", "w\tx.prf", "odd.fa"}, path());
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& row : split(fixtures::read_file(path() / "t.tsv"), '\n')) {
    EXPECT_EQ(split(row, '\t').size(), 17u) << row;
    for (const char c : row) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\t') << row;
  }
  for (const char c : r.out) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n');
  EXPECT_NE(r.out.find(" a\\x1b[31mred "), std::string::npos) << r.out;         // the name ends at the CR
  EXPECT_NE(r.out.find(" back\\x09and\\x01 more"), std::string::npos) << r.out;  // the description
  EXPECT_NE(r.out.find("Profile w\\x09x "), std::string::npos) << r.out;
}

// What the report makes readable: a nucleotide file is searched with a
// warning; a long name leaves the description its room.
TEST_F(ScanFiles, NucleotidesAreWarnedOfAndDescriptionsKeepTheirRoom) {
  dir_.write("dna.fa", ">chr1 a genome\nACGTTGCAACGTNNACGTTTGACGGCATACGATTACGACGATCAGC\n>chr2\nACGUACGUACGGACDEFGHIK\n");
  fixtures::RunResult r = run_scan({"--quiet", "w.prf", "dna.fa"}, path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "tormid-scan: warning: dna.fa looks like nucleotide sequences (91% of its residues are A, C, G, "
                   "T, U or N); tormid-scan compares protein sequences\n");
  r = run_scan({"--quiet", "w.prf", "db.fa"}, path());
  EXPECT_EQ(r.err, "");
  const std::string name(60, 'n'), description = "mitogen-activated protein kinase kinase kinase 7";
  dir_.write("long.fa", ">" + name + " " + description + "\nWWWACDEFGHIKWW\n");
  r = run_scan({"--quiet", "w.prf", "long.fa"}, path());
  EXPECT_NE(r.out.find("  mitogen-activated protein kinase kinas..\n"), std::string::npos) << r.out;
}

// Equal scores: in input order of the records, then along each record.
TEST_F(ScanFiles, TiesAreInInputOrder) {
  const std::string copies = "WWWACDEFGHIKWWWWACDEFGHIKWW\n";
  dir_.write("ties.fa", ">c\n" + copies + ">a\n" + copies + ">b\n" + copies);
  const fixtures::RunResult r = run_scan({"--quiet", "--mode", "glocal", "--tsv", "t.tsv", "w.prf", "ties.fa"}, path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> order;
  for (const std::string& row : split(fixtures::read_file(path() / "t.tsv"), '\n'))
    if (row[0] != '#') order.push_back(split(row, '\t')[1] + "/" + split(row, '\t')[9]);
  EXPECT_EQ(order, (std::vector<std::string>{"c/4", "c/17", "a/4", "a/17", "b/4", "b/17"}));
}

// A local alignment that gains nothing is no domain: of a one-position
// profile scoring 5 for W and 0 for A, only the W is.
TEST_F(ScanFiles, LocalDomainsScoreAboveZero) {
  std::array<double, 20> row;
  row.fill(-1);
  row[static_cast<std::size_t>(getIndex('W'))] = 5;
  row[static_cast<std::size_t>(getIndex('A'))] = 0;
  dir_.write("one.prf", fixtures::rows_profile({row}));
  const fixtures::RunResult r =
      run_scan({"--quiet", "--mode", "local", "-E", "1e300", "--tsv", "t.tsv", "one.prf", "db.fa"}, path());
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> scores;
  for (const std::string& line : split(fixtures::read_file(path() / "t.tsv"), '\n'))
    if (line[0] != '#') scores.push_back(split(line, '\t')[5]);
  EXPECT_FALSE(scores.empty());
  for (const std::string& score : scores) EXPECT_EQ(score, "5.000");
}

// Every row of the table is a row of the report, in the same order, with
// the same values.
TEST(ScanReport, TableRowsAreTheReportsRows) {
  synthetic::Random rng(31);
  std::vector<synthetic::Family> families;
  fixtures::TempDir dir;
  std::vector<std::string> args = {"--quiet", "--mode", "local", "--tsv", "t.tsv"};
  for (int k = 0; k < 3; ++k) {
    families.push_back(synthetic::family(rng, fixtures::numbered("fam", k), 40 + 20 * k));
    args.push_back(dir.write(fixtures::numbered("fam", k) + ".prf", synthetic::profile_text(families.back().profile)));
  }
  args.push_back(dir.write("db.fa", synthetic::fasta(synthetic::planted_records(rng, families, 300))));
  const fixtures::RunResult r = run_scan(args, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // Report rows: score, E-value, sequence, length, domain k/n, residues,
  // positions, under each profile's column header.
  std::vector<std::string> from_report, from_table;
  std::string profile;
  for (const std::string& line : split(r.out, '\n')) {
    if (line.rfind("Profile ", 0) == 0) {
      profile = split(line, ' ')[1];
      continue;
    }
    std::istringstream words(line);
    std::string score, evalue, name, length, domain, residues, positions;
    if (!(words >> score >> evalue >> name >> length >> domain >> residues >> positions) || score == "score" ||
        domain.find('/') == std::string::npos)
      continue;
    from_report.push_back(profile + " " + score + " " + evalue + " " + name + " " + length + " " + domain + " " +
                          residues + " " + positions);
  }
  for (const std::string& row : split(fixtures::read_file(dir.path() / "t.tsv"), '\n')) {
    if (row[0] == '#') continue;
    const std::vector<std::string> f = split(row, '\t');
    from_table.push_back(f[0] + " " + f[5] + " " + f[6] + " " + f[1] + " " + f[2] + " " + f[3] + "/" + f[4] + " " +
                         f[9] + "-" + f[10] + " " + f[11] + "-" + f[12]);
  }
  EXPECT_GT(from_table.size(), 30u);
  EXPECT_EQ(from_report, from_table);
}

// One label per sequence, however many domains it has: a long description
// is held once.
TEST(SearchLibrary, HitsOfASequenceShareItsLabel) {
  std::string sequence;
  for (int k = 0; k < 20; ++k) sequence += "WWWWWWACDEFGHIK";
  std::vector<ProfileRow> rows(9);
  for (int k = 0; k < 9; ++k) {
    rows[static_cast<std::size_t>(k)].fill(-1);
    rows[static_cast<std::size_t>(k)][static_cast<std::size_t>(getIndex("ACDEFGHIK"[k]))] = 5;
  }
  const std::vector<Profile> profiles = {Profile(rows, "w")};
  SearchConfig config;
  config.max_evalue = 1e300;
  config.threads = 1;
  const SearchResult result =
      search(profiles, config, SequenceSource::records({{"long", sequence, std::string(1 << 20, 'd')}}));
  ASSERT_GE(result.hits.size(), 20u);
  for (const Hit& h : result.hits) EXPECT_EQ(h.sequence.get(), result.hits.front().sequence.get());
}

}  // namespace
