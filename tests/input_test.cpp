// The profile and parameter readers, checked on the values they store.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "input/input.h"
#include "input/text_lines.h"
#include "support/fixtures.h"

namespace {

using namespace tormid;

struct ProfileCase {
  const char* name;
  std::string text;
  int length;                 // expected result of read_prf_file
  std::vector<double> first;  // expected leading scores of position 1
};

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }

const ProfileCase kProfiles[] = {
    {"PlainNumbers", "(Peptide) a b Length: 1\nx\nA 1 -2 3.5\n", 1, {1, -2, 3.5, 0}},
    {"DanglingExponent", "(Peptide) a b Length: 1\nx\nA 1 2e 3\n", 1, {1, 2, 3, 0}},
    {"GluedText", "(Peptide) a b Length: 1\nx\nA 1.5abc 4\n", 1, {1.5, 0}},
    {"ExponentsAndSigns", "(Peptide) a b Length: 1\nx\nA +1e1 -.5 1E-1\n", 1, {10, -0.5, 0.1}},
    {"BlankPositionLine", "(Peptide) a b Length: 1\nx\n\n", 1, {0, 0, 0}},
    {"FirstWordSkipped", "(Peptide) a b Length: 1\nx\n7 8 9\n", 1, {8, 9, 0}},
    {"PlusSignedLength", "(Peptide) a b Length: +1\nx\nA 4\n", 1, {4}},
    {"LengthWithSuffix", "(Peptide) a b Length: 1abc\nx\nA 4\n", 1, {4}},
    {"LengthIsFifthWordWherever", "(Peptide) Length: a b 1\nx\nA 4\n", 1, {4}},
    {"LengthOnNextLine", "(Peptide) a b Length:\n1\nA 4\n", 0, {}},
    {"TabsBetweenWords", "(Peptide)\ta\tb\tLength:\t1\nx\nA\t4\t5\n", 1, {4, 5}},
    {"CrLfLines", "(Peptide) a b Length: 1\r\nx\r\nA 4 5\r\n", 1, {4, 5}},
};

class ProfileReading : public testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileReading, StoresTheScannedScores) {
  const ProfileCase& c = GetParam();
  fixtures::TempDir dir;
  const std::string path = dir.write("p.prf", c.text);
  Profile read;
  try {
    read = read_prf_file(path);
  } catch (const InputError& e) {
    ASSERT_EQ(c.length, 0) << e.what();
    EXPECT_EQ(e.file(), path);
    return;
  }
  ASSERT_EQ(read.length(), c.length);
  const ProfileRow& row = read.row(0);
  for (std::size_t k = 0; k < c.first.size(); ++k) EXPECT_EQ(row[k], c.first[k]) << k;
  for (std::size_t k = c.first.size(); k < 20; ++k) EXPECT_EQ(row[k], 0.0) << k;
}

INSTANTIATE_TEST_SUITE_P(Input, ProfileReading, testing::ValuesIn(kProfiles),
                         [](const auto& info) { return std::string(info.param.name); });

// The fast scanner of position lines against sscanf, which defines what a
// line holds: random lines of plain numbers and of everything sscanf reads
// differently or not at all.
TEST(ProfileReading, PositionLinesReadExactlyAsSscanfReadsThem) {
  std::mt19937 rng(17);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* odd[] = {"+1.5", "inf", "-nan", "0x1p3", "1e", "1e+", ".", "-", "1.5.2", "1-2", "1e400",
                       "1e-400", "4.9e-324", "2.2250738585072014e-308", "1.7976931348623157e308", "00012", "-0",
                       "5.", ".5", "-.5", "1E5", "3e-5x", "x", "1,5", "\xff"};
  const char* blanks[] = {" ", "\t", "  ", "\v", "\f", "\r", " \t "};
  for (int n = 0; n < 20000; ++n) {
    std::string line = n % 50 == 0 ? "" : pick(4) == 0 ? " P" : "P";
    const int numbers = pick(10) == 0 ? pick(25) : 20;
    for (int k = 0; k < numbers; ++k) {
      line += pick(8) == 0 ? blanks[pick(7)] : " ";
      if (pick(60) == 0) {
        line += odd[pick(static_cast<int>(std::size(odd)))];
        continue;
      }
      char number[64];
      switch (pick(3)) {
        case 0: std::snprintf(number, sizeof number, "%.17g", std::ldexp(static_cast<double>(rng()) - 2e9, pick(80) - 60)); break;
        case 1: std::snprintf(number, sizeof number, "%d", static_cast<int>(rng() % 2001) - 1000); break;
        default: std::snprintf(number, sizeof number, "%.*f", pick(12), (static_cast<double>(rng()) - 2e9) / 1e7); break;
      }
      line += number;
    }
    if (pick(5) == 0) line += blanks[pick(7)];
    ProfileRow fast, slow;
    fast.fill(7.25);
    slow.fill(7.25);
    scan_position(line.c_str(), fast);
    std::sscanf(line.c_str(), "%*s%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf", &slow[0], &slow[1],
                &slow[2], &slow[3], &slow[4], &slow[5], &slow[6], &slow[7], &slow[8], &slow[9], &slow[10], &slow[11],
                &slow[12], &slow[13], &slow[14], &slow[15], &slow[16], &slow[17], &slow[18], &slow[19]);
    for (std::size_t k = 0; k < fast.size(); ++k)
      ASSERT_EQ(std::bit_cast<std::uint64_t>(fast[k]), std::bit_cast<std::uint64_t>(slow[k]))
          << "line \"" << line << "\", score " << k;
  }
}

TEST(ProfileReading, KeepsPositionsInFileOrderAndStopsAfterTheLast) {
  fixtures::TempDir dir;
  const std::string path =
      dir.write("p.prf", "(Peptide) a b Length: 3\nx\nA 1\nB 2\nC 3\nD 4\n");
  const Profile read = read_prf_file(path);
  ASSERT_EQ(read.length(), 3);
  EXPECT_EQ(read.row(0)[0], 1.0);
  EXPECT_EQ(read.row(1)[0], 2.0);
  EXPECT_EQ(read.row(2)[0], 3.0);
  EXPECT_EQ(read.name(), "p");
}

struct ParamCase {
  const char* name;
  std::string text;
  bool accepted;
  double open_prf;  // expected gap_open_penalty_prf when accepted
  bool free_beg;    // expected prf_free_beg when accepted
};

void PrintTo(const ParamCase& c, std::ostream* os) { *os << c.name; }

const std::string kRest =
    "PRF_DELETION_PENALTY 1\nSEQ_GAP_OPEN_PENALTY 1\nSEQ_DELETION_PENALTY 1\n"
    "PRF_FREE_END NO\nSEQ_FREE_BEG NO\nSEQ_FREE_END NO\nSHOW_ALIGNMENT NO\n";

const ParamCase kParams[] = {
    {"AllNine", "PRF_GAP_OPEN_PENALTY 3\nPRF_FREE_BEG YES\n" + kRest, 1, 3, 1},
    {"ValueAfterTab", "PRF_GAP_OPEN_PENALTY\t3\nPRF_FREE_BEG\tYES\n" + kRest, 1, 3, 1},
    {"ValueGlued", "PRF_GAP_OPEN_PENALTY32\nPRF_FREE_BEGYES\n" + kRest, 1, 2, 0},
    {"YesGluedAfterSeparator", "PRF_GAP_OPEN_PENALTY 3\nPRF_FREE_BEG=YESPLEASE\n" + kRest, 1, 3, 1},
    {"LowerCaseYes", "PRF_GAP_OPEN_PENALTY 3\nPRF_FREE_BEG yes\n" + kRest, 1, 3, 0},
    {"PenaltyWithText", "PRF_GAP_OPEN_PENALTY abc\nPRF_FREE_BEG YES\n" + kRest, 0, 0, 0},
    {"PenaltyWithNothing", "PRF_GAP_OPEN_PENALTY   \nPRF_FREE_BEG YES\n" + kRest, 0, 0, 0},
    {"PenaltyKeyEndsFile", "PRF_FREE_BEG YES\n" + kRest + "PRF_GAP_OPEN_PENALTY", 0, 0, 0},
    {"SwitchKeyEndsFile", "PRF_GAP_OPEN_PENALTY 3\n" + kRest + "PRF_FREE_BEG", 1, 3, 0},
    {"TextMissingCompensated",
     "PRF_GAP_OPEN_PENALTY 3\nPRF_GAP_OPEN_PENALTY abc\nPRF_FREE_BEG YES\n" + kRest, 1, 3, 1},
    {"NothingMissingCompensatedByRepeat",
     "PRF_GAP_OPEN_PENALTY 3\nPRF_GAP_OPEN_PENALTY\nPRF_FREE_BEG YES\nPRF_FREE_BEG NO\n" + kRest,
     1, 3, 0},
    {"RepeatedSwitchReplacesOmittedKey",
     "PRF_FREE_BEG YES\nPRF_FREE_BEG YES\n" + kRest, 1, 0, 1},
    {"TenKeyLines", "PRF_GAP_OPEN_PENALTY 3\nPRF_FREE_BEG YES\nPRF_FREE_BEG NO\n" + kRest, 0, 0, 0},
    {"KeyNotAtLineStart", " PRF_GAP_OPEN_PENALTY 3\nPRF_FREE_BEG YES\n" + kRest, 0, 0, 0},
    {"LowerCaseKeyIgnored", "prf_gap_open_penalty 3\nPRF_FREE_BEG YES\n" + kRest, 0, 0, 0},
};

class ParamReading : public testing::TestWithParam<ParamCase> {};

TEST_P(ParamReading, CountsKeyLinesAndStoresValues) {
  const ParamCase& c = GetParam();
  fixtures::TempDir dir;
  const std::string path = dir.write("g.par", c.text);
  ParamValues read;
  try {
    read = read_param_file(path);
  } catch (const InputError& e) {
    ASSERT_FALSE(c.accepted) << e.what();
    EXPECT_TRUE(e.messages().empty());
    EXPECT_EQ(e.file(), path);
    return;
  }
  ASSERT_TRUE(c.accepted);
  EXPECT_EQ(read.gap_open_penalty_prf, c.open_prf);
  EXPECT_EQ(read.deletion_penalty_prf, 1.0);
  EXPECT_EQ(read.prf_free_beg, c.free_beg);
}

INSTANTIATE_TEST_SUITE_P(Input, ParamReading, testing::ValuesIn(kParams),
                         [](const auto& info) { return std::string(info.param.name); });

struct SwitchCase {
  std::array<bool, 4> in;  // prf_free_beg, prf_free_end, seq_free_beg, seq_free_end
  StartMode start;
  EndMode end;
};

TEST(SetParameters, FoldsPairsIntoTheLocalModes) {
  using S = StartMode;
  using E = EndMode;
  const SwitchCase cases[] = {
      {{0, 0, 0, 0}, S::global, E::global},     {{1, 0, 0, 0}, S::prf_free, E::global},
      {{0, 1, 0, 0}, S::global, E::prf_free},   {{0, 0, 1, 0}, S::seq_free, E::global},
      {{0, 0, 0, 1}, S::global, E::seq_free},   {{1, 0, 1, 0}, S::local, E::global},
      {{0, 1, 0, 1}, S::global, E::local},      {{1, 1, 1, 1}, S::local, E::local},
      {{1, 1, 0, 0}, S::prf_free, E::prf_free}, {{0, 0, 1, 1}, S::seq_free, E::seq_free},
      {{1, 1, 1, 0}, S::local, E::prf_free},    {{0, 1, 1, 1}, S::seq_free, E::local},
  };
  for (const SwitchCase& c : cases) {
    ParamValues v;
    v.gap_open_penalty_prf = 1;
    v.deletion_penalty_prf = 2;
    v.gap_open_penalty_seq = 3;
    v.deletion_penalty_seq = 4;
    v.prf_free_beg = c.in[0];
    v.prf_free_end = c.in[1];
    v.seq_free_beg = c.in[2];
    v.seq_free_end = c.in[3];
    v.show_alignment = true;
    const Settings s = set_parameters(v);
    EXPECT_EQ(s.start, c.start) << c.in[0] << c.in[1] << c.in[2] << c.in[3];
    EXPECT_EQ(s.end, c.end) << c.in[0] << c.in[1] << c.in[2] << c.in[3];
    EXPECT_EQ((std::array{s.gap_open_penalty_prf, s.deletion_penalty_prf, s.gap_open_penalty_seq,
                          s.deletion_penalty_seq}),
              (std::array{1.0, 2.0, 3.0, 4.0}));
  }
}

TEST(LineReader, ReadsLinesWhateverTheirLength) {
  fixtures::TempDir dir;
  const std::string long_line(100000, 'x');
  const std::string path = dir.write("f.txt", long_line + "\nshort\nlast");
  LineReader file(path);
  std::string line;
  ASSERT_TRUE(file.next(line));
  EXPECT_EQ(line, long_line + "\n");
  ASSERT_TRUE(file.next(line));
  EXPECT_EQ(line, "short\n");
  ASSERT_TRUE(file.next(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(file.next(line));
}

// Gives `good` bytes of text, then fails.
class FailingSource : public ByteSource {
 public:
  explicit FailingSource(std::size_t good) : good_(good) {}
  std::size_t read(char* buffer, std::size_t n) override {
    if (given_ == good_) throw std::runtime_error("Input/output error");
    const std::size_t take = std::min(n, good_ - given_);
    for (std::size_t k = 0; k < take; ++k) buffer[k] = (given_ + k) % 10 == 9 ? '\n' : 'A';
    given_ += take;
    return take;
  }
  std::uint64_t position() const override { return given_; }

 private:
  std::size_t good_, given_ = 0;
};

TEST(LineReader, AFailedReadIsAnErrorNotTheEnd) {
  LineReader file(std::make_unique<FailingSource>(100000), "disk.fa");
  std::string line;
  int lines = 0;
  try {
    while (file.next(line)) ++lines;
    FAIL() << "the failed read ended the file after " << lines << " lines";
  } catch (const InputError& e) {
    EXPECT_EQ(e.kind(), InputError::Kind::read);
    EXPECT_STREQ(e.what(), "disk.fa: cannot read (Input/output error)");
  }
  EXPECT_EQ(lines, 10000);
}

TEST(LineReader, GzipIsReadLikeTheTextItHolds) {
  fixtures::TempDir dir;
  std::string text;
  for (int k = 0; k < 5000; ++k) text += ">r" + std::to_string(k) + " d\nACDEF\nGHIK\n";
  const std::string plain = dir.write("s.fa", text);
  ASSERT_EQ(std::system(("gzip -c " + fixtures::shell_quote(plain) + " > " +
                         fixtures::shell_quote(plain + ".gz")).c_str()),
            0);
  for (const std::string& path : {plain, plain + ".gz"}) {
    LineReader file(path, LineReader::Compression::gzip);
    std::string line, all;
    while (file.next(line)) all += line;
    EXPECT_EQ(all, text) << path;
  }
}

TEST(LineReader, DamagedGzipIsAReadError) {
  fixtures::TempDir dir;
  const std::string plain = dir.write("s.fa", std::string(100000, 'A') + "\n");
  const std::string zipped = plain + ".gz";
  ASSERT_EQ(std::system(("gzip -c " + fixtures::shell_quote(plain) + " | head -c 60 > " +
                         fixtures::shell_quote(zipped)).c_str()),
            0);
  LineReader file(zipped, LineReader::Compression::gzip);
  std::string line;
  EXPECT_THROW(while (file.next(line)) {}, InputError);
}

TEST(LineReader, DirectoriesAndMissingFilesDoNotOpen) {
  fixtures::TempDir dir;
  for (const auto& [path, reason] : {std::pair{dir.path().string(), "Is a directory"},
                                     std::pair{(dir.path() / "missing").string(), "No such file or directory"}}) {
    try {
      LineReader file(path);
      ADD_FAILURE() << path << " opened";
    } catch (const InputError& e) {
      EXPECT_EQ(e.kind(), InputError::Kind::open);
      EXPECT_EQ(e.what(), path + ": cannot open (" + reason + ")");
    }
  }
}

}  // namespace
