// The programs' output files: which outputs would overwrite an input or
// each other (regular files by device and inode, through links; devices
// and pipes may take several), what can be written at all, and that a
// file being written leaves nothing behind when a signal ends the program.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output/output.h"
#include "support/fixtures.h"

namespace {

using namespace tormid;
namespace fs = std::filesystem;

TEST(SameFile, OutputsThatWouldOverwriteAnInputOrEachOther) {
  fixtures::TempDir dir;
  const auto at = [&](const std::string& name) { return (dir.path() / name).string(); };
  dir.write("db.fa", ">a\nMKV\n");
  dir.write("m.hmm", "HMMER3/f\n");
  fs::create_symlink(at("db.fa"), at("link.fa"));
  fs::create_hard_link(at("m.hmm"), at("hard.hmm"));
  fs::create_directory(at("sub"));
  const std::vector<NamedPath> inputs = {{"the profile file", at("m.hmm")}, {"the sequence file", at("db.fa")}};
  struct Case {
    std::vector<NamedPath> outputs;
    std::string clash;  // empty: none
  };
  const Case cases[] = {
      {{{"--tsv", at("new.tsv")}, {"--tblout", at("new.tbl")}}, ""},
      {{{"--tsv", at("db.fa")}}, "--tsv " + at("db.fa") + " is the sequence file " + at("db.fa")},
      {{{"--tsv", at("link.fa")}}, "--tsv " + at("link.fa") + " is the sequence file " + at("db.fa")},
      {{{"--tblout", at("hard.hmm")}}, "--tblout " + at("hard.hmm") + " is the profile file " + at("m.hmm")},
      {{{"--tblout", at("x.tbl")}, {"--domtblout", at("sub/../x.tbl")}},
       "--domtblout " + at("sub/../x.tbl") + " and --tblout " + at("x.tbl") + " are the same file"},
      {{{"--tblout", "/dev/null"}, {"--domtblout", "/dev/null"}}, ""},
      {{{"--tblout", "-"}, {"--tsv", "-"}}, "--tsv - and --tblout - are the same file"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> clash = same_file(inputs, c.outputs);
    if (c.clash.empty()) {
      EXPECT_FALSE(clash) << *clash;
    } else {
      ASSERT_TRUE(clash) << c.clash;
      EXPECT_EQ(clash->rfind(c.clash, 0), 0u) << *clash;
    }
  }
  // Standard input is no file: "-" in and "-" out is no clash.
  EXPECT_FALSE(same_file({{"the sequence file", "-"}}, {{"--tsv", "-"}}));
}

TEST(CheckWritable, RefusesWhatCannotBeWrittenBeforeAnyWork) {
  fixtures::TempDir dir;
  const auto at = [&](const std::string& name) { return (dir.path() / name).string(); };
  fs::create_directory(at("folder"));
  for (const std::string& bad : {at("folder"), at("missing/x.tbl")})
    EXPECT_THROW(check_writable(bad), OutputError) << bad;
  check_writable(at("new.tbl"));
  check_writable("-");
  // A device: a private null device where this user may make one.
  if (::mknod(at("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) check_writable(at("null"));
  // A read-only file system stops even root.
  fs::create_directory(at("ro"));
  if (::mount("tmpfs", at("ro").c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
    GTEST_SKIP() << "no mount here: the read-only case needs a tmpfs";
  try {
    check_writable(at("ro/x.tbl"));
    ADD_FAILURE() << "a read-only file system was taken as writable";
  } catch (const OutputError& e) {
    EXPECT_EQ(std::string(e.what()), at("ro/x.tbl") + ": cannot write (Read-only file system)");
  }
  ::umount(at("ro").c_str());
}

// A child writes a file and is ended by a signal before it commits: the
// temporary beside the file (hidden, named partial) goes, the file stays
// as it was. SIGKILL cannot be caught; its leftover is at least named so.
TEST(OutputFile, ASignalLeavesNoTemporaryBehind) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    fixtures::TempDir dir;
    const std::string path = (dir.path() / "x.tbl").string();
    dir.write("x.tbl", "before\n");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      remove_temporaries_on_signals();
      OutputFile file(path);
      file.write("after\n");
      ::raise(signal_number);
      ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"x.tbl"});
    EXPECT_EQ(fixtures::read_file(path), "before\n");
  }
  fixtures::TempDir dir;
  const std::string path = (dir.path() / "k.tlib").string();
  OutputFile file(path);
  file.write("TORMID-LIBRARY\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].rfind(".k.tlib.partial.", 0), 0u) << names[0];
}

}  // namespace
