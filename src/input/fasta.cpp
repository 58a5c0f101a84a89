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

bool FastaReader::read_record(FastaRecord& record) {
  record.name.clear();
  record.description.clear();
  record.sequence.clear();
  if (!started_) {
    started_ = true;
    // Text before the first header: a nameless record if it has letters.
    record.offset = 0;
    read_letters(record.sequence, record.name, from_middle_);
    if (!record.sequence.empty()) return true;
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
