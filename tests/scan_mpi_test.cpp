// tormid-scan over MPI: mpirun with 2 and 3 processes gives the output of
// one process, byte for byte; a process that fails ends the job with one
// message from process 0 and no table. Built with TORMID_MPI only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;
using fixtures::numbered;

// mpirun as the test machine allows it: more processes than cores, and as
// root where the tests run as root.
std::string mpirun(int processes) {
  std::string command = "mpirun --oversubscribe -np ";
  command += std::to_string(processes);
  if (::geteuid() == 0) command += " --allow-run-as-root";
  return command;
}

std::string scan_command(const std::vector<std::string>& args) {
  std::string command = fixtures::shell_quote(TORMID_SCAN_BINARY);
  for (const std::string& a : args) command.append(" ").append(fixtures::shell_quote(a));
  return command;
}

class MpiScan : public testing::Test {
 protected:
  void SetUp() override {
    synthetic::Random rng(2027);
    std::vector<std::string> profiles;
    std::vector<synthetic::Family> families;
    for (int k = 0; k < 4; ++k) {
      families.push_back(synthetic::family(rng, numbered("fam", k), 40 + 40 * k));
      std::string name = numbered("fam", k);
      name += ".prf";
      profiles.push_back(dir.write(name, synthetic::profile_text(families.back().profile)));
    }
    std::vector<synthetic::Record> db;
    for (int k = 0; k < 1500; ++k) {
      std::string seq = synthetic::protein(rng, synthetic::protein_length(rng) / 3);
      if (k % 9 == 0) seq.insert(seq.size() / 2, synthetic::member(rng, families[static_cast<std::size_t>(k % 4)]));
      db.push_back({numbered("seq", k), k % 3 ? "generated" : "", k % 97 ? seq : ""});
    }
    std::string text = "\n\n";  // blank lines before the first header
    text += synthetic::fasta(db);
    dir.write("db.fa", text);
    files = {"fam0.prf", "fam1.prf", "fam2.prf", "fam3.prf", "db.fa"};
  }

  fixtures::RunResult scan(const std::string& launcher, std::vector<std::string> args) {
    args.insert(args.end(), files.begin(), files.end());
    std::string command = launcher.empty() ? std::string("exec") : launcher;
    command += " ";
    command += scan_command(args);
    return fixtures::run_shell(command, dir.path());
  }

  fixtures::TempDir dir;
  std::vector<std::string> files;
};

TEST_F(MpiScan, SameOutputAsOneProcess) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--quiet"}, {"--quiet", "--mode", "local", "--alignments", "-E", "100"},
        {"--quiet", "--max-domains", "1", "--bits", "--mode", "local"},
        {"--quiet", "--iterations", "3", "-A", "hits.sto"}}) {
    std::vector<std::string> with_table = options;
    with_table.insert(with_table.end(), {"--tsv", "one.tsv"});
    const fixtures::RunResult one = scan("", with_table);
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string table = fixtures::read_file(dir.path() / "one.tsv");
    const std::filesystem::path stockholm = dir.path() / "hits.sto";
    const std::string alignments = std::filesystem::exists(stockholm) ? fixtures::read_file(stockholm) : "";
    ASSERT_NE(one.out.find("1,484 searched"), std::string::npos) << one.out;
    for (const int processes : {2, 3}) {
      with_table.back() = "many.tsv";
      const fixtures::RunResult many = scan(mpirun(processes), with_table);
      EXPECT_EQ(many.status, 0) << many.err;
      EXPECT_EQ(many.out, one.out) << processes << " processes";
      EXPECT_EQ(fixtures::read_file(dir.path() / "many.tsv"), table) << processes << " processes";
      EXPECT_EQ(fixtures::read_file(dir.path() / "hits.sto"), alignments) << processes << " processes";
    }
  }
}

// Process 1 is given a database it cannot open (as on a node without the
// shared file system): one message, from process 0, a failed job, no table.
TEST_F(MpiScan, AFailingProcessEndsTheJobWithOneMessage) {
  std::vector<std::string> good = {"--quiet", "--tsv", "t.tsv", "fam0.prf", "db.fa"};
  std::vector<std::string> bad = {"--quiet", "--tsv", "t.tsv", "fam0.prf", "missing.fa"};
  std::string command = mpirun(1);
  command.append(" ").append(scan_command(good)).append(" : -np 1 ").append(scan_command(bad));
  const fixtures::RunResult r = fixtures::run_shell(command, dir.path());
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  const std::string message = "tormid-scan: rank 1: missing.fa: cannot open (No such file or directory)\n";
  EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("tormid-scan:"), r.err.rfind("tormid-scan:")) << "more than one message: " << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "t.tsv"));
}

TEST_F(MpiScan, CompressedDatabaseIsRefusedWithTheReason) {
  std::string gzip = "gzip -k ";
  gzip += fixtures::shell_quote((dir.path() / "db.fa").string());
  ASSERT_EQ(std::system(gzip.c_str()), 0);
  files.back() = "db.fa.gz";
  const fixtures::RunResult r = scan(mpirun(2), {"--quiet"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("tormid-scan: rank 0: db.fa.gz: gzip-compressed: an MPI search reads the database in byte "
                       "ranges on every process, which compressed data does not allow; decompress it first"),
            std::string::npos)
      << r.err;
}

}  // namespace
