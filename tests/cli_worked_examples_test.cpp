// End-to-end: the worked examples on the nine-position profile (ACDEFGHIK,
// +5.0 / -1.0, opening penalties 10, deletion penalties 1) and on the all-A
// profiles, each run with the alignment display off and on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

struct WorkedCase {
  const char* name;
  const char* profile_word;
  const char* seq;
  std::vector<std::string> switches;  // set to YES; the others are NO
  const char* score;
  const char* prf_line;
  const char* seq_line;
};

void PrintTo(const WorkedCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kNone;
const std::vector<std::string> kAll = {"PRF_FREE_BEG", "PRF_FREE_END", "SEQ_FREE_BEG",
                                       "SEQ_FREE_END"};

const WorkedCase kWorked[] = {
    {"Exact", "ACDEFGHIK", "ACDEFGHIK", kNone, "  45.000", "acdefghik", "ACDEFGHIK"},
    {"GapInSequence", "ACDEFGHIK", "ACDGHIK", kNone, "  23.000", "acdefghik", "ACD..GHIK"},
    {"GapInProfile", "ACDEFGHIK", "ACDEWWFGHIK", kNone, "  33.000", "acde..fghik",
     "ACDEWWFGHIK"},
    {"TrailingResidues", "ACDEFGHIK", "ACDEFGHIKWW", kNone, "  33.000", "acdefghik..",
     "ACDEFGHIKWW"},
    {"NothingFits", "ACDEFGHIK", "WWWW", kNone, " -19.000", "acdefghik", ".....WWWW"},
    {"FreeLeadingResidues", "ACDEFGHIK", "WWACDEF", {"PRF_FREE_BEG"}, "  11.000", "..acdefghik",
     "WWACDEF...."},
    {"FragmentOfProfile", "ACDEFGHIK", "DEFGH", {"SEQ_FREE_BEG", "SEQ_FREE_END"}, "  25.000",
     "acdefghik", "..DEFGH.."},
    {"ProfileEndsInSequence", "ACDEFGHIK", "GHIKWW", {"SEQ_FREE_BEG", "PRF_FREE_END"},
     "  20.000", "acdefghik..", ".....GHIKWW"},
    {"LocalInside", "ACDEFGHIK", "WWDEFGHWW", kAll, "  25.000", "ac..defghik..",
     "..WWDEFGH..WW"},
    {"LocalColumnZeroPenalised", "ACDEFGHIK", "WWWACDE", kAll, "  15.000", "a....cdefghik",
     ".WWWACDE....."},
    {"FourAGlobal", "AAAA", "AA", kNone, "  -2.000", "aaaa", "..AA"},
    {"FourASeqFreeEnd", "AAAA", "AA", {"SEQ_FREE_END"}, "  10.000", "aaaa", "AA.."},
    {"FourASeqFreeBeg", "AAAA", "AA", {"SEQ_FREE_BEG"}, "  10.000", "aaaa", "..AA"},
    {"TwoAGlobal", "AA", "AAAA", kNone, "  -2.000", "..aa", "AAAA"},
    {"TwoAPrfFreeEnd", "AA", "AAAA", {"PRF_FREE_END"}, "  10.000", "aa..", "AAAA"},
};

// A parameter file as a user writes it: comments, "=" after the penalties.
std::string user_params(const std::vector<std::string>& switches, bool show) {
  std::string text = "# gap costs\nPRF_GAP_OPEN_PENALTY=10\nPRF_DELETION_PENALTY=1\n";
  text += "SEQ_GAP_OPEN_PENALTY=10\nSEQ_DELETION_PENALTY=1\n\n# free ends\n";
  for (const char* key : {"PRF_FREE_BEG", "PRF_FREE_END", "SEQ_FREE_BEG", "SEQ_FREE_END"}) {
    bool on = false;
    for (const std::string& s : switches) on |= (s == key);
    text += std::string(key) + (on ? " YES\n" : " NO\n");
  }
  return text + "SHOW_ALIGNMENT " + (show ? "YES" : "NO") + "\n";
}

fixtures::RunResult run_case(const WorkedCase& c, bool show) {
  return fixtures::run_tormid_on(std::string(">s\n") + c.seq + "\n",
                                 fixtures::word_profile(c.profile_word), user_params(c.switches, show));
}

class WorkedExamples : public testing::TestWithParam<WorkedCase> {};

TEST_P(WorkedExamples, Score) {
  const WorkedCase& c = GetParam();
  const fixtures::RunResult r = run_case(c, false);
  EXPECT_EQ(r.out, std::string("Seq: s  Profile: p.prf   Score: ") + c.score + "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_P(WorkedExamples, Alignment) {
  const WorkedCase& c = GetParam();
  const fixtures::RunResult r = run_case(c, true);
  EXPECT_EQ(r.out, std::string("Seq: s  Profile: p.prf   Score: ") + c.score + "\n\n" + c.prf_line +
                       "\n" + c.seq_line + "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Cli, WorkedExamples, testing::ValuesIn(kWorked),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliDisplay, NoAlignmentPrintsTwoEmptyLines) {
  const fixtures::RunResult r = fixtures::run_tormid_on(">s\nAW\n", fixtures::word_profile("A"),
                                                        user_params({"SEQ_FREE_END"}, true));
  EXPECT_EQ(r.out, "Seq: s  Profile: p.prf   Score: -100000.000\n\n\n\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(CliDisplay, PositionsWithoutAnyScoreShowX) {
  std::string floor_row = "x";
  for (int k = 0; k < 20; ++k) floor_row += " -100000";
  const fixtures::RunResult r = fixtures::run_tormid_on(
      ">s\nAC\n", "(Peptide) p p Length: 2\nCons\nA 5\n" + floor_row + "\n", user_params({}, true));
  EXPECT_EQ(r.out, "Seq: s  Profile: p.prf   Score:  -17.000\n\nax.\nA.C\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
