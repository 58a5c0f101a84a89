#include "driver/driver.h"

namespace {

bool is_ascii_letter(unsigned char c) {
  const unsigned char lower = c | 0x20;
  return lower >= 'a' && lower <= 'z';
}

// The first white-space-delimited word after the ">" of a header line, or
// nothing when the header holds no word.
bool header_word(const std::string& line, std::string& word) {
  std::size_t begin = 1;
  while (begin < line.size() && is_c_space(line[begin])) ++begin;
  std::size_t end = begin;
  while (end < line.size() && !is_c_space(line[end])) ++end;
  if (end == begin) return false;
  word.assign(line, begin, end - begin);
  return true;
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
    if (!line.empty() && line[0] == '>') {
      if (!seq.empty()) break;
      header_word(line, name);
    } else {
      add_seq(line, seq);
    }
  }
}
