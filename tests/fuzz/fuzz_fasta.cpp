// FASTA record reading on arbitrary bytes: the sequence holds upper-case
// letters only and the name holds no white space.
#include <cstdint>

#include "driver/driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("fasta", data, size);
  LineReader fasta(path.c_str());
  fuzz::check(fasta.is_open(), "scratch file does not open");
  std::string name, seq;
  read_first_record(fasta, name, seq);
  for (char c : seq) fuzz::check(c >= 'A' && c <= 'Z', "sequence holds a non-letter", seq);
  for (char c : name)
    fuzz::check(c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f' &&
                    c != '\0',
                "name holds white space", name);
  fuzz::check(seq.size() <= size, "sequence longer than the file");
  return 0;
}
