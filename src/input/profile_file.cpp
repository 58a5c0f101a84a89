// Profile file: a header line "(Peptide) ... Length: ..." whose fifth word
// begins with the number of positions N, a second line that is ignored, then
// N position lines: a first word (skipped) and twenty scores in the order
// A R N D C Q E G H I L K M F P S T W Y V. Missing scores on a line are 0.0.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>

#include "input/input.h"
#include "input/messages.h"
#include "input/text_lines.h"

namespace tormid {

namespace {

constexpr std::size_t kMaxReservedRows = 4096;

// Reads N from the header the way "%*s%*s%*s%*s%d" does: four words skipped,
// then an optionally signed decimal integer at the start of the fifth word.
// A value that does not fit an int is refused rather than wrapped.
bool parse_header_length(const std::string& header, int& length) {
  int offset = -1;
  std::sscanf(header.c_str(), "%*s%*s%*s%*s%n", &offset);
  if (offset < 0) return false;
  const char* p = header.c_str() + offset;
  while (is_c_space(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (*p < '0' || *p > '9') return false;
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return false;
  length = static_cast<int>(value);
  return true;
}

bool is_profile_header(const std::string& line, int& length) {
  return line.compare(0, 9, "(Peptide)") == 0 && line.find("Length:") != std::string::npos &&
         parse_header_length(line, length);
}

Profile read_rows(LineReader& file, const std::string& path) {
  std::string line;
  int length = 0;
  if (!file.next(line) || !is_profile_header(line, length))
    throw messages::refused(path, messages::unrecognized_profile(path));
  file.next(line);  // column names, ignored
  if (length <= 0)
    throw InputError::printed(InputError::Kind::content, path, {messages::matrix_alloc_fail(1)},
                              "the header gives the profile " + std::to_string(length) + " positions");

  std::vector<ProfileRow> rows;
  try {
    rows.reserve(std::min<std::size_t>(static_cast<std::size_t>(length), kMaxReservedRows));
  } catch (const std::bad_alloc&) {
    throw messages::refused(path, messages::matrix_alloc_fail(1), InputError::Kind::memory);
  }
  for (int k = 0; k < length; ++k) {
    if (!file.next(line)) throw messages::refused(path, messages::missing_positions(path, k, length));
    ProfileRow scores{};
    scan_position(line.c_str(), scores);
    if (!std::all_of(scores.begin(), scores.end(), [](double s) { return std::isfinite(s); }))
      throw messages::refused(path, messages::profile_not_finite(path, k + 1));
    try {
      rows.push_back(scores);
    } catch (const std::bad_alloc&) {
      throw messages::refused(path, messages::matrix_alloc_fail(1), InputError::Kind::memory);
    }
  }
  try {
    return Profile(std::move(rows), name_from_path(path));
  } catch (const std::bad_alloc&) {
    throw messages::refused(path, messages::matrix_alloc_fail(1), InputError::Kind::memory);
  }
}

// What a header "(Peptide) from NAME Length: N ..." says of its profile
// after the length, as tormid-prf writes it: "ACC x", "GA s d", "TC s d",
// "NC s d", "FORWARD tau lambda", and "DESC" with the rest of the line.
// Other words are passed over (headers are free text); a key without its
// numbers is refused.
ProfileNotes header_notes(const std::string& header, const std::vector<std::string>& words, const std::string& path) {
  ProfileNotes notes;
  if (words.size() < 5 || words[1] != "from" || words[3] != "Length:") return notes;
  auto numbers = [&](std::size_t at, const std::string& key) {
    std::pair<double, double> pair;
    if (at + 2 >= words.size() || !parse_number(words[at + 1], pair.first) ||
        !parse_number(words[at + 2], pair.second) || !std::isfinite(pair.first) || !std::isfinite(pair.second))
      throw InputError(path, 0, "profile " + words[2] + ": " + key + " in its header should be followed by two numbers");
    return pair;
  };
  for (std::size_t k = 5; k < words.size(); ++k) {
    const std::string& key = words[k];
    if (key == "ACC" && k + 1 < words.size()) {
      notes.accession = words[++k];
    } else if (std::optional<BitCutoff>* cutoff = cutoff_named(notes, key)) {
      const auto [sequence, domain] = numbers(k, key);
      *cutoff = BitCutoff{sequence, domain};
      k += 2;
    } else if (key == "FORWARD") {
      const auto [tau, lambda] = numbers(k, key);
      if (!(lambda > 0)) throw InputError(path, 0, "profile " + words[2] + ": FORWARD's lambda should be positive");
      notes.forward = ForwardLaw{tau, lambda};
      k += 2;
    } else if (key == "DESC") {
      notes.description = rest_after_word(header, k);
      break;
    }
  }
  return notes;
}

}  // namespace

Profile read_prf_file(const std::string& path, LineReader::Compression compression) {
  return messages::read_text_file(
      path, [&](LineReader& file) { return read_rows(file, path); }, compression);
}

Profile read_prf(LineReader& file, const std::string& path) {
  return messages::read_with_messages(path, [&] { return read_rows(file, path); });
}

std::vector<Profile> read_prf_profiles(LineReader& file, const std::string& path) {
  std::vector<Profile> profiles;
  std::vector<std::string> headers;
  // Profiles one after another, blank lines between; after the last,
  // anything else is ignored, as by tormid.
  std::string line, seen;
  while (file.next(line)) {
    seen += line;
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    if (!profiles.empty() && line.rfind("(Peptide)", 0) != 0) break;
    // The first profile's file is read as tormid reads it, blank lines
    // and all; later ones start at their header.
    file.unread(profiles.empty() ? seen : line);
    seen.clear();
    headers.push_back(line);
    profiles.push_back(read_prf(file, path));
  }
  // Several profiles are named by their headers, "(Peptide) from NAME
  // Length: N" as tormid-prf writes them, else after the file and their
  // place in it; one is named after the file.
  for (std::size_t k = 0; k < profiles.size(); ++k) {
    std::string header = headers[k];
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) header.pop_back();
    const std::vector<std::string> words = split_words(header);
    ProfileNotes notes = header_notes(header, words, path);
    const bool named = words.size() >= 5 && words[1] == "from" && words[3] == "Length:";
    std::string name = profiles.size() < 2 ? profiles[k].name()
                       : named             ? words[2]
                                           : name_from_path(path).append("_").append(std::to_string(k + 1));
    if (profiles.size() < 2 && notes == ProfileNotes{}) break;
    profiles[k] = Profile(std::vector<ProfileRow>(profiles[k].rows().begin(), profiles[k].rows().end()),
                          std::move(name), std::move(notes));
  }
  return profiles;
}

}  // namespace tormid
