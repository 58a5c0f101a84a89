// Parameter file: key lines, each key at the start of its line, one
// separator character after it (blank, tab, "=", ":" ...), and the value
// right after that. Lines that begin with no key are ignored. The file is
// accepted when its key lines add up to nine: a switch line counts 1, a
// penalty line counts what "%lf" scanning returns there (1 for a number, 0
// for other text, -1 for nothing but white space).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "input/input.h"
#include "input/messages.h"

namespace tormid {

namespace {

struct ParamKey {
  const char* key;
  double ParamValues::*penalty;  // set for a real-number key
  bool ParamValues::*flag;       // set for a YES/NO switch
};

const ParamKey kKeys[] = {
    {"PRF_GAP_OPEN_PENALTY", &ParamValues::gap_open_penalty_prf, nullptr},
    {"PRF_DELETION_PENALTY", &ParamValues::deletion_penalty_prf, nullptr},
    {"SEQ_GAP_OPEN_PENALTY", &ParamValues::gap_open_penalty_seq, nullptr},
    {"SEQ_DELETION_PENALTY", &ParamValues::deletion_penalty_seq, nullptr},
    {"PRF_FREE_BEG", nullptr, &ParamValues::prf_free_beg},
    {"PRF_FREE_END", nullptr, &ParamValues::prf_free_end},
    {"SEQ_FREE_BEG", nullptr, &ParamValues::seq_free_beg},
    {"SEQ_FREE_END", nullptr, &ParamValues::seq_free_end},
    {"SHOW_ALIGNMENT", nullptr, &ParamValues::show_alignment},
};

const ParamKey* find_key(const std::string& line) {
  for (const ParamKey& k : kKeys)
    if (line.compare(0, std::strlen(k.key), k.key) == 0) return &k;
  return nullptr;
}

ParamValues read_values(LineReader& file, const std::string& path) {
  ParamValues values;
  int count = 0;
  std::string line;
  while (file.next(line)) {
    const ParamKey* k = find_key(line);
    if (!k) continue;
    // The value starts one character after the key; a key that ends the
    // file with nothing after it has an empty value.
    const std::size_t start = std::strlen(k->key) + 1;
    const char* value = start <= line.size() ? line.c_str() + start : "";
    if (k->penalty) {
      double number = 0.0;
      const int scanned = std::sscanf(value, "%lf", &number);
      count += scanned;
      if (scanned == 1) {
        if (!std::isfinite(number)) throw messages::refused(path, messages::param_not_finite(path, k->key));
        values.*k->penalty = number;
      }
    } else {
      values.*k->flag = std::strncmp(value, "YES", 3) == 0;
      count += 1;
    }
  }
  if (count != 9)
    throw InputError::printed(InputError::Kind::content, path, {},
                              "not a tormid parameter file: its key lines do not add up to the nine keys "
                              "(PRF_GAP_OPEN_PENALTY ... SHOW_ALIGNMENT)");
  return values;
}

}  // namespace

ParamValues read_param_file(const std::string& path, LineReader::Compression compression) {
  return messages::read_text_file(
      path, [&](LineReader& file) { return read_values(file, path); }, compression);
}

}  // namespace tormid
