// Families as people keep them: Stockholm (several alignments a file,
// interleaved blocks, "#=GF ID", "#=GC RF"), aligned FASTA, A2M, and
// unaligned FASTA (each sequence a family of its own). Rows keep their
// gaps; every refusal names the file, the line and the reason.
#include <algorithm>
#include <map>
#include <set>

#include "input/input.h"
#include "input/text_lines.h"

namespace tormid {

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_gap(char c) { return c == '-' || c == '.' || c == '_' || c == '~'; }
bool is_blank(const std::string& line) { return line.find_first_not_of(" \t\r\n") == std::string::npos; }

// A character as a message shows it.
std::string shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u > 0x20 && u < 0x7f) return std::string("'") + c + "'";
  const char digits[] = "0123456789ABCDEF";
  return std::string("byte \\x") + digits[u >> 4] + digits[u & 15];
}

// Appends the non-blank characters of text to row; a character that is
// neither a letter nor a gap is refused at the line.
void append_row(const NumberedLines& in, const std::string& name, const std::string& text, std::string& row) {
  for (const char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (!is_letter(c) && !is_gap(c)) in.fail("unknown character " + shown(c) + " in sequence " + name);
    row += c;
  }
}

struct Row {
  std::string name, text;
  int line = 0;  // where it starts
};

// The checks every aligned family passes: some rows, all of one length,
// none only gaps, and a reference of that length marking some column.
void check_rows(const std::string& path, const std::vector<Row>& rows, const std::string& reference,
                int reference_line, int end_line) {
  if (rows.empty()) throw InputError(path, end_line, "an alignment without sequences");
  for (const Row& r : rows) {
    if (r.text.size() != rows.front().text.size())
      throw InputError(path, r.line,
                       "ragged rows: sequence " + r.name + " has " + std::to_string(r.text.size()) +
                           " columns, sequence " + rows.front().name + " " + std::to_string(rows.front().text.size()));
    if (std::none_of(r.text.begin(), r.text.end(), is_letter))
      throw InputError(path, r.line, "sequence " + r.name + " holds only gaps");
  }
  if (reference.empty()) return;
  if (reference.size() != rows.front().text.size())
    throw InputError(path, reference_line,
                     "the #=GC RF line has " + std::to_string(reference.size()) + " columns, the sequences " +
                         std::to_string(rows.front().text.size()));
  if (std::all_of(reference.begin(), reference.end(), is_gap))
    throw InputError(path, reference_line, "the #=GC RF line marks no column");
}

SequenceAlignment alignment_of(SequenceAlignment::Kind kind, std::string name, std::vector<Row>& rows,
                               std::string reference) {
  SequenceAlignment a;
  a.kind = kind;
  a.name = std::move(name);
  for (Row& r : rows) {
    a.names.push_back(std::move(r.name));
    a.rows.push_back(std::move(r.text));
  }
  a.reference = std::move(reference);
  return a;
}

// ---- Stockholm --------------------------------------------------------------

std::vector<SequenceAlignment> read_stockholm(NumberedLines& in) {
  const std::string& path = in.path();
  std::vector<SequenceAlignment> alignments;
  std::string line;
  bool open = false;  // inside an alignment, after its header
  std::string id, reference;
  int reference_line = 0;
  std::vector<Row> rows;
  std::map<std::string, std::size_t> row_of;
  std::set<std::string> in_block;
  while (in.next(line)) {
    if (!open) {
      if (is_blank(line)) continue;
      if (line.rfind("# STOCKHOLM", 0) != 0) in.fail("expected \"# STOCKHOLM 1.0\" to start an alignment");
      open = true;
      id.clear();
      reference.clear();
      rows.clear();
      row_of.clear();
      in_block.clear();
      continue;
    }
    if (is_blank(line)) {
      in_block.clear();
      continue;
    }
    const std::vector<std::string> words = split_words(line);
    if (words[0] == "//") {
      check_rows(path, rows, reference, reference_line, in.number());
      std::string name = !id.empty() ? id : name_from_path(path);
      if (alignments.size() > 0 && id.empty()) name.append("_").append(std::to_string(alignments.size() + 1));
      alignments.push_back(alignment_of(SequenceAlignment::Kind::stockholm, std::move(name), rows, reference));
      open = false;
      continue;
    }
    if (words[0] == "#=GF") {
      if (words.size() >= 3 && words[1] == "ID") id = words[2];
      continue;
    }
    if (words[0] == "#=GC") {
      if (words.size() >= 2 && words[1] == "RF") {
        if (words.size() != 3) in.fail("a #=GC RF line holds one word of marks");
        if (reference.empty()) reference_line = in.number();
        reference += words[2];
      }
      continue;
    }
    if (words[0][0] == '#') continue;  // #=GS, #=GR and comments
    if (words.size() != 2) in.fail("a sequence line is a name and its aligned residues, without blanks between");
    if (!in_block.insert(words[0]).second) in.fail("sequence " + words[0] + " appears twice in one block");
    auto [at, added] = row_of.emplace(words[0], rows.size());
    if (added) rows.push_back({words[0], {}, in.number()});
    append_row(in, words[0], words[1], rows[at->second].text);
  }
  if (open) in.fail("the alignment ends without its closing \"//\"");
  if (alignments.empty()) throw InputError(path, 0, "an alignment without sequences");
  return alignments;
}

// ---- FASTA: aligned, A2M or unaligned -----------------------------------------

bool has_gap(const std::string& s) { return std::any_of(s.begin(), s.end(), is_gap); }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// The model's columns of an A2M row: upper-case letters and '-'.
std::size_t a2m_columns(const std::string& row) {
  return static_cast<std::size_t>(std::count_if(row.begin(), row.end(), [](char c) { return is_upper(c) || c == '-'; }));
}

// A2M rows as an alignment: the insertions after each of the model's
// columns padded to the longest, the model's columns marked 'x' in the
// reference.
void expand_a2m(std::vector<Row>& rows, std::string& reference) {
  const std::size_t columns = a2m_columns(rows.front().text);
  std::vector<std::size_t> widest(columns + 1, 0);  // insertions before model column k
  std::vector<std::vector<std::string>> pieces(rows.size(), std::vector<std::string>(columns + 1));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::size_t k = 0;
    std::string* inserted = &pieces[r][0];
    std::string matched;
    for (const char c : rows[r].text) {
      if (is_upper(c) || c == '-') {
        matched += c;
        inserted = &pieces[r][++k];
      } else if (is_lower(c)) {
        *inserted += c;
      }
    }
    for (std::size_t i = 0; i <= columns; ++i) widest[i] = std::max(widest[i], pieces[r][i].size());
    pieces[r].push_back(std::move(matched));  // the model's columns, last
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string text;
    const std::string& matched = pieces[r].back();
    for (std::size_t i = 0; i <= columns; ++i) {
      text += pieces[r][i];
      text.append(widest[i] - pieces[r][i].size(), '.');
      if (i < columns) text += matched[i];
    }
    rows[r].text = std::move(text);
  }
  for (std::size_t i = 0; i <= columns; ++i) {
    reference.append(widest[i], '.');
    if (i < columns) reference += 'x';
  }
}

std::vector<SequenceAlignment> read_fasta_family(NumberedLines& in) {
  const std::string& path = in.path();
  std::vector<Row> rows;
  std::string line;
  while (in.next(line)) {
    if (!line.empty() && line[0] == '>') {
      const std::vector<std::string> words = split_words(line.substr(1));
      rows.push_back({words.empty() ? std::string() : words[0], {}, in.number()});
      continue;
    }
    if (rows.empty()) {
      if (is_blank(line)) continue;
      in.fail("not FASTA: text before the first header line");
    }
    append_row(in, rows.back().name.empty() ? "(unnamed)" : rows.back().name, line, rows.back().text);
  }
  if (rows.empty()) throw InputError(path, 0, "a FASTA file without sequences");
  for (std::size_t k = 0; k < rows.size(); ++k)
    if (rows[k].name.empty()) rows[k].name = name_from_path(path).append("_").append(std::to_string(k + 1));

  if (std::none_of(rows.begin(), rows.end(), [](const Row& r) { return has_gap(r.text); })) {
    // Unaligned: each sequence its own family, named after it.
    std::vector<SequenceAlignment> families;
    for (Row& r : rows) {
      if (r.text.empty()) throw InputError(path, r.line, "sequence " + r.name + " has no residues");
      std::vector<Row> one = {r};
      families.push_back(alignment_of(SequenceAlignment::Kind::single, r.name, one, {}));
    }
    return families;
  }
  bool upper = false, lower = false, dots = false;
  for (const Row& r : rows)
    for (const char c : r.text) upper |= is_upper(c), lower |= is_lower(c), dots |= c == '.';
  const bool same_columns = std::all_of(rows.begin(), rows.end(), [&](const Row& r) {
    return a2m_columns(r.text) == a2m_columns(rows.front().text);
  });
  std::string reference;
  SequenceAlignment::Kind kind = SequenceAlignment::Kind::fasta;
  if ((dots || (upper && lower)) && same_columns && a2m_columns(rows.front().text) > 0) {
    expand_a2m(rows, reference);
    kind = SequenceAlignment::Kind::a2m;
  }
  check_rows(path, rows, reference, rows.front().line, in.number());
  return {alignment_of(kind, name_from_path(path), rows, std::move(reference))};
}

}  // namespace

std::vector<SequenceAlignment> read_alignments(NumberedLines& in, bool stockholm) {
  return stockholm ? read_stockholm(in) : read_fasta_family(in);
}

std::vector<SequenceAlignment> read_alignments(const std::string& path) {
  LineReader file = [&] {
    try {
      return path == "-" ? LineReader::standard_input(LineReader::Compression::gzip, path)
                         : LineReader(path, LineReader::Compression::gzip);
    } catch (const InputError& e) {
      throw InputError(path, 0, "cannot open the file (" + e.cause() + ")", InputError::Kind::open);
    }
  }();
  // The first line that is not blank tells the format; what was read to
  // see it is put back, so that a pipe is read once.
  std::string line, seen;
  int number = 0;
  while (file.next(line)) {
    seen += line;
    ++number;
    if (is_blank(line)) continue;
    file.unread(seen);
    NumberedLines in(std::move(file), path);
    if (line.rfind("# STOCKHOLM", 0) == 0) return read_stockholm(in);
    if (line[0] == '>') return read_fasta_family(in);
    throw InputError(path, number, "neither a Stockholm alignment (\"# STOCKHOLM 1.0\") nor FASTA (\">name\")");
  }
  throw InputError(path, 0, "the file is empty");
}

}  // namespace tormid
