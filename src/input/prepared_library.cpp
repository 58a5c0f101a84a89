// Prepared libraries: profiles and their score laws in a binary form, with
// a version, the payload's size and a CRC-32 so that a truncated or
// damaged file is refused, never used. Numbers are little-endian; doubles
// keep every bit. An index of where each profile starts lets the profiles
// be read on many threads (docs/prepared-library.md).
#include <sys/stat.h>
#include <tbb/parallel_for.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>

#include "input/input.h"
#include "input/text_lines.h"
#include "input/thread_arenas.h"

namespace tormid {

namespace {

const char kMagic[] = "TORMID-LIBRARY\n";  // 15 bytes, then a NUL
// The magic with its NUL, the version, 4 reserved bytes, the payload's
// size, its CRC-32 and 4 reserved bytes.
constexpr std::size_t kHeader = 16 + 4 + 4 + 8 + 4 + 4;
// Beyond these a file is damaged, not large.
constexpr std::uint64_t kMostProfiles = 100'000'000;
constexpr std::uint32_t kMostPositions = 10'000'000, kMostNumbers = 1'000'000;

template <class T>
T little_endian(T value) {
  if constexpr (std::endian::native == std::endian::big) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    std::reverse(bytes, bytes + sizeof value);
    std::memcpy(&value, bytes, sizeof value);
  }
  return value;
}

class Writer {
 public:
  template <class T>
  void put(T value) {
    value = little_endian(value);
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void put(const std::string& text) {
    put(static_cast<std::uint32_t>(text.size()));
    bytes_ += text;
  }
  void put(const Settings& s) {
    for (const double v : {s.gap_open_penalty_prf, s.deletion_penalty_prf, s.gap_open_penalty_seq, s.deletion_penalty_seq})
      put(v);
    put(static_cast<std::uint32_t>(s.start));
    put(static_cast<std::uint32_t>(s.end));
  }
  template <class T>
  void put_at(std::size_t at, T value) {
    value = little_endian(value);
    std::memcpy(bytes_.data() + at, &value, sizeof value);
  }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

// Reads bytes[at, end); every read past the end is a damaged file.
class Reader {
 public:
  Reader(std::string_view bytes, std::size_t at, std::size_t end, const std::string& path)
      : bytes_(bytes), at_(at), end_(end), path_(path) {}
  template <class T>
  T get() {
    T value;
    need(sizeof value);
    std::memcpy(&value, bytes_.data() + at_, sizeof value);
    at_ += sizeof value;
    return little_endian(value);
  }
  std::string text() {
    const auto size = get<std::uint32_t>();
    need(size);
    std::string t(bytes_.substr(at_, size));
    at_ += size;
    return t;
  }
  void need_doubles(std::size_t count) const {
    if (count > (end_ - at_) / sizeof(double)) damaged("it ends too early");
  }
  void doubles(double* out, std::size_t count) {
    need_doubles(count);
    if (count == 0) return;  // out may be the null data() of an empty vector
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, bytes_.data() + at_, count * sizeof(double));
      at_ += count * sizeof(double);
    } else {
      for (std::size_t k = 0; k < count; ++k) out[k] = get<double>();
    }
  }
  Settings settings() {
    Settings s;
    for (double* v : {&s.gap_open_penalty_prf, &s.deletion_penalty_prf, &s.gap_open_penalty_seq, &s.deletion_penalty_seq})
      *v = get<double>();
    const auto start = get<std::uint32_t>(), end = get<std::uint32_t>();
    if (start > 3 || end > 3) damaged("an unknown alignment mode");
    s.start = static_cast<StartMode>(start);
    s.end = static_cast<EndMode>(end);
    return s;
  }
  bool done() const { return at_ == end_; }
  [[noreturn]] void damaged(const std::string& what) const {
    throw InputError(path_, 0, "a damaged prepared library (" + what + ")");
  }

 private:
  void need(std::size_t n) const {
    if (end_ - at_ < n) damaged("it ends too early");
  }
  std::string_view bytes_;
  std::size_t at_, end_;
  const std::string& path_;
};

// The CRC-32 of the bytes, in pieces on the arena's threads.
std::uint32_t crc_of(std::string_view bytes) {
  constexpr std::size_t kPiece = 1 << 22;
  const std::size_t pieces = (bytes.size() + kPiece - 1) / kPiece;
  std::vector<uLong> crcs(pieces);
  tbb::parallel_for(std::size_t{0}, pieces, [&](std::size_t k) {
    const std::size_t size = std::min(kPiece, bytes.size() - k * kPiece);
    crcs[k] = ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data() + k * kPiece),
                      static_cast<uInt>(size));
  });
  uLong crc = ::crc32(0L, Z_NULL, 0);
  for (std::size_t k = 0; k < pieces; ++k)
    crc = ::crc32_combine(crc, crcs[k], static_cast<z_off_t>(std::min(kPiece, bytes.size() - k * kPiece)));
  return static_cast<std::uint32_t>(crc);
}

// The cutoffs and law a profile's notes may hold, in the order stored,
// each a bit of the record's flags.
using OptionalPair = std::optional<std::pair<double, double>>;
constexpr std::size_t kNotePairs = std::size(kCutoffFields) + 1;  // the cutoffs, then the law

std::array<OptionalPair, kNotePairs> note_pairs(const ProfileNotes& notes) {
  std::array<OptionalPair, kNotePairs> pairs;
  for (std::size_t k = 0; k < std::size(kCutoffFields); ++k)
    if (const std::optional<BitCutoff>& c = notes.*kCutoffFields[k].member) pairs[k] = std::pair{c->sequence, c->domain};
  if (notes.forward) pairs[kNotePairs - 1] = std::pair{notes.forward->tau, notes.forward->lambda};
  return pairs;
}

void write_notes(Writer& out, const ProfileNotes& notes) {
  out.put(notes.accession);
  out.put(notes.description);
  const auto pairs = note_pairs(notes);
  std::uint32_t flags = 0;
  for (std::size_t k = 0; k < kNotePairs; ++k)
    if (pairs[k]) flags |= 1u << k;
  out.put(flags);
  for (const OptionalPair& pair : pairs)
    if (pair) {
      out.put(pair->first);
      out.put(pair->second);
    }
}

ProfileNotes read_notes(Reader& in) {
  ProfileNotes notes;
  notes.accession = in.text();
  notes.description = in.text();
  const auto flags = in.get<std::uint32_t>();
  if (flags >> kNotePairs) in.damaged("unknown notes of a profile");
  std::array<OptionalPair, kNotePairs> pairs;
  for (std::size_t k = 0; k < kNotePairs; ++k)
    if (flags & (1u << k)) {
      const double first = in.get<double>(), second = in.get<double>();
      if (!std::isfinite(first) || !std::isfinite(second)) in.damaged("a cutoff that is not a number");
      pairs[k] = std::pair{first, second};
    }
  for (std::size_t k = 0; k < std::size(kCutoffFields); ++k)
    if (pairs[k]) notes.*kCutoffFields[k].member = BitCutoff{pairs[k]->first, pairs[k]->second};
  if (const OptionalPair& law = pairs[kNotePairs - 1]) {
    if (!(law->second > 0)) in.damaged("a forward law whose lambda is not positive");
    notes.forward = ForwardLaw{law->first, law->second};
  }
  return notes;
}

// One profile's record: its name, notes, scores and law.
void write_record(Writer& out, std::uint32_t version, const Profile& profile, const StoredLaw& law) {
  out.put(profile.name());
  if (version >= 2) write_notes(out, profile.notes());
  out.put(static_cast<std::uint32_t>(profile.length()));
  for (const ProfileRow& row : profile.rows())
    for (const double score : row) out.put(score);
  out.put(law.settings);
  out.put(law.seed);
  out.put(law.model);
  out.put(static_cast<std::uint32_t>(law.numbers.size()));
  for (const double v : law.numbers) out.put(v);
}

// Format 1 has no notes.
void read_record(Reader& in, std::uint32_t version, Profile& profile, StoredLaw& law) {
  std::string name = in.text();
  if (name.empty()) in.damaged("a profile without a name");
  ProfileNotes notes = version >= 2 ? read_notes(in) : ProfileNotes{};
  const auto positions = in.get<std::uint32_t>();
  if (positions == 0 || positions > kMostPositions) in.damaged("an impossible profile length");
  // Sizes are checked against the bytes there before anything is
  // allocated: a few damaged bytes must not ask for gigabytes.
  in.need_doubles(std::size_t{positions} * kAlphabetSize);
  std::vector<ProfileRow> rows(positions);
  static_assert(sizeof(ProfileRow) == kAlphabetSize * sizeof(double));
  in.doubles(rows.front().data(), std::size_t{positions} * kAlphabetSize);
  law.settings = in.settings();
  law.seed = in.get<std::uint64_t>();
  law.model = in.get<std::uint32_t>();
  const auto numbers = in.get<std::uint32_t>();
  if (numbers > kMostNumbers) in.damaged("an impossible score law");
  in.need_doubles(numbers);
  law.numbers.resize(numbers);
  in.doubles(law.numbers.data(), numbers);
  if (!in.done()) in.damaged("a profile's record is longer than its contents");
  profile = Profile(std::move(rows), std::move(name), std::move(notes));
}

}  // namespace

std::string prepared_library(const std::vector<Profile>& profiles, const std::vector<StoredLaw>& laws,
                             std::uint32_t version) {
  Writer payload;
  payload.put(static_cast<std::uint64_t>(profiles.size()));
  const std::size_t index = payload.bytes().size();
  for (std::size_t p = 0; p <= profiles.size(); ++p) payload.put(std::uint64_t{0});
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    payload.put_at(index + 8 * p, static_cast<std::uint64_t>(payload.bytes().size()));
    write_record(payload, version, profiles[p], laws[p]);
  }
  payload.put_at(index + 8 * profiles.size(), static_cast<std::uint64_t>(payload.bytes().size()));
  Writer file;
  file.bytes().append(kMagic, sizeof kMagic);  // with its NUL: 16 bytes
  file.put(version);
  file.put(std::uint32_t{0});
  file.put(static_cast<std::uint64_t>(payload.bytes().size()));
  file.put(crc_of(payload.bytes()));
  file.put(std::uint32_t{0});
  return file.bytes() + payload.bytes();
}

ProfileLibrary parse_prepared_library(std::string_view bytes, const std::string& path, int threads) {
  if (bytes.size() < kHeader || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    throw InputError(path, 0, "a damaged prepared library (its header is cut short)");
  Reader header(bytes, sizeof kMagic, kHeader, path);
  const auto version = header.get<std::uint32_t>();
  if (version < kOldestLibraryVersion || version > kLibraryVersion)
    throw InputError(path, 0,
                     "a prepared library of format " + std::to_string(version) + ", where this tormid reads formats " +
                         std::to_string(kOldestLibraryVersion) + " to " + std::to_string(kLibraryVersion) +
                         "; prepare it again with tormid-prf press");
  const auto reserved = header.get<std::uint32_t>();
  const auto size = header.get<std::uint64_t>();
  const auto crc = header.get<std::uint32_t>();
  if (reserved != 0 || header.get<std::uint32_t>() != 0) header.damaged("its header has been changed");
  if (size != bytes.size() - kHeader) header.damaged("its size is not what its header says: cut short, or added to");
  const std::string_view payload = bytes.substr(kHeader);

  const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  ArenaLease lease(std::clamp(threads, 1, hardware));
  tbb::task_arena& arena = lease.arena();
  if (arena.execute([&] { return crc_of(payload); }) != crc) header.damaged("its checksum does not match");

  Reader in(payload, 0, payload.size(), path);
  const auto count = in.get<std::uint64_t>();
  // The index holds count + 1 offsets after the count.
  if (count > kMostProfiles || count + 1 > (payload.size() - 8) / 8) in.damaged("an impossible number of profiles");
  if (count == 0) throw InputError(path, 0, "a prepared library without profiles");
  std::vector<std::uint64_t> starts(count + 1);
  for (std::uint64_t& start : starts) start = in.get<std::uint64_t>();
  if (starts.front() != 8 * (count + 2) || starts.back() != payload.size() ||
      !std::is_sorted(starts.begin(), starts.end()))
    in.damaged("its index does not match its profiles");

  ProfileLibrary library;
  library.profiles.resize(count);
  library.laws.resize(count);
  // Each profile on its own; the first damage in file order is the one told.
  std::vector<std::optional<InputError>> damage(count);
  arena.execute([&] {
    tbb::parallel_for(std::size_t{0}, static_cast<std::size_t>(count), [&](std::size_t p) {
      try {
        Reader record(payload, starts[p], starts[p + 1], path);
        read_record(record, version, library.profiles[p], library.laws[p]);
      } catch (const InputError& e) {
        damage[p] = e;
      }
    });
  });
  for (const std::optional<InputError>& e : damage)
    if (e) throw *e;
  return library;
}

ProfileLibrary read_prepared_library(LineReader& file, const std::string& path, int threads) {
  // Read whole before it is parsed, not mapped: a file cut short while it
  // is read is then a file of the wrong size, where a mapped page that is
  // gone would end the process.
  std::string bytes;
  struct stat info {};
  if (path != "-" && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
    bytes.reserve(static_cast<std::size_t>(info.st_size));
  file.read_rest(bytes);
  return parse_prepared_library(bytes, path, threads);
}

}  // namespace tormid
