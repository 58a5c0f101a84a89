// End-to-end tour of inputs that pipelines produce by accident: empty and
// binary files, directories, /dev/null, NUL bytes, invalid UTF-8, missing
// final newlines, odd numbers, non-finite values and very large files. Each
// gets its exact message or result; none may crash (the sanitizer build runs
// the same table).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

using fixtures::params;
using fixtures::word_profile;

struct TourCase {
  const char* name;
  std::string fasta;
  std::string profile;
  std::string params;
  std::vector<std::string> args;  // empty: s.fa p.prf g.par
  std::string out;
  std::string err;
  int status;
};

void PrintTo(const TourCase& c, std::ostream* os) { *os << c.name; }

const std::string kFasta = ">s\nACDEFGHIK\n";
const std::string kWord = word_profile("ACDEFGHIK");
const std::string kGlobal = params(10, 1);
const std::string kGlocal = params(10, 1, {"PRF_FREE_BEG", "PRF_FREE_END"}, true);
const std::string kBadProfile = "\ncan't process profile file\n";
const std::string kBadParams = "\ncan't process parameters file\n";
const std::string kNoSequence = "\ncan't find fasta sequence in argv[1]\n";

std::string result(const char* score, const std::string& name = "s") {
  return "Seq: " + name + "  Profile: p.prf   Score: " + score + "\n";
}

std::string one_position(const std::string& scores) {
  return "(Peptide) p p Length: 1\nCons\nQ " + scores + "\n";
}

std::string without_final_newline(std::string text) {
  text.pop_back();
  return text;
}

std::string many_lines(const std::string& line, int count) {
  std::string text;
  text.reserve(line.size() * count);
  for (int k = 0; k < count; ++k) text += line;
  return text;
}

std::string not_finite(int position) {
  return "\nprofile file p.prf: position " + std::to_string(position) +
         " has a score that is not a finite number\n" + kBadProfile;
}

std::string penalty_not_finite(const std::string& key) {
  return "\nparameters file g.par: " + key + " is not a finite number\n" + kBadParams;
}

// n positions whose twenty scores are all `score`.
std::string uniform_profile(int n, const std::string& score) {
  std::string text = "(Peptide) p p Length: " + std::to_string(n) + "\nCons\n";
  for (int k = 0; k < n; ++k) {
    text += "A";
    for (int c = 0; c < 20; ++c) text += " " + score;
    text += "\n";
  }
  return text;
}

std::string formatted_score(double score) {
  std::vector<char> text(400);
  std::snprintf(text.data(), text.size(), "%8.3lf", score);
  return text.data();
}

const std::string kOverflow = "\nscore overflow: profile scores or penalties are too large\n";

std::string params_with(const std::string& key, const std::string& value) {
  std::string text = kGlobal;
  const std::size_t at = text.find(key) + key.size() + 1;
  return text.replace(at, text.find('\n', at) - at, value);
}

// One line of a million residues with ACDEFGHIK in its middle.
const std::string kMillionLeft(500000, 'W');
const std::string kMillionRight(1000000 - 500009, 'W');
const std::string kMillion = kMillionLeft + "ACDEFGHIK" + kMillionRight;

const std::vector<TourCase>& tour() {
  static const std::vector<TourCase> cases = {
      {"EmptyFasta", "", kWord, kGlobal, {}, "", kNoSequence, 1},
      {"EmptyProfile", kFasta, "", kGlobal, {}, "",
       "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
      {"EmptyParams", kFasta, kWord, "", {}, "", kBadParams, 1},
      {"DirectoryAsFasta", kFasta, kWord, kGlobal, {".", "p.prf", "g.par"}, "", "\ncan't open .", 1},
      {"DirectoryAsProfile", kFasta, kWord, kGlobal, {"s.fa", ".", "g.par"}, "\ncan't open .",
       kBadProfile, 1},
      {"DirectoryAsParams", kFasta, kWord, kGlobal, {"s.fa", "p.prf", "."}, "\ncan't open .",
       kBadParams, 1},
      {"DevNullFasta", kFasta, kWord, kGlobal, {"/dev/null", "p.prf", "g.par"}, "", kNoSequence, 1},
      {"DevNullProfile", kFasta, kWord, kGlobal, {"s.fa", "/dev/null", "g.par"}, "",
       "\ncan't recognize profile file in /dev/null" + kBadProfile, 1},
      {"DevNullParams", kFasta, kWord, kGlobal, {"s.fa", "p.prf", "/dev/null"}, "", kBadParams, 1},
      {"BinaryProfile", kFasta, std::string("\x7f" "ELF\x02\x01\x01\0\0\0\n\xff\xfe", 13), kGlobal,
       {}, "", "\ncan't recognize profile file in p.prf" + kBadProfile, 1},

      {"NulInProfileHeader", kFasta, std::string("(Peptide)\0 p p Length: 9\n", 26) + kWord,
       kGlobal, {}, "", "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
      {"NulEndsPositionLine", ">s\nR\n", one_position(std::string("5 \0 9", 5)), kGlobal, {},
       result("   0.000"), "", 0},
      {"NulEndsParamLine", ">s\nWWACDEFGHIK\n", kWord,
       params_with("PRF_FREE_BEG", std::string("\0YES", 4)), {}, result("  33.000"), "", 0},
      {"InvalidUtf8InName", ">s\xff\xfe x\nAC\xff" "DEFGHIK\n", kWord, kGlobal, {},
       result("  45.000", "s\xff\xfe"), "", 0},
      {"InvalidUtf8InProfileWords", kFasta,
       "(Peptide) \xff\xfe p Length: 9" + kWord.substr(kWord.find('\n')), kGlobal, {},
       result("  45.000"), "", 0},
      {"InvalidUtf8InParams", kFasta, kWord, "\xff\xfe\xfd comment\n" + kGlobal, {},
       result("  45.000"), "", 0},
      {"NoFinalNewlines", without_final_newline(kFasta), without_final_newline(kWord),
       without_final_newline(kGlobal), {}, result("  45.000"), "", 0},

      // Number scanning stops at the first character that cannot continue a
      // number; later scores on that line stay 0.
      {"ScoreGluedText", ">s\nA\n", one_position("1.5abc 4"), kGlobal, {}, result("   1.500"), "",
       0},
      {"ScoreDotAlone", ">s\nR\n", one_position(". 4"), kGlobal, {}, result("   0.000"), "", 0},
      {"ScoreMinusAlone", ">s\nR\n", one_position("- 4"), kGlobal, {}, result("   0.000"), "", 0},
      {"ScoreTwoSigns", ">s\nR\n", one_position("+-1 4"), kGlobal, {}, result("   0.000"), "", 0},

      {"ScoreInf", kFasta, one_position("1 inf"), kGlobal, {}, "", not_finite(1), 1},
      {"ScoreNan", kFasta, one_position("nan"), kGlobal, {}, "", not_finite(1), 1},
      {"ScoreOverflows", kFasta, one_position("1 2 1e999"), kGlobal, {}, "", not_finite(1), 1},
      {"ScoreMinusInfinity", kFasta, "(Peptide) p p Length: 3\nCons\nA 1\nC -infinity\nD 2\n",
       kGlobal, {}, "", not_finite(2), 1},
      {"NotFiniteBeforeShortage", kFasta, "(Peptide) p p Length: 5\nCons\nA 1\nC nan\n", kGlobal,
       {}, "", not_finite(2), 1},
      {"PenaltyInf", kFasta, kWord, params_with("SEQ_GAP_OPEN_PENALTY", "inf"), {}, "",
       penalty_not_finite("SEQ_GAP_OPEN_PENALTY"), 1},
      {"PenaltyNan", kFasta, kWord, params_with("PRF_DELETION_PENALTY", "nan"), {}, "",
       penalty_not_finite("PRF_DELETION_PENALTY"), 1},
      {"PenaltyOverflows", kFasta, kWord, params_with("PRF_GAP_OPEN_PENALTY", "-1e999"), {}, "",
       penalty_not_finite("PRF_GAP_OPEN_PENALTY"), 1},

      {"PenaltyKeyEndsFile", kFasta, kWord, kGlobal + "PRF_GAP_OPEN_PENALTY", {}, "", kBadParams,
       1},
      {"ParamsHundredThousandLines", kFasta, kWord,
       many_lines("# a comment line\n", 100000 - 9) + kGlobal, {}, result("  45.000"), "", 0},
      {"ParamsHundredThousandKeyLines", kFasta, kWord, many_lines("SHOW_ALIGNMENT NO\n", 100000),
       {}, "", kBadParams, 1},
      // Finite inputs whose sums leave the doubles: no result line.
      {"ScoresAddUpToInfinity", ">s\nAAAA\n", uniform_profile(4, "1e308"), kGlocal, {}, "", kOverflow, 1},
      {"PenaltiesAddUpToMinusInfinity", ">s\nACDEFGHIKW\n", kWord, params(1e308, 1e308), {}, "",
       kOverflow, 1},
      {"BonusesAddUpToInfinity", ">s\nACDEFGHIKW\n", kWord, params(-1e308, -1e308), {}, "", kOverflow,
       1},
      {"LargeButFiniteScore", ">s\nA\n", uniform_profile(1, "1e308"), kGlocal, {},
       result(formatted_score(1e308).c_str()) + "\na\nA\n",
       "", 0},
      {"FastaMillionLetterLine", ">s\n" + kMillion + "\n", kWord, kGlocal, {},
       result("  45.000") + "\n" + std::string(500000, '.') + "acdefghik" +
           std::string(kMillionRight.size(), '.') + "\n" + kMillion + "\n",
       "", 0},
  };
  return cases;
}

class BadInputTour : public testing::TestWithParam<TourCase> {};

TEST_P(BadInputTour, ExactOutcome) {
  const TourCase& c = GetParam();
  const fixtures::RunResult r = fixtures::run_tormid_on(c.fasta, c.profile, c.params, c.args);
  if (r.out.size() > 1000 || c.out.size() > 1000) {
    EXPECT_TRUE(r.out == c.out) << "stdout of " << r.out.size() << " bytes differs";
  } else {
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Cli, BadInputTour, testing::ValuesIn(tour()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

bool strace_available() { return std::system("strace -V >/dev/null 2>&1") == 0; }

// Runs a command under strace with the nth read of `file` (a path inside
// dir) failing with EIO. (LeakSanitizer cannot run under ptrace.)
fixtures::RunResult run_with_read_error(const fixtures::TempDir& dir, const std::string& file, int nth,
                                        const std::string& command) {
  const std::string path = (dir.path() / file).string();
  return fixtures::run_shell("ASAN_OPTIONS=detect_leaks=0 exec strace -qq -o /dev/null -P " + fixtures::shell_quote(path) +
                                 " -e trace=read -e inject=read:error=EIO:when=" + std::to_string(nth) +
                                 " " + command,
                             dir.path());
}

struct ReadErrorCase {
  const char* file;
  int nth;  // which read fails
  std::string err;
};

TEST(ReadErrors, AFailedReadEndsTheRunWithItsMessage) {
  if (!strace_available()) GTEST_SKIP() << "strace is not installed";
  // 20,000 residues: the FASTA file takes several reads.
  std::string fasta = ">s\n";
  for (int k = 0; k < 20000 / 60; ++k) fasta += std::string("ACDEFGHIKLMNPQRSTVWY", 20) + std::string(40, 'W') + "\n";
  const ReadErrorCase cases[] = {
      {"s.fa", 2, "\ncan't read s.fa\n"},
      {"p.prf", 1, "\ncan't read p.prf\n" + kBadProfile},
      {"g.par", 1, "\ncan't read g.par\n" + kBadParams},
  };
  for (const ReadErrorCase& c : cases) {
    fixtures::TempDir dir;
    dir.write("s.fa", fasta);
    dir.write("p.prf", kWord);
    dir.write("g.par", kGlocal);
    const fixtures::RunResult r =
        run_with_read_error(dir, c.file, c.nth, fixtures::shell_quote(TORMID_BINARY) + " s.fa p.prf g.par");
    EXPECT_EQ(r.out, "") << c.file;
    EXPECT_EQ(r.err, c.err) << c.file;
    EXPECT_EQ(r.status, 1) << c.file;
  }
}

TEST(ReadErrors, ConverterNamesTheFile) {
  if (!strace_available()) GTEST_SKIP() << "strace is not installed";
  fixtures::TempDir dir;
  dir.write("m.hmm", fixtures::read_file(std::string(TORMID_TEST_DATA) + "/converter/tiny.hmm"));
  const fixtures::RunResult r =
      run_with_read_error(dir, "m.hmm", 1, fixtures::shell_quote(TORMID_PRF_BINARY) + " hmm m.hmm");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tormid-prf: m.hmm: cannot read the file (Input/output error)\n");
  EXPECT_EQ(r.status, 1);
}

// 400 MB of NUL bytes without a line end, through a pipe, as the parameter
// file of a process limited to 256 MB of address space: the bytes after
// the NUL are dropped as they are read, so the file is simply refused.
TEST(UnboundedLines, BytesAfterANulAreNotKept) {
  if (fixtures::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's shadow memory needs more than the limit";
  fixtures::TempDir dir;
  dir.write("s.fa", kFasta);
  dir.write("p.prf", kWord);
  ASSERT_EQ(std::system(("mkfifo " + fixtures::shell_quote((dir.path() / "g.par").string())).c_str()), 0);
  const fixtures::RunResult r = fixtures::run_shell(
      "ulimit -v 262144 && (head -c 400000000 /dev/zero > g.par &) && exec " +
          fixtures::shell_quote(TORMID_BINARY) + " s.fa p.prf g.par",
      dir.path());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kBadParams);
  EXPECT_EQ(r.status, 1);
}

}  // namespace
