// FASTA reading on arbitrary bytes: the sequence holds upper-case letters
// only and the name holds no white space; the record reader either refuses
// a file whose text before its first header is not blank, as not FASTA, or
// finds the same letters in its records as the first-record reader in the
// first one that has any.
#include <cstdint>

#include "fuzz_support.h"
#include "input/input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("fasta", data, size);
  tormid::LineReader fasta(path);
  std::string name, seq;
  tormid::read_first_record(fasta, name, seq);
  for (char c : seq) fuzz::check(c >= 'A' && c <= 'Z', "sequence holds a non-letter", seq);
  for (char c : name)
    fuzz::check(!tormid::is_c_space(static_cast<unsigned char>(c)) && c != '\0', "name holds white space",
                name);
  fuzz::check(seq.size() <= size, "sequence longer than the file");

  tormid::LineReader again(path);
  tormid::FastaReader records(again);
  tormid::FastaRecord record;
  std::size_t letters = 0;
  bool first_found = false;
  try {
    while (records.next(record)) {
      letters += record.sequence.size();
      if (!first_found && !record.sequence.empty()) {
        first_found = true;
        fuzz::check(record.sequence == seq, "first record with letters differs", record.sequence);
      }
    }
  } catch (const tormid::InputError& e) {
    fuzz::check(e.reason().rfind("not FASTA: ", 0) == 0 && letters == 0, "an unexpected refusal", e.reason());
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t header = text[0] == '>' ? 0 : text.find("\n>");
    fuzz::check(text.substr(0, header).find_first_not_of(" \t\r\n\f\v") != std::string::npos,
                "a file of blank lines before its header refused");
    return 0;
  }
  fuzz::check(first_found == !seq.empty(), "records and first record disagree");
  fuzz::check(letters <= size, "more letters than bytes");
  return 0;
}
