#include <new>

#include "input/input.h"

namespace tormid {

namespace {

bool is_ascii_letter(unsigned char c) {
  const unsigned char lower = c | 0x20;
  return lower >= 'a' && lower <= 'z';
}

// The first white-space-delimited word after the ">" of a header line, and
// where it ends; nothing when the header holds no word.
bool header_word(const std::string& line, std::string& word, std::size_t* after = nullptr) {
  std::size_t begin = 1;
  while (begin < line.size() && is_c_space(static_cast<unsigned char>(line[begin]))) ++begin;
  std::size_t end = begin;
  while (end < line.size() && !is_c_space(static_cast<unsigned char>(line[end]))) ++end;
  if (after) *after = end;
  if (end == begin) return false;
  word.assign(line, begin, end - begin);
  return true;
}

bool is_header(const std::string& line) { return !line.empty() && line[0] == '>'; }

// The header after its first word, without surrounding white space.
std::string description_of(const std::string& line, std::size_t from) {
  std::size_t begin = from, end = line.size();
  while (begin < end && is_c_space(static_cast<unsigned char>(line[begin]))) ++begin;
  while (end > begin && is_c_space(static_cast<unsigned char>(line[end - 1]))) --end;
  return line.substr(begin, end - begin);
}

}  // namespace

void cat_char(std::string& str, char c) { str.push_back(c); }

void add_seq(const std::string& line, std::string& seq) {
  for (const char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_ascii_letter(c)) cat_char(seq, static_cast<char>(c & ~0x20));
  }
}

void read_first_record(LineReader& fasta, std::string& name, std::string& seq) {
  std::string line;
  while (fasta.next(line)) {
    if (is_header(line)) {
      if (!seq.empty()) break;
      header_word(line, name);
    } else {
      add_seq(line, seq);
    }
  }
}

void FastaReader::read_letters(std::string& sequence, const std::string& name, bool skip) {
  // Sequence lines in parts of this many bytes.
  constexpr std::size_t kPart = 1 << 16;
  std::string part;
  for (LineReader::Part got; (got = lines_.next_part(part, kPart)) != LineReader::Part::none;) {
    if (is_header(part)) {
      line_ = part;
      while (got == LineReader::Part::more) {
        got = lines_.next_part(part, kPart);
        line_ += part;
      }
      have_header_ = true;
      header_offset_ = lines_.line_offset();
      return;
    }
    for (;;) {
      if (!skip) add_seq(part, sequence);
      if (sequence.size() > max_residues_)
        throw InputError(lines_.path(), 0,
                         "record " + (name.empty() ? std::string("(unnamed)") : name) + " is longer than " +
                             std::to_string(max_residues_) + " residues",
                         InputError::Kind::limit);
      if (got != LineReader::Part::more) break;
      got = lines_.next_part(part, kPart);
    }
  }
}

bool FastaReader::next(FastaRecord& record) {
  try {
    return read_record(record);
  } catch (const std::bad_alloc&) {
    throw InputError(lines_.path(), 0, "a record too long for memory", InputError::Kind::memory);
  }
}

void FastaReader::skip_to_first_header() {
  std::string part;
  std::uint64_t line = 1;
  for (LineReader::Part got; (got = lines_.next_part(part, 1 << 16)) != LineReader::Part::none;) {
    if (is_header(part)) {
      line_ = part;
      while (got == LineReader::Part::more) {
        got = lines_.next_part(part, 1 << 16);
        line_ += part;
      }
      have_header_ = true;
      header_offset_ = lines_.line_offset();
      return;
    }
    if (part.find_first_not_of(" \t\r\n\f\v") != std::string::npos) throw not_fasta(part, line);
    line += got == LineReader::Part::last;
  }
}

InputError FastaReader::not_fasta(const std::string& text, std::uint64_t line) const {
  // What a file in the sequence file's place often is.
  std::string what = "a sequence file starts with a header line, \">NAME\"";
  if (text.rfind("HMMER3/", 0) == 0) what = "an HMMER3 model file; the sequence file comes last";
  else if (text.rfind("TORMID-LIBRARY", 0) == 0) what = "a prepared library; the sequence file comes last";
  else if (text.rfind("(Peptide)", 0) == 0) what = "a tormid profile; the sequence file comes last";
  else if (text.rfind("Last position-specific scoring matrix", 0) == 0)
    what = "a PSI-BLAST PSSM; the sequence file comes last";
  return InputError(lines_.path(), static_cast<int>(std::min<std::uint64_t>(line, INT32_MAX)), "not FASTA: " + what);
}

bool FastaReader::read_record(FastaRecord& record) {
  record.name.clear();
  record.description.clear();
  record.sequence.clear();
  if (!started_) {
    started_ = true;
    // A file starts with a header (after blank lines); a part of one from
    // its middle with the end of a record that an earlier part reads.
    if (from_middle_) read_letters(record.sequence, record.name, true);
    else skip_to_first_header();
  }
  if (!have_header_) return false;
  record.offset = header_offset_;
  std::size_t after = 0;
  header_word(line_, record.name, &after);
  record.description = description_of(line_, after);
  have_header_ = false;
  read_letters(record.sequence, record.name, false);
  return true;
}

}  // namespace tormid
