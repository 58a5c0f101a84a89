// End-to-end: runs that print a result line. Each case is the three input
// files and the exact standard output; standard error must stay empty and
// the exit status 0. (The worked scores are in cli_worked_examples_test.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/fixtures.h"

namespace {

using fixtures::params;
using fixtures::word_profile;

struct ResultCase {
  const char* name;
  std::string fasta;
  std::string profile;
  std::string params;
  std::string out;
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

// The nine-position profile: +5.0 for the letter of ACDEFGHIK at its
// position, -1.0 for the other nineteen; opening penalties 10, deletion 1.
const std::string kWord = word_profile("ACDEFGHIK");
const std::string kGlobal = params(10, 1);

std::string line(const std::string& name, const char* score) {
  return "Seq: " + name + "  Profile: p.prf   Score: " + score + "\n";
}

std::string header_with(const std::string& profile, const std::string& header) {
  return header + profile.substr(profile.find('\n'));
}

std::string repeat(const std::string& unit, int times) {
  std::string text;
  for (int k = 0; k < times; ++k) text += unit;
  return text;
}

// Params text for the nine-position profile with one line replaced.
std::string params_with(const std::string& key, const std::string& replacement) {
  std::string text = kGlobal;
  const std::size_t at = text.find(key);
  text.replace(at, text.find('\n', at) - at, replacement);
  return text;
}

// Positions A, blank, C, D of which the header announces three: the blank
// line is an all-zero position and pushes D out.
std::string blank_line_before_c() {
  std::string text = word_profile("ACD");
  return text.insert(text.find("\nC ") + 1, "\n");
}

// PRF_FREE_BEG on, and SHOW_ALIGNMENT as the file's last bytes.
std::string switch_key_ending_file() {
  std::string text = params_with("PRF_FREE_BEG", "PRF_FREE_BEG YES");
  return text.replace(text.find("SHOW_ALIGNMENT NO\n"), 18, "SHOW_ALIGNMENT");
}

const ResultCase kResults[] = {
    // FASTA reading.
    {"NoHeader", "ACDEFGHIK\n", kWord, kGlobal, line("", "  45.000")},
    {"SecondHeaderNames", ">first\n>second one\nACDEFGHIK\n", kWord, kGlobal,
     line("second", "  45.000")},
    {"DescriptionAndBars", ">sp|P12345|KIN_HUMAN Kinase OS=Homo sapiens\nACDEFGHIK\n", kWord,
     kGlobal, line("sp|P12345|KIN_HUMAN", "  45.000")},
    {"BlanksAfterMarker", ">  \tspaced desc\nACDEFGHIK\n", kWord, kGlobal,
     line("spaced", "  45.000")},
    {"WordlessHeaderKeepsName", ">named\n>\nACDEFGHIK\n", kWord, kGlobal,
     line("named", "  45.000")},
    {"LowerCaseDigitsStarsDashes", ">m\n1 acdef 6\nG-H i.K*\n", kWord, kGlobal,
     line("m", "  45.000")},
    {"CrLf", ">crlf\r\nACDE\r\nFGHIK\r\n", kWord, kGlobal, line("crlf", "  45.000")},
    {"LaterRecordsIgnored", ">one\nACDEFGHIK\n>two\nWWWW\n>three\nAAA\n", kWord, kGlobal,
     line("one", "  45.000")},
    {"RecordWithoutLettersPassedOver", ">empty\n123 *\n>real\nACDEFGHIK\n>later\nWW\n", kWord,
     kGlobal, line("real", "  45.000")},
    {"LettersBeforeFirstHeader", "ACDEF\n>h\nGHIK\n", kWord, kGlobal, line("", "  11.000")},
    {"NoFinalNewline", ">x\nACDEFGHIK", kWord, kGlobal, line("x", "  45.000")},
    {"LettersOutsideAlphabetScoreZero", ">x\nACDEXGHIK\n", kWord, kGlobal, line("x", "  40.000")},
    {"HighBytesAreNotLetters", ">x\nAC\xC3\x84" "DE\xE9" "FGHIK\n", kWord, kGlobal,
     line("x", "  45.000")},
    {"NulEndsTheLine", std::string(">x\nACD\0WW\nEFGHIK\n", 17), kWord, kGlobal,
     line("x", "  45.000")},

    // Profile reading.
    {"HeaderLengthWithTrailingText", ">x\nACDEFGHIKLMN\n",
     header_with(word_profile("ACDEFGHIKLMN"), "(Peptide) from words Length: 12abc"), kGlobal,
     line("x", "  60.000")},
    {"BlankPositionLineIsAllZero", ">x\nAWC\n", blank_line_before_c(), kGlobal,
     line("x", "  10.000")},
    {"MissingScoresAreZero", ">x\nAR\n", "(Peptide) x y Length: 2\nCons\nA 5\nR 0 7\n", kGlobal,
     line("x", "  12.000")},
    {"NumberWithDanglingExponent", ">x\nN\n", "(Peptide) x y Length: 1\nCons\nQ 1 2e 3\n",
     kGlobal, line("x", "   3.000")},
    {"TextGluedToNumberStopsTheLine", ">x\nR\n", "(Peptide) x y Length: 1\nCons\nQ 1.5abc 4\n",
     kGlobal, line("x", "   0.000")},
    {"GluedNumberStillRead", ">x\nA\n", "(Peptide) x y Length: 1\nCons\nQ 1.5abc 4\n", kGlobal,
     line("x", "   1.500")},
    {"LinesAfterLastPositionIgnored", ">x\nA\n",
     "(Peptide) x y Length: 1\nCons\nA 5\nnot a position\n", kGlobal, line("x", "   5.000")},
    {"LongPositionLine", ">x\nAC\n",
     "(Peptide) x y Length: 2\nCons\nA 5" + std::string(500, ' ') + "\nC 0 0 0 0 " +
         std::string(300, ' ') + "6\n",
     kGlobal, line("x", "  11.000")},

    // Parameter reading: ACDGHIK scores 35 - open_seq - 2 * deletion_seq,
    // WWACDEFGHIK 45 - open_prf - 2 * deletion_prf unless its start is free.
    {"GluedValueLosesFirstCharacter", ">x\nACDGHIK\n", kWord,
     params_with("SEQ_GAP_OPEN_PENALTY", "SEQ_GAP_OPEN_PENALTY10"), line("x", "  33.000")},
    {"TwoBlanksStillReadANumber", ">x\nACDGHIK\n", kWord,
     params_with("SEQ_GAP_OPEN_PENALTY", "SEQ_GAP_OPEN_PENALTY  4"), line("x", "  29.000")},
    {"AnySeparator", ">x\nACDGHIK\n", kWord,
     params_with("SEQ_GAP_OPEN_PENALTY", "SEQ_GAP_OPEN_PENALTY=4"), line("x", "  29.000")},
    {"NumberFollowedByText", ">x\nACDGHIK\n", kWord,
     params_with("SEQ_GAP_OPEN_PENALTY", "SEQ_GAP_OPEN_PENALTY 4abc"), line("x", "  29.000")},
    {"SwitchFreeBegOn", ">x\nWWACDEFGHIK\n", kWord,
     params_with("PRF_FREE_BEG", "PRF_FREE_BEG YES"), line("x", "  45.000")},
    {"LowerCaseYesIsOff", ">x\nWWACDEFGHIK\n", kWord,
     params_with("PRF_FREE_BEG", "PRF_FREE_BEG yes"), line("x", "  33.000")},
    {"SwitchAfterTwoBlanksIsOff", ">x\nWWACDEFGHIK\n", kWord,
     params_with("PRF_FREE_BEG", "PRF_FREE_BEG  YES"), line("x", "  33.000")},
    {"RepeatedSwitchOverwritesAndOmittedKeyStaysOff", ">x\nWWACDEFGHIK\n", kWord,
     params_with("SHOW_ALIGNMENT", "PRF_FREE_BEG NO").replace(
         kGlobal.find("PRF_FREE_BEG NO"), 15, "PRF_FREE_BEG YES"),
     line("x", "  33.000")},
    {"RepeatedPenaltyWithoutNumberKeepsValue", ">x\nACDGHIK\n", kWord,
     params_with("SEQ_GAP_OPEN_PENALTY", "SEQ_GAP_OPEN_PENALTY 4\nSEQ_GAP_OPEN_PENALTY abc"),
     line("x", "  29.000")},
    {"EmptyPenaltyCountsMinusOne", ">x\nACDGHIK\n", kWord,
     params_with("SEQ_GAP_OPEN_PENALTY",
                 "SEQ_GAP_OPEN_PENALTY 4\nSEQ_GAP_OPEN_PENALTY   \nPRF_FREE_END NO"),
     line("x", "  29.000")},
    {"CommentsAndBlankLinesIgnored", ">x\nACDGHIK\n", kWord,
     "# gap costs\n\n" + kGlobal + "; done\n", line("x", "  23.000")},
    {"SwitchKeyEndingTheFileIsOff", ">x\nWWACDEFGHIK\n", kWord, switch_key_ending_file(),
     line("x", "  45.000")},

    // Arithmetic exactly as the recurrence states it.
    {"ZeroPenaltiesGiveNegativeZero", ">x\nA\n", word_profile("W", -1.0, -1.0), params(0, 0),
     line("x", "  -0.000")},
    {"OutsideLetterAddsPositiveZero", ">x\nAX\n", word_profile("W", -1.0, -1.0), params(0, 0),
     line("x", "   0.000")},

    // Sizes beyond any fixed buffer.
    {"LongSequenceInLines", ">long\nACDEFGHIK\n" + repeat(std::string(60, 'W') + "\n", 700),
     kWord, kGlobal, line("long", "-41965.000")},
    {"LongSequenceOneLine", ">long\nACDEFGHIK" + std::string(42000, 'W') + "\n", kWord, kGlobal,
     line("long", "-41965.000")},
    {"LongHeaderWord", ">" + std::string(300, 'n') + " desc\nACDEFGHIK\n", kWord, kGlobal,
     line(std::string(300, 'n'), "  45.000")},
};

class Results : public testing::TestWithParam<ResultCase> {};

TEST_P(Results, PrintExactResultLine) {
  const ResultCase& c = GetParam();
  const fixtures::RunResult r = fixtures::run_tormid_on(c.fasta, c.profile, c.params);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Cli, Results, testing::ValuesIn(kResults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliLabels, ProfilePathPrintedExactlyAsTyped) {
  fixtures::TempDir dir;
  const std::string sub = std::string(120, 'd');
  std::filesystem::create_directories(dir.path() / sub);
  const std::string path = sub + "/" + std::string(200, 'p') + ".prf";
  dir.write(path, kWord);
  dir.write("s.fa", ">x\nACDEFGHIK\n");
  dir.write("g.par", kGlobal);
  const fixtures::RunResult r = fixtures::run_tormid({"s.fa", "./" + path, "g.par"}, dir.path());
  EXPECT_EQ(r.out, "Seq: x  Profile: ./" + path + "   Score:   45.000\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace

namespace {

TEST(CliCompressed, GzipFastaScoresLikeThePlainFile) {
  fixtures::TempDir dir;
  dir.write("s.fa", ">x desc\nWWACDEF\nGHIKWW\n>y\nAAA\n");
  dir.write("p.prf", kWord);
  dir.write("g.par", params(10, 1, {"PRF_FREE_BEG", "PRF_FREE_END"}, true));
  ASSERT_EQ(std::system(("cd " + fixtures::shell_quote(dir.path().string()) + " && gzip -c s.fa > s.fa.gz").c_str()), 0);
  const fixtures::RunResult plain = fixtures::run_tormid({"s.fa", "p.prf", "g.par"}, dir.path());
  const fixtures::RunResult zipped = fixtures::run_tormid({"s.fa.gz", "p.prf", "g.par"}, dir.path());
  EXPECT_EQ(plain.out, "Seq: x  Profile: p.prf   Score:   45.000\n\n..acdefghik..\nWWACDEFGHIKWW\n");
  EXPECT_EQ(zipped.out, plain.out);
  EXPECT_EQ(zipped.err, "");
  EXPECT_EQ(zipped.status, 0);
}

}  // namespace
