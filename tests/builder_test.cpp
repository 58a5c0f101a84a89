// Profiles from one protein or an alignment: the alignment reader's
// refusals, the columns an alignment gives, what one sequence's profile
// does with that sequence, and what sequence weights do to a family
// swollen with copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "search/search.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;

std::string refusal(const std::string& path) {
  try {
    build_profiles(path);
  } catch (const InputError& e) {
    return e.what();
  }
  return "accepted";
}

struct BadAlignment {
  const char* what;
  const char* name;
  const char* text;
  const char* message;  // after "PATH"
};

// Every refusal names the file, the line where there is one, and the reason.
TEST(AlignmentFiles, EachFaultIsRefusedWithItsLine) {
  const BadAlignment cases[] = {
      {"ragged Stockholm rows", "a.sto", "# STOCKHOLM 1.0\nx ACDE\ny ACD\n//\n",
       ":3: ragged rows: sequence y has 3 columns, sequence x 4"},
      {"ragged FASTA rows", "a.fa", ">x\nAC-DE\n>y\nAC-D\n", ":3: ragged rows: sequence y has 4 columns, sequence x 5"},
      {"an unknown character", "a.sto", "# STOCKHOLM 1.0\nx AC*E\n//\n", ":2: unknown character '*' in sequence x"},
      {"a digit in aligned FASTA", "a.fa", ">x\nAC-1E\n", ":2: unknown character '1' in sequence x"},
      {"no sequences", "a.sto", "# STOCKHOLM 1.0\n#=GF ID empty\n//\n", ":3: an alignment without sequences"},
      {"an empty FASTA file", "a.fa", "\n\n", ": the file is empty"},
      {"a sequence of only gaps", "a.sto", "# STOCKHOLM 1.0\nx AC-E\ny ..-.\n//\n",
       ":3: sequence y holds only gaps"},
      {"a record without residues", "a.fa", ">x\nACDE\n>y\n\n", ":3: sequence y has no residues"},
      {"no closing //", "a.sto", "# STOCKHOLM 1.0\nx ACDE\n", ":2: the alignment ends without its closing \"//\""},
      {"a reference of another length", "a.sto", "# STOCKHOLM 1.0\nx ACDE\n#=GC RF xx.\n//\n",
       ":3: the #=GC RF line has 3 columns, the sequences 4"},
      {"a reference marking nothing", "a.sto", "# STOCKHOLM 1.0\nx ACDE\n#=GC RF ....\n//\n",
       ":3: the #=GC RF line marks no column"},
      {"a name twice in one block", "a.sto", "# STOCKHOLM 1.0\nx AC\nx DE\n//\n",
       ":3: sequence x appears twice in one block"},
      {"neither format", "a.txt", "\nhello\n", ":2: neither a Stockholm alignment (\"# STOCKHOLM 1.0\") nor FASTA (\">name\")"},
      {"no column half filled", "a.sto", "# STOCKHOLM 1.0\nw A--D--\nx -C--E-\ny --F--G\n//\n",
       ": alignment a: no column has residues in at least half of its weighted sequences"},
  };
  fixtures::TempDir dir;
  for (const BadAlignment& c : cases) {
    const std::string path = dir.write(c.name, c.text);
    EXPECT_EQ(refusal(path), path + c.message) << c.what;
  }
}

// The interleaved blocks of a Stockholm file, its IDs and several
// alignments; an A2M file's model columns; unaligned FASTA as a family per
// sequence.
TEST(AlignmentFiles, FamiliesAsTheFilesGiveThem) {
  fixtures::TempDir dir;
  const std::vector<SequenceAlignment> two = read_alignments(dir.write(
      "two.sto", "# STOCKHOLM 1.0\n#=GF ID first\nx AC\ny AD\n\nx -E\ny FE\n//\n# STOCKHOLM 1.0\nz MKV\n//\n"));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].name, "first");
  EXPECT_EQ(two[0].rows, (std::vector<std::string>{"AC-E", "ADFE"}));
  EXPECT_EQ(two[1].name, "two_2");
  const std::vector<SequenceAlignment> a2m =
      read_alignments(dir.write("fam.a2m", ">x\nAC-DE\n>y\nACkkWDE\n>z\nA.C.-aD.E\n"));
  ASSERT_EQ(a2m.size(), 1u);
  EXPECT_EQ(a2m[0].kind, SequenceAlignment::Kind::a2m);
  EXPECT_EQ(a2m[0].rows, (std::vector<std::string>{"AC..-.DE", "ACkkW.DE", "AC..-aDE"}));
  EXPECT_EQ(a2m[0].reference, "xx..x.xx");
  EXPECT_EQ(family_of(a2m[0]).residues, (std::vector<std::string>{"AC-DE", "ACWDE", "AC-DE"}));
  const std::vector<SequenceAlignment> unaligned = read_alignments(dir.write("q.fa", ">p one\nMKV\n>q\nWWW\n"));
  ASSERT_EQ(unaligned.size(), 2u);
  EXPECT_EQ(unaligned[1].name, "q");
  EXPECT_EQ(build_profiles(dir.path() / "q.fa").front().profile.length(), 3);
}

// An alignment with a reference keeps exactly the columns it marks, also
// one nearly all gaps, and not one full of residues it leaves unmarked;
// without one, the columns at least half filled (weighted).
TEST(AlignmentColumns, TheReferenceDecides) {
  std::mt19937 rng(4);
  const std::string letters = "ACDEFGHIKLMNPQRSTVWY";
  for (int round = 0; round < 20; ++round) {
    const std::size_t columns = 5 + rng() % 30, rows = 2 + rng() % 8;
    SequenceAlignment a;
    a.name = "fam";
    for (std::size_t r = 0; r < rows; ++r) {
      std::string row;
      for (std::size_t c = 0; c < columns; ++c) row += rng() % 3 == 0 ? '-' : letters[rng() % letters.size()];
      row[0] = 'A';  // no row of gaps only
      a.names.push_back(fixtures::numbered("s", static_cast<int>(r)));
      a.rows.push_back(row);
    }
    std::string reference;
    for (std::size_t c = 0; c < columns; ++c) reference += rng() % 2 ? 'x' : '.';
    reference[0] = 'x';
    a.reference = reference;
    const Family family = family_of(a);
    ASSERT_EQ(family.positions, std::count(reference.begin(), reference.end(), 'x'));
    for (std::size_t r = 0; r < rows; ++r) {
      std::string kept;
      for (std::size_t c = 0; c < columns; ++c)
        if (reference[c] == 'x') kept += a.rows[r][c];
      EXPECT_EQ(family.residues[r], kept);
    }
  }
  SequenceAlignment plain;
  plain.name = "plain";
  plain.names = {"a", "b", "c", "d"};
  // Weights 1, 1, 1.5 and 0.5: column 2 holds half the weight, column 3
  // three eighths.
  plain.rows = {"AC-D", "AC-D", "A-WD", "A--D"};
  EXPECT_EQ(family_of(plain).residues, (std::vector<std::string>{"ACD", "ACD", "A-D", "A-D"}));
}

// A profile of one protein aligns the protein to itself along the whole
// diagonal, at the best score any sequence can reach: each residue scores
// its own highest against itself.
TEST(OneSequence, AlignsItselfAlongTheDiagonalAtTheTopScore) {
  synthetic::Random rng(12);
  const Settings local = mode_settings(SearchMode::local);
  for (int round = 0; round < 30; ++round) {
    const std::string sequence = synthetic::protein(rng, 20 + rng.below(300));
    const BuiltProfile built = build_profile({"q", static_cast<int>(sequence.size()), {"q"}, {sequence}});
    ASSERT_TRUE(built.report.from_matrix);
    EXPECT_EQ(built.labels, sequence);
    double top = 0;
    for (const ProfileRow& row : built.profile.rows()) top += *std::max_element(row.begin(), row.end());
    Workspace workspace;
    const Alignment a = align(built.profile, local, sequence, workspace, Detail::display);
    EXPECT_EQ(a.score, top);
    EXPECT_EQ(a.seq_from, 1);
    EXPECT_EQ(a.prf_from, 1);
    EXPECT_EQ(a.seq_to, static_cast<int>(sequence.size()));
    EXPECT_EQ(a.prf_to, static_cast<int>(sequence.size()));
    EXPECT_EQ(a.seq_line.find('.'), std::string::npos);
  }
}

double mean_difference(const Profile& a, const Profile& b) {
  double sum = 0;
  for (int k = 0; k < a.length(); ++k)
    for (std::size_t r = 0; r < kAlphabetSize; ++r) sum += std::fabs(a.row(k)[r] - b.row(k)[r]);
  return sum / (a.length() * kAlphabetSize);
}

// Fifty copies of one member beside three others weigh about as one: the
// profile is nearly that of the four, and far from that of the copied
// member alone. Members of a synthetic family, aligned without gaps.
TEST(SequenceWeights, FiftyCopiesWeighAsOne) {
  synthetic::Random rng(50);
  for (int round = 0; round < 5; ++round) {
    const synthetic::Family f = synthetic::family(rng, "fam", 60 + rng.below(100), 0.5);
    std::vector<std::string> members;
    for (int k = 0; k < 4; ++k) {
      std::string m;
      for (const auto& emissions : f.emissions) m += alphabet[rng.residue(emissions)];
      members.push_back(m);
    }
    Family four{"fam", f.profile.length(), {"a", "b", "c", "d"}, members};
    Family swollen = four;
    for (int k = 0; k < 49; ++k) {
      swollen.names.push_back(fixtures::numbered("copy", k));
      swollen.residues.push_back(members[0]);
    }
    Family copied{"fam", f.profile.length(), {}, {}};
    for (int k = 0; k < 50; ++k) {
      copied.names.push_back(fixtures::numbered("copy", k));
      copied.residues.push_back(members[0]);
    }
    const Profile of_four = build_profile(four).profile, of_swollen = build_profile(swollen).profile,
                  of_copies = build_profile(copied).profile;
    const double near = mean_difference(of_swollen, of_four), far = mean_difference(of_copies, of_four);
    EXPECT_LT(near, 0.5) << round;
    EXPECT_LT(3 * near, far) << round;
  }
}

}  // namespace
