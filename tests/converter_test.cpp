// tormid-prf: conversions checked to the printed digits against profiles
// computed independently (tests/data/converter/make_fixtures.py), every
// refusal with its message, the round trip through tormid's own reader, and
// a converted model aligned by tormid.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
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
    {"HmmNameBeforeFile", {"hmm", "--name", "second", "two_models.hmm"}, "two_models_second.prf"},
    {"HmmNameWithEquals", {"hmm", "--name=second", "two_models.hmm"}, "two_models_second.prf"},
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
    {"Hmmer2Model", {"hmm", "hmmer2.hmm"},
     "hmmer2.hmm:1: an HMMER2 model: tormid reads HMMER3 models (HMMER's hmmconvert writes them)"},
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
    {"MissingFile", {"hmm", "none.hmm"}, "none.hmm: cannot open the file (No such file or directory)"},
    {"Directory", {"pssm", "."}, ".: cannot open the file (Is a directory)"},
    {"UnknownMode", {"params", "semiglobal"}, "unknown mode 'semiglobal' (glocal, local or global)"},
    // Damaged lines of the right width elsewhere: a score missing, nodes
    // out of order or repeated, a length beyond what is read.
    {"MissingScore", {"hmm", "missing_score.hmm"},
     "missing_score.hmm:24: node 1's match emission line (its number, 20 emission scores, 5 annotations in "
     "HMMER3/f) has 25 fields where 26 are expected"},
    {"NodesOutOfOrder", {"hmm", "misnumbered.hmm"},
     "misnumbered.hmm:27: expected the match emission line of node 2 (2 and 20 emission scores)"},
    {"NodeRepeated", {"hmm", "repeated_node.hmm"},
     "repeated_node.hmm:30: expected the match emission line of node 3 (3 and 20 emission scores)"},
    {"LengthTooLarge", {"hmm", "too_long.hmm"},
     "too_long.hmm:5: LENG 100000000 is larger than the longest model tormid reads (10,000,000 positions)"},
    {"PssmScoreMissing", {"pssm", "missing_score.pssm"},
     "missing_score.pssm:4: position 1 has 43 fields where 42 or 44 are expected (its number, its residue, a "
     "number for each column of the header, then perhaps two more)"},
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
       {std::vector<std::string>{}, {"hmm"}, {"convert", "x"}, {"hmm", "a", "--nam", "b"},
        {"hmm", "a", "--name"}, {"pssm", "a", "--name", "b"}, {"hmm", "a", "b"}}) {
    const fixtures::RunResult r = run_prf(args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("usage: tormid-prf hmm MODEL.hmm", 0), 0u) << r.err;
    EXPECT_EQ(r.status, 1);
  }
}

TEST(Converter, ProfileRoundTripsThroughTormidsReader) {
  const ConvertedProfile converted = read_hmm(kData + "/tiny.hmm", "");
  fixtures::TempDir dir;
  const Profile read = read_prf_file(dir.write("tiny.prf", converter::profile_text(converted)));
  EXPECT_EQ(read.rows(), converted.profile.rows());
}

// Writes a profile and reads it back through tormid's own reader.
Profile round_trip(const ConvertedProfile& converted) {
  fixtures::TempDir dir;
  return read_prf_file(dir.write("p.prf", converter::profile_text(converted)));
}

TEST(Converter, EveryDoubleReadsBackBitForBit) {
  std::mt19937_64 rng(11);
  std::vector<double> values = {0.0,
                                -0.0,
                                1234567,
                                kImpossibleScore,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::lowest(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::denorm_min(),
                                -std::numeric_limits<double>::denorm_min(),
                                0.1,
                                1e-300,
                                2.0 / 3.0};
  while (values.size() < 20 * 50) {
    const double v = std::bit_cast<double>(rng());
    if (std::isfinite(v)) values.push_back(v);
    values.push_back(std::uniform_real_distribution<double>(-50, 50)(rng));
  }
  std::vector<ProfileRow> rows(values.size() / 20);
  for (std::size_t k = 0; k < rows.size() * 20; ++k) rows[k / 20][k % 20] = values[k];
  const Profile read = round_trip({Profile(rows, "numbers"), std::string(rows.size(), 'X')});
  for (std::size_t k = 0; k < rows.size() * 20; ++k)
    ASSERT_EQ(std::bit_cast<std::uint64_t>(read.row(static_cast<int>(k / 20))[k % 20]),
              std::bit_cast<std::uint64_t>(values[k]))
        << values[k];
}

// Every byte a model name can hold (all but NUL, blank, tab and line end,
// which end a NAME word): the profile reads back, with "_" for the bytes
// tormid takes for white space.
TEST(Converter, EveryByteOfANameReadsBack) {
  const std::string tiny = fixtures::read_file(kData + "/tiny.hmm");
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == ' ' || byte == '\t' || byte == '\n') continue;
    const std::string name = std::string("a") + static_cast<char>(byte) + "b";
    std::string model = tiny;
    model.replace(model.find("NAME  tiny"), 10, "NAME  " + name);
    fixtures::TempDir dir;
    const ConvertedProfile converted = read_hmm(dir.write("m.hmm", model), "");
    const std::string text = converter::profile_text(converted);
    const std::string header = text.substr(0, text.find('\n'));
    const bool white = is_c_space(static_cast<unsigned char>(byte));
    EXPECT_EQ(header.substr(0, header.find(" ACC ")),
              "(Peptide) from a" + std::string(1, white ? '_' : static_cast<char>(byte)) + "b Length: 4")
        << byte;
    EXPECT_EQ(round_trip(converted).rows(), converted.profile.rows()) << byte;
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
    const ParamValues read = read_param_file(path);
    const Settings s = set_parameters(read);
    EXPECT_EQ(s.gap_open_penalty_prf, 11.0);
    EXPECT_EQ(s.deletion_penalty_seq, 1.0);
    EXPECT_EQ(s.start, m.start);
    EXPECT_EQ(s.end, m.end);
    EXPECT_TRUE(read.show_alignment);
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
