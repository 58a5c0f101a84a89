// End-to-end: every way a run can fail, with both streams and the exit
// status compared exactly.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fixtures.h"

namespace {

using fixtures::params;
using fixtures::word_profile;

struct FailureCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
};

const std::string kProfile = word_profile("ACDEFGHIK");
const std::string kParams = params(10, 1);
const std::string kFasta = ">s1\nACDEFGHIK\n";
const std::string kUsage = "\nUsage: tormid  fasta_file prf_file param_file\n";
const std::string kBadProfile = "\ncan't process profile file\n";
const std::string kBadParams = "\ncan't process parameters file\n";

std::vector<std::pair<std::string, std::string>> with(const std::string& name,
                                                      const std::string& content) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"s.fa", kFasta}, {"p.prf", kProfile}, {"g.par", kParams}};
  for (auto& f : files)
    if (f.first == name) f.second = content;
  return files;
}

const std::vector<std::string> kArgs = {"s.fa", "p.prf", "g.par"};

std::string header(const std::string& words) { return words + "\nCons A R N D\n"; }

const FailureCase kFailures[] = {
    {"NoArguments", with("", ""), {}, "", kUsage, 1},
    {"TwoArguments", with("", ""), {"s.fa", "p.prf"}, "", kUsage, 1},
    {"FourArguments", with("", ""), {"s.fa", "p.prf", "g.par", "x"}, "", kUsage, 1},
    {"ProfileMissing", with("", ""), {"s.fa", "none.prf", "g.par"}, "\ncan't open none.prf",
     kBadProfile, 1},
    {"ParamsMissing", with("", ""), {"s.fa", "p.prf", "none.par"}, "\ncan't open none.par",
     kBadParams, 1},
    {"FastaMissing", with("", ""), {"none.fa", "p.prf", "g.par"}, "", "\ncan't open none.fa", 1},
    {"ProfileDirectory", with("", ""), {"s.fa", ".", "g.par"}, "\ncan't open .", kBadProfile, 1},
    {"EmptyProfile", with("p.prf", ""), kArgs, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"HeaderWithoutPeptide", with("p.prf", header("(Protein) x y Length: 1")), kArgs, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"PeptideNotAtStart", with("p.prf", header(" (Peptide) x y Length: 1")), kArgs, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"HeaderWithoutLength", with("p.prf", header("(Peptide) x y Len: 1")), kArgs, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"HeaderFifthWordNotNumber", with("p.prf", header("(Peptide) x y Length: nine")), kArgs, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"HeaderTooFewWords", with("p.prf", header("(Peptide) Length: 9")), kArgs, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"HeaderLengthZero", with("p.prf", header("(Peptide) x y Length: 0")), kArgs, "",
     "\nError---matrix alloc fail 1\n" + kBadProfile, 1},
    {"HeaderLengthNegative", with("p.prf", header("(Peptide) x y Length: -5")), kArgs, "",
     "\nError---matrix alloc fail 1\n" + kBadProfile, 1},
    {"HeaderLengthBeyondInt", with("p.prf", header("(Peptide) x y Length: 99999999999")), kArgs,
     "", "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"HeaderLengthLargestInt", with("p.prf", header("(Peptide) x y Length: 2147483647")), kArgs,
     "", "\nprofile file p.prf has 0 of 2147483647 positions\n" + kBadProfile, 1},
    {"FewerPositionsThanHeader",
     with("p.prf", "(Peptide) x y Length: 3\nCons\nA 1\nC 2\n"), kArgs, "",
     "\nprofile file p.prf has 2 of 3 positions\n" + kBadProfile, 1},
    {"ParamsEmpty", with("g.par", ""), kArgs, "", kBadParams, 1},
    {"ParamsMissingKey", with("g.par", params(10, 1).substr(params(10, 1).find('\n') + 1)), kArgs,
     "", kBadParams, 1},
    {"FastaHeadersOnly", with("s.fa", ">a first\n>b second\n"), kArgs, "",
     "\ncan't find fasta sequence in argv[1]\n", 1},
    {"FastaEmpty", with("s.fa", ""), kArgs, "", "\ncan't find fasta sequence in argv[1]\n", 1},
    {"FastaNoLetters", with("s.fa", ">a\n123 *-.\n"), kArgs, "",
     "\ncan't find fasta sequence in argv[1]\n", 1},
    // Only the first failing stage is reported.
    {"BadProfileBeforeMissingFasta", with("p.prf", ""), {"none.fa", "p.prf", "none.par"}, "",
     "\ncan't recognize profile file in p.prf" + kBadProfile, 1},
    {"BadParamsBeforeMissingFasta", with("g.par", ""), {"none.fa", "p.prf", "g.par"}, "",
     kBadParams, 1},
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class Failures : public testing::TestWithParam<FailureCase> {};

TEST_P(Failures, ReportExactlyAndExitWithOne) {
  const FailureCase& c = GetParam();
  fixtures::TempDir dir;
  for (const auto& [name, content] : c.files)
    if (!name.empty()) dir.write(name, content);
  const fixtures::RunResult r = fixtures::run_tormid(c.args, dir.path());
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Cli, Failures, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
