// PSI-BLAST ASCII PSSMs (-out_ascii_pssm): some title lines, a column
// header naming the amino acids (twice: scores, then percentages), then one
// line per position: its number, its residue, 20 scores, more numbers. A
// blank line or the statistics after the last position end the matrix.
#include <cctype>
#include <cmath>
#include <cstring>

#include "input/input.h"
#include "input/text_lines.h"

namespace tormid {

namespace {

// The first 20 words name the 20 amino acids; columns[k] is the profile
// column of the k-th score.
bool is_column_header(const std::vector<std::string>& words, int columns[20]) {
  if (words.size() < 20) return false;
  bool seen[20] = {};
  for (int k = 0; k < 20; ++k) {
    if (words[k].size() != 1) return false;
    const char* at = std::strchr(alphabet, words[k][0]);
    if (!at || !*at || seen[at - alphabet]) return false;
    columns[k] = static_cast<int>(at - alphabet);
    seen[columns[k]] = true;
  }
  return true;
}

bool starts_position(const std::vector<std::string>& words) {
  double number = 0;
  return words.size() >= 2 && parse_number(words[0], number);
}

// A word for the profile header: the file's name without its directories
// and extensions.
std::string header_word(const std::string& path) {
  const std::string name = profile_word(name_from_path(path));
  return name.empty() ? "pssm" : name;
}

}  // namespace

ConvertedProfile read_pssm(const std::string& path) {
  NumberedLines in(path);
  return read_pssm(in);
}

ConvertedProfile read_pssm(NumberedLines& in) {
  std::string labels;
  std::vector<ProfileRow> rows;
  std::string line;
  int columns[20];
  bool header = false;
  // A position line: its number, its residue, one number per column of the
  // header (the scores, then the percentages), and perhaps the information
  // and the weight.
  std::size_t fields = 0;
  while (!header) {
    if (!in.next(line)) in.fail("no column header (A R N D C Q E G H I L K M F P S T W Y V) found");
    const std::vector<std::string> words = split_words(line);
    if (is_column_header(words, columns)) {
      header = true;
      fields = 2 + words.size();
    }
    else if (starts_position(words))
      in.fail("a position line before the column header (A R N D C Q E G H I L K M F P S T W Y V)");
  }
  while (in.next(line)) {
    const std::vector<std::string> words = split_words(line);
    if (words.empty() && rows.empty()) continue;
    if (!starts_position(words)) break;
    const int position = static_cast<int>(rows.size()) + 1;
    if (words[0] != std::to_string(position))
      in.fail("expected position " + std::to_string(position) + ", found '" + words[0] + "'");
    if (words.size() < 22)
      in.fail("position " + std::to_string(position) + " has fewer than 20 scores");
    if (words.size() != fields && words.size() != fields + 2)
      in.fail("position " + std::to_string(position) + " has " + std::to_string(words.size()) + " fields where " +
              std::to_string(fields) + " or " + std::to_string(fields + 2) +
              " are expected (its number, its residue, a number for each column of the header, then "
              "perhaps two more)");
    if (words[1].size() != 1 || !std::isalpha(static_cast<unsigned char>(words[1][0])))
      in.fail("position " + std::to_string(position) + ": '" + words[1] + "' is not a residue letter");
    ProfileRow scores{};
    for (int k = 0; k < 20; ++k) {
      double value = 0;
      if (!parse_number(words[k + 2], value) || value != std::floor(value))
        in.fail("position " + std::to_string(position) + ": '" + words[k + 2] +
                "' is not a whole-number score");
      scores[columns[k]] = without_negative_zero(value);
    }
    labels.push_back(words[1][0]);
    rows.push_back(scores);
  }
  if (rows.empty()) in.fail("no position lines after the column header");
  return {Profile(std::move(rows), header_word(in.path())), std::move(labels)};
}

}  // namespace tormid
