// --help and --version of every program, alone on the command line; any
// other use of them keeps the program's usage error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures.h"

namespace {

struct HelpCase {
  const char* name;
  const char* program;
  std::vector<std::string> args;
  std::string out_start;  // standard output starts with this
  std::string err_start;  // standard error starts with this
  int status;
};

void PrintTo(const HelpCase& c, std::ostream* os) { *os << c.name; }

const std::string kVersion = TORMID_VERSION_STRING;

const HelpCase kCases[] = {
    {"TormidHelp", TORMID_BINARY, {"--help"}, "tormid: aligns one protein sequence", "", 0},
    {"TormidShortHelp", TORMID_BINARY, {"-h"}, "tormid: aligns one protein sequence", "", 0},
    {"TormidVersion", TORMID_BINARY, {"--version"}, "tormid " + kVersion + "\nkernels: ", "", 0},
    {"TormidShortVersion", TORMID_BINARY, {"-V"}, "tormid " + kVersion + "\nkernels: ", "", 0},
    {"TormidHelpWithMore", TORMID_BINARY, {"--help", "x"}, "", "\nUsage: tormid  fasta_file prf_file param_file\n", 1},
    {"TormidVersionAmongFiles", TORMID_BINARY, {"--version", "a"}, "", "\nUsage: tormid  fasta_file prf_file param_file\n", 1},
    {"PrfHelp", TORMID_PRF_BINARY, {"--help"}, "tormid-prf: tormid profiles", "", 0},
    {"PrfVersion", TORMID_PRF_BINARY, {"-V"}, "tormid-prf " + kVersion + "\nkernels: ", "", 0},
    {"PrfVersionWithMore", TORMID_PRF_BINARY, {"--version", "x"}, "", "usage: tormid-prf hmm", 1},
    {"ScanHelp", TORMID_SCAN_BINARY, {"-h"}, "Searches every record", "", 0},
    {"ScanVersion", TORMID_SCAN_BINARY, {"--version"}, "tormid-scan " + kVersion + "\nkernels: ", "", 0},
    {"ScanShortVersion", TORMID_SCAN_BINARY, {"-V"}, "tormid-scan " + kVersion + "\nkernels: ", "", 0},
};

class HelpAndVersion : public testing::TestWithParam<HelpCase> {};

TEST_P(HelpAndVersion, PrintsToItsStreamWithItsStatus) {
  const HelpCase& c = GetParam();
  fixtures::TempDir dir;
  const fixtures::RunResult r = fixtures::run(c.program, c.args, dir.path());
  // A whole line is the whole output; otherwise its start.
  auto expect_stream = [](const std::string& got, const std::string& start) {
    if (start.empty() || start.back() == '\n') {
      EXPECT_EQ(got, start);
    } else {
      EXPECT_EQ(got.substr(0, start.size()), start) << got;
    }
  };
  expect_stream(r.out, c.out_start);
  expect_stream(r.err, c.err_start);
  EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Cli, HelpAndVersion, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The help names the files, the keys and the exit statuses.
TEST(CliHelp, TormidHelpIsComplete) {
  fixtures::TempDir dir;
  const std::string help = fixtures::run(TORMID_BINARY, {"--help"}, dir.path()).out;
  for (const char* key : {"PRF_GAP_OPEN_PENALTY", "PRF_DELETION_PENALTY", "SEQ_GAP_OPEN_PENALTY",
                          "SEQ_DELETION_PENALTY", "PRF_FREE_BEG", "PRF_FREE_END", "SEQ_FREE_BEG",
                          "SEQ_FREE_END", "SHOW_ALIGNMENT", "FASTA_FILE", "PRF_FILE", "PARAM_FILE",
                          "Exit status", "man tormid"})
    EXPECT_NE(help.find(key), std::string::npos) << key;
}

}  // namespace
