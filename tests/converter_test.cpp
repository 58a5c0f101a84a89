// tormid-prf: conversions checked to the printed digits against profiles
// computed independently (tests/data/converter/make_fixtures.py), every
// refusal with its message, the round trip through tormid's own reader, and
// a converted model aligned by tormid.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "converter/converter.h"
#include "input/input.h"
#include "support/fixtures.h"

namespace {

using namespace tormid;

const std::string kData = std::string(TORMID_TEST_DATA) + "/converter";

fixtures::RunResult run_prf(const std::vector<std::string>& args) {
  return fixtures::run(TORMID_PRF_BINARY, args, kData);
}

struct Conversion {
  const char* name;
  std::vector<std::string> args;
  const char* expected;  // file in the data folder
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

const Conversion kConversions[] = {
    {"HmmWithConsensusColumn", {"hmm", "tiny.hmm"}, "tiny.prf"},
    {"HmmOldFormatMostProbableResidue", {"hmm", "old_format.hmm"}, "old_format.prf"},
    {"HmmFirstOfSeveral", {"hmm", "two_models.hmm"}, "two_models_first.prf"},
    {"HmmNamedModel", {"hmm", "two_models.hmm", "--name", "second"}, "two_models_second.prf"},
    {"Pssm", {"pssm", "tiny.pssm"}, "tiny_pssm.prf"},
};

class Conversions : public testing::TestWithParam<Conversion> {};

TEST_P(Conversions, PrintTheExpectedProfile) {
  const Conversion& c = GetParam();
  const fixtures::RunResult r = run_prf(c.args);
  EXPECT_EQ(r.out, fixtures::read_file(kData + "/" + c.expected));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Converter, Conversions, testing::ValuesIn(kConversions),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refusal {
  const char* name;
  std::vector<std::string> args;
  const char* message;  // after "tormid-prf: "
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

const Refusal kRefusals[] = {
    {"NotHmmer3", {"hmm", "not_hmm.txt"},
     "not_hmm.txt:1: not an HMMER3 profile HMM file: the first line should start with HMMER3/"},
    {"NucleotideModel", {"hmm", "dna.hmm"},
     "dna.hmm:6: not a protein model: ALPH is DNA, tormid needs amino"},
    {"TruncatedModel", {"hmm", "truncated.hmm"},
     "truncated.hmm:30: the file ends inside node 3, before its insert emission line"},
    {"MissingMatchLine", {"hmm", "missing_match.hmm"},
     "missing_match.hmm:27: expected the match emission line of node 2 (2 and 20 emission scores)"},
    {"PssmWithoutHeader", {"pssm", "no_header.pssm"},
     "no_header.pssm:3: a position line before the column header (A R N D C Q E G H I L K M F P S T W "
     "Y V)"},
    {"HmmAsPssm", {"pssm", "tiny.hmm"},
     "tiny.hmm:22: a position line before the column header (A R N D C Q E G H I L K M F P S T W Y "
     "V)"},
    {"PssmWithoutPositions", {"pssm", "not_hmm.txt"},
     "not_hmm.txt:2: no column header (A R N D C Q E G H I L K M F P S T W Y V) found"},
    {"NoSuchModel", {"hmm", "two_models.hmm", "--name", "third"},
     "two_models.hmm: no model named 'third'"},
    {"MissingFile", {"hmm", "none.hmm"}, "none.hmm: cannot open the file"},
    {"Directory", {"pssm", "."}, ".: cannot open the file"},
    {"UnknownMode", {"params", "semiglobal"}, "unknown mode 'semiglobal' (glocal, local or global)"},
};

class Refusals : public testing::TestWithParam<Refusal> {};

TEST_P(Refusals, OneMessageNothingOnStandardOutput) {
  const Refusal& c = GetParam();
  const fixtures::RunResult r = run_prf(c.args);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("tormid-prf: ") + c.message + "\n");
  EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Converter, Refusals, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Converter, BadCommandLinesGetUsage) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"hmm"}, {"convert", "x"}, {"hmm", "a", "--nam", "b"}}) {
    const fixtures::RunResult r = run_prf(args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: tormid-prf hmm MODEL.hmm", 0), 0u) << r.err;
    EXPECT_EQ(r.status, 1);
  }
}

TEST(Converter, ProfileRoundTripsThroughTormidsReader) {
  const ConvertedProfile converted = read_hmm(kData + "/tiny.hmm", "");
  const std::string text = converter::profile_text(converted);
  fixtures::TempDir dir;
  const std::string path = dir.write("tiny.prf", text);
  const ReadResult<Profile> read = read_prf_file(path);
  ASSERT_TRUE(read);
  ASSERT_EQ(read.value().length(), 4);
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  for (int k = 0; k < 4; ++k) {
    std::getline(lines, line);
    std::istringstream words(line);
    std::string word;
    words >> word;
    for (std::size_t c = 0; c < 20; ++c) {
      words >> word;
      const double expected = converted.profile.row(k)[c];
      EXPECT_EQ(read.value().row(k)[c], std::strtod(word.c_str(), nullptr)) << k << " " << c;
      EXPECT_NEAR(read.value().row(k)[c], expected, 5e-6 * std::abs(expected));
    }
  }
}

TEST(Converter, ParameterFilesAreAcceptedWithTheirSwitches) {
  struct ModeCase {
    const char* mode;
    StartMode start;
    EndMode end;
  };
  for (const ModeCase& m : {ModeCase{"glocal", StartMode::prf_free, EndMode::prf_free},
                            ModeCase{"local", StartMode::local, EndMode::local},
                            ModeCase{"global", StartMode::global, EndMode::global}}) {
    fixtures::TempDir dir;
    const std::string path = dir.write("g.par", converter::params_text(m.mode));
    const ReadResult<ParamValues> read = read_param_file(path);
    ASSERT_TRUE(read) << m.mode;
    const Settings s = set_parameters(read.value());
    EXPECT_EQ(s.gap_open_penalty_prf, 11.0);
    EXPECT_EQ(s.deletion_penalty_seq, 1.0);
    EXPECT_EQ(s.start, m.start);
    EXPECT_EQ(s.end, m.end);
    EXPECT_TRUE(s.show_alignment);
  }
}

TEST(Converter, ConvertedModelFindsItsConsensusInsideAProtein) {
  fixtures::TempDir dir;
  const std::string consensus = "CPECGKSFSHKS";
  const std::string before = "MALVIRTNQDGLW", after = "VRTNLAMIQDW";
  dir.write("s.fa", ">host\n" + before + consensus + after + "\n");
  dir.write("strong.prf", run_prf({"hmm", "strong.hmm"}).out);
  dir.write("glocal.params", run_prf({"params", "glocal"}).out);
  const fixtures::RunResult r = fixtures::run_tormid({"s.fa", "strong.prf", "glocal.params"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);
  std::string result, blank, prf_line, seq_line;
  std::getline(out, result);
  std::getline(out, blank);
  std::getline(out, prf_line);
  std::getline(out, seq_line);
  ASSERT_EQ(prf_line.size(), seq_line.size());
  std::string paired;
  int residue = 0, first_paired = -1, last_paired = -1;
  for (std::size_t k = 0; k < seq_line.size(); ++k) {
    if (seq_line[k] == '.') continue;
    if (prf_line[k] != '.') {
      paired += seq_line[k];
      if (first_paired < 0) first_paired = residue;
      last_paired = residue;
    }
    ++residue;
  }
  EXPECT_EQ(paired, consensus);
  EXPECT_EQ(first_paired, static_cast<int>(before.size()));
  EXPECT_EQ(last_paired, static_cast<int>(before.size() + consensus.size()) - 1);
}

}  // namespace
