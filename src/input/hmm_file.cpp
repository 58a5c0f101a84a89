// HMMER3 ASCII save files. Per model: "HMMER3/x" line, header lines (NAME,
// LENG, ALPH, CONS, ...), the "HMM" line naming the emission columns, a
// line of transition names, an optional COMPO line, node 0 (insert
// emissions, transitions), then per node k a match line (k, 20 emissions as
// -ln p, then MAP, a consensus letter from format 3/e on, RF, ...), an insert
// emission line and a transition line; "//" ends the model.
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

#include "input/input.h"
#include "input/text_lines.h"

namespace tormid {

namespace {

// A model as read: its name, the letter of each position, its rows.
struct Model {
  std::string name;
  ProfileNotes notes;
  std::string labels;
  std::vector<ProfileRow> rows;
};

// 2 log2(p / f) from -ln p; a zero probability gets kImpossibleScore.
double half_bits(double minus_ln_p, int column) {
  const double score = 2.0 * (-minus_ln_p - std::log(background[static_cast<std::size_t>(column)])) / std::log(2.0);
  return score < kImpossibleScore ? kImpossibleScore : without_negative_zero(score);
}

constexpr double kLongestModel = 1e7;

std::string trimmed_cutoff(std::string word) {
  if (!word.empty() && word.back() == ';') word.pop_back();
  return word;
}

// The annotation fields after the emissions of a match line: MAP, RF, CS;
// from 3/e on also the consensus residue; from 3/f on also MM. Each is
// "-" where the header says the model has none.
std::size_t annotation_fields(char format) { return format >= 'f' ? 5 : format == 'e' ? 4 : 3; }

// Reads one model; the "HMMER3/" line has been read.
Model read_model(NumberedLines& in, char format) {
  Model m;
  std::string line;
  int length = -1;
  bool has_consensus = false;
  std::vector<std::string> words;
  auto next_line = [&](const std::string& what_is_missing) {
    if (!in.next(line)) in.fail("the file ends " + what_is_missing);
    words = split_words(line);
  };
  // A line of numbers that must have `fields` of them.
  auto expect_fields = [&](std::size_t fields, const std::string& what) {
    if (words.size() != fields)
      in.fail(what + " has " + std::to_string(words.size()) + " fields where " + std::to_string(fields) +
              " are expected");
  };

  // Header, up to the HMM line.
  for (;;) {
    next_line("before the model's HMM line");
    if (words.empty()) continue;
    const std::string& tag = words[0];
    if (tag == "HMM") break;
    if (tag == "NAME" && words.size() > 1) m.name = words[1];
    if (tag == "ACC" && words.size() > 1) m.notes.accession = words[1];
    if (tag == "DESC") m.notes.description = rest_after_word(line, 0);
    if (std::optional<BitCutoff>* cutoff = cutoff_named(m.notes, tag)) {
      // Pfam writes "GA 27.00 13.70;" in older models: the semicolon is
      // not part of the number.
      double sequence = 0, domain = 0;
      if (words.size() < 3 || !parse_number(trimmed_cutoff(words[1]), sequence) ||
          !parse_number(trimmed_cutoff(words[2]), domain))
        in.fail(tag + " should give two bit scores, the sequence's and the domain's");
      *cutoff = BitCutoff{sequence, domain};
    }
    if (tag == "STATS" && words.size() >= 3 && words[1] == "LOCAL" && words[2] == "FORWARD") {
      double tau = 0, lambda = 0;
      if (words.size() < 5 || !parse_number(words[3], tau) || !parse_number(words[4], lambda) || !(lambda > 0))
        in.fail("STATS LOCAL FORWARD should give tau and a positive lambda");
      m.notes.forward = ForwardLaw{tau, lambda};
    }
    if (tag == "LENG") {
      double value = 0;
      if (words.size() < 2 || !parse_number(words[1], value) || value < 1 || value != std::floor(value))
        in.fail("LENG is not a positive whole number");
      if (value > kLongestModel)
        in.fail("LENG " + words[1] + " is larger than the longest model tormid reads (10,000,000 positions)");
      length = static_cast<int>(value);
    }
    if (tag == "ALPH" && (words.size() < 2 || words[1] != "amino"))
      in.fail("not a protein model: ALPH is " + (words.size() > 1 ? words[1] : std::string("empty")) +
              ", tormid needs amino");
    if (tag == "CONS") has_consensus = words.size() > 1 && words[1] == "yes";
  }
  if (length < 0) in.fail("no LENG line before the HMM line");
  int columns[20];
  bool seen[20] = {};
  if (words.size() != 21) in.fail("the HMM line should name the 20 amino acids");
  for (int x = 0; x < 20; ++x) {
    columns[x] = words[x + 1].size() == 1 ? getIndex(words[x + 1][0]) : -1;
    if (columns[x] < 0 || seen[columns[x]]) in.fail("the HMM line should name the 20 amino acids");
    seen[columns[x]] = true;
  }
  next_line("after the HMM line");  // transition names
  next_line("before node 0");
  if (!words.empty() && words[0] == "COMPO") {
    expect_fields(21, "the COMPO line");
    next_line("before node 0");
  }
  expect_fields(20, "node 0's insert emission line");
  next_line("inside node 0");
  expect_fields(7, "node 0's transition line");

  const bool consensus_column = format >= 'e' && has_consensus;
  for (int k = 1; k <= length; ++k) {
    const std::string node = "node " + std::to_string(k);
    next_line("inside the model, before " + node + " of " + std::to_string(length));
    if (words.size() < 21 || words[0] != std::to_string(k))
      in.fail("expected the match emission line of " + node + " (" + std::to_string(k) +
              " and 20 emission scores)");
    expect_fields(21 + annotation_fields(format),
                  node + "'s match emission line (its number, 20 emission scores, " +
                      std::to_string(annotation_fields(format)) + " annotations in HMMER3/" + format + ")");
    ProfileRow scores{};
    int best = 0;
    double best_p = -1;
    for (int x = 0; x < 20; ++x) {
      double minus_ln_p = INFINITY;
      if (words[x + 1] != "*" && (!parse_number(words[x + 1], minus_ln_p) || minus_ln_p < 0))
        in.fail(node + ": '" + words[x + 1] + "' is not an emission score (-ln p, or *)");
      scores[columns[x]] = words[x + 1] == "*" ? kImpossibleScore : half_bits(minus_ln_p, columns[x]);
      const double p = std::exp(-minus_ln_p);
      if (p > best_p) {
        best_p = p;
        best = columns[x];
      }
    }
    char letter = 0;
    if (consensus_column && words.size() > 22 && words[22].size() == 1 &&
        std::isalpha(static_cast<unsigned char>(words[22][0])))
      letter = words[22][0];
    if (!letter) {  // most probable residue, upper case where conserved as HMMER marks it
      letter = alphabet[best];
      if (best_p < 0.5) letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    }
    m.labels.push_back(letter);
    m.rows.push_back(scores);
    next_line("inside " + node + ", before its insert emission line");
    expect_fields(20, node + "'s insert emission line");
    next_line("inside " + node + ", before its transition line");
    expect_fields(7, node + "'s transition line");
  }
  do {
    next_line("before the // that closes the model");
  } while (words.empty());
  if (words[0] != "//") in.fail("expected // after node " + std::to_string(length));
  if (m.name.empty()) m.name = "unnamed";
  return m;
}

ConvertedProfile converted(Model m) {
  return {Profile(std::move(m.rows), profile_word(m.name), std::move(m.notes)), std::move(m.labels)};
}

// Reads models one after the other until take(model) returns true; at the
// end of the file that is an error when a model named `wanted` was sought.
template <class Take>
void read_models(NumberedLines& in, Take take, const std::string& wanted) {
  std::string line;
  bool first = true;
  for (;;) {
    bool found = false;
    while (!found && in.next(line)) found = !split_words(line).empty();
    if (!found) {
      if (first) in.fail("not an HMMER3 profile HMM file: it is empty");
      if (!wanted.empty()) throw InputError(in.path(), 0, "no model named '" + wanted + "'");
      return;
    }
    if (line.compare(0, 6, "HMMER2") == 0)
      in.fail("an HMMER2 model: tormid reads HMMER3 models (HMMER's hmmconvert writes them)");
    if (line.compare(0, 7, "HMMER3/") != 0)
      in.fail(first ? "not an HMMER3 profile HMM file: the first line should start with HMMER3/"
                    : "expected HMMER3/ at the start of the next model");
    first = false;
    if (take(read_model(in, line.size() > 7 ? line[7] : 'a'))) return;
  }
}

}  // namespace

std::vector<ConvertedProfile> read_hmm_models(NumberedLines& in) {
  std::vector<ConvertedProfile> models;
  read_models(
      in,
      [&](Model m) {
        models.push_back(converted(std::move(m)));
        return false;
      },
      "");
  return models;
}

std::vector<ConvertedProfile> read_hmm_models(const std::string& path) {
  NumberedLines in(path);
  return read_hmm_models(in);
}

ConvertedProfile read_hmm(const std::string& path, const std::string& name) {
  NumberedLines in(path);
  std::optional<ConvertedProfile> chosen;
  read_models(
      in,
      [&](Model m) {
        if (!name.empty() && m.name != name) return false;
        chosen = converted(std::move(m));
        return true;
      },
      name);
  return std::move(*chosen);
}

}  // namespace tormid
