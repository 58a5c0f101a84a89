// Prepared libraries: profiles and their score laws in a binary form, with
// a version, the payload's size and a CRC-32 so that a truncated or
// damaged file is refused, never used. Numbers are little-endian; doubles
// keep every bit. An index of where each profile starts lets the profiles
// be read on many threads (docs/prepared-library.md).
#include <fcntl.h>
#include <isa-l/crc.h>
#include <sys/stat.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <unistd.h>
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

// Where a library's bytes come from: the whole file in memory, or a
// regular file read where each piece is needed, so that a library of
// gigabytes is never held twice.
class LibraryBytes {
 public:
  virtual ~LibraryBytes() = default;
  virtual std::uint64_t size() const = 0;
  // Bytes [begin, end): a view of memory or of buffer.
  virtual std::string_view read(std::uint64_t begin, std::uint64_t end, std::string& buffer) const = 0;
};

class BytesInMemory : public LibraryBytes {
 public:
  explicit BytesInMemory(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::string_view read(std::uint64_t begin, std::uint64_t end, std::string&) const override {
    return bytes_.substr(begin, end - begin);
  }

 private:
  std::string_view bytes_;
};

// Reads with pread, so that threads read their records side by side. A
// file cut short while it is read is a damaged file: the reads come back
// short (a mapped page that is gone would raise SIGBUS instead).
class BytesOfFile : public LibraryBytes {
 public:
  // A regular file that starts as a library does, or nothing (a pipe, a
  // compressed file, anything shorter than a header).
  static std::unique_ptr<BytesOfFile> open(const std::string& path) {
    // Not even opened otherwise, and never waited on: opening a pipe whose
    // writer has gone (bash's <(...)) would wait for another.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return nullptr;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    std::unique_ptr<BytesOfFile> file(new BytesOfFile(fd, path));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < kHeader)
      return nullptr;
    file->size_ = static_cast<std::uint64_t>(info.st_size);
    std::string magic;
    if (file->read(0, sizeof kMagic, magic) != std::string_view(kMagic, sizeof kMagic)) return nullptr;
    return file;
  }
  ~BytesOfFile() override { ::close(fd_); }
  BytesOfFile(const BytesOfFile&) = delete;
  BytesOfFile& operator=(const BytesOfFile&) = delete;

  std::uint64_t size() const override { return size_; }
  std::string_view read(std::uint64_t begin, std::uint64_t end, std::string& buffer) const override {
    buffer.resize(end - begin);
    for (std::uint64_t done = 0; done < end - begin;) {
      const ssize_t got = ::pread(fd_, buffer.data() + done, end - begin - done, static_cast<off_t>(begin + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw InputError::cannot_read(path_, std::strerror(errno));
      if (got == 0)
        throw InputError(path_, 0, "a damaged prepared library (its size is not what its header says: cut short, or added to)");
      done += static_cast<std::uint64_t>(got);
    }
    return buffer;
  }

 private:
  BytesOfFile(int fd, const std::string& path) : fd_(fd), path_(path) {}
  int fd_;
  std::string path_;
  std::uint64_t size_ = 0;
};

// zlib's CRC-32 (ISA-L's reflected gzip CRC is the same function), which
// zlib combines across pieces.
uLong crc_of_piece(std::string_view bytes) {
  return ::crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// The CRC-32 of the bytes from `first` on, in pieces on the arena's threads.
std::uint32_t crc_from(const LibraryBytes& bytes, std::uint64_t first) {
  constexpr std::uint64_t kPiece = 1 << 22;
  const std::uint64_t size = bytes.size() - first, pieces = (size + kPiece - 1) / kPiece;
  std::vector<uLong> crcs(pieces);
  tbb::enumerable_thread_specific<std::string> buffers;
  tbb::parallel_for(std::uint64_t{0}, pieces, [&](std::uint64_t k) {
    const std::uint64_t begin = first + k * kPiece;
    crcs[k] = crc_of_piece(bytes.read(begin, std::min(begin + kPiece, bytes.size()), buffers.local()));
  });
  uLong crc = ::crc32(0L, Z_NULL, 0);
  for (std::uint64_t k = 0; k < pieces; ++k)
    crc = ::crc32_combine(crc, crcs[k], static_cast<z_off_t>(std::min(kPiece, size - k * kPiece)));
  return static_cast<std::uint32_t>(crc);
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

struct LibraryHeader {
  std::uint32_t version, crc;
};

// The header's version and checksum, after its checks.
LibraryHeader read_header(const LibraryBytes& bytes, const std::string& path) {
  std::string buffer;
  const std::string_view head = bytes.size() < kHeader ? std::string_view() : bytes.read(0, kHeader, buffer);
  if (head.size() < kHeader || std::memcmp(head.data(), kMagic, sizeof kMagic) != 0)
    throw InputError(path, 0, "a damaged prepared library (its header is cut short)");
  Reader header(head, sizeof kMagic, kHeader, path);
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
  return {version, crc};
}

// Where each profile's record starts in the payload, and where the last
// ends; the count is checked against the payload's size before the index
// is allocated.
struct LibraryIndex {
  std::vector<std::uint64_t> starts;
  uLong crc = 0;  // of the count and the offsets
};

LibraryIndex read_index(const LibraryBytes& bytes, const std::string& path) {
  const std::uint64_t size = bytes.size() - kHeader;
  std::string buffer;
  Reader counted(bytes.read(kHeader, kHeader + std::min<std::uint64_t>(size, 8), buffer), 0,
                 std::min<std::uint64_t>(size, 8), path);
  const auto count = counted.get<std::uint64_t>();
  // The index holds count + 1 offsets after the count.
  if (count > kMostProfiles || count + 1 > (size - 8) / 8) counted.damaged("an impossible number of profiles");
  if (count == 0) throw InputError(path, 0, "a prepared library without profiles");
  const std::uint64_t end = 8 * (count + 2);
  const std::string_view index = bytes.read(kHeader, kHeader + end, buffer);
  Reader in(index, 8, end, path);
  std::vector<std::uint64_t> starts(count + 1);
  for (std::uint64_t& start : starts) start = in.get<std::uint64_t>();
  if (starts.front() != end || starts.back() != size || !std::is_sorted(starts.begin(), starts.end()))
    in.damaged("its index does not match its profiles");
  return {std::move(starts), crc_of_piece(index)};
}

// Reads the profiles on the arena's threads, each record checked as it is
// read. Where anything is wrong, a checksum that does not match is what is
// told (the bytes were changed); else the first damage in file order.
ProfileLibrary read_library_bytes(const LibraryBytes& bytes, const std::string& path, int threads) {
  const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  ArenaLease lease(std::clamp(threads, 1, hardware));
  tbb::task_arena& arena = lease.arena();
  const LibraryHeader header = read_header(bytes, path);
  const std::uint32_t version = header.version, crc = header.crc;
  auto told = [&](const InputError& damage) -> InputError {
    if (arena.execute([&] { return crc_from(bytes, kHeader); }) != crc)
      return InputError(path, 0, "a damaged prepared library (its checksum does not match)");
    return damage;
  };

  LibraryIndex index;
  try {
    index = read_index(bytes, path);
  } catch (const InputError& e) {
    if (e.kind() != InputError::Kind::content) throw;
    throw told(e);
  }
  const std::vector<std::uint64_t>& starts = index.starts;

  const std::size_t count = starts.size() - 1;
  ProfileLibrary library;
  library.profiles.resize(count);
  library.laws.resize(count);
  std::vector<uLong> crcs(count);
  std::vector<std::optional<InputError>> damage(count);
  arena.execute([&] {
    tbb::enumerable_thread_specific<std::string> buffers;
    tbb::parallel_for(std::size_t{0}, count, [&](std::size_t p) {
      try {
        const std::string_view record = bytes.read(kHeader + starts[p], kHeader + starts[p + 1], buffers.local());
        crcs[p] = crc_of_piece(record);
        Reader in(record, 0, record.size(), path);
        read_record(in, version, library.profiles[p], library.laws[p]);
      } catch (const InputError& e) {
        damage[p] = e;
      }
    });
  });
  for (const std::optional<InputError>& e : damage)
    if (e) {
      if (e->kind() != InputError::Kind::content) throw *e;
      throw told(*e);
    }
  uLong whole = index.crc;
  for (std::size_t p = 0; p < count; ++p)
    whole = ::crc32_combine(whole, crcs[p], static_cast<z_off_t>(starts[p + 1] - starts[p]));
  if (static_cast<std::uint32_t>(whole) != crc)
    throw InputError(path, 0, "a damaged prepared library (its checksum does not match)");
  return library;
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
  file.put(crc_from(BytesInMemory(payload.bytes()), 0));
  file.put(std::uint32_t{0});
  return file.bytes() + payload.bytes();
}

ProfileLibrary parse_prepared_library(std::string_view bytes, const std::string& path, int threads) {
  return read_library_bytes(BytesInMemory(bytes), path, threads);
}

ProfileLibrary read_prepared_library(LineReader& file, const std::string& path, int threads) {
  // A regular file is read where each record is needed; anything else
  // (standard input, a pipe, a compressed library) is read whole first.
  if (path != "-")
    if (const std::unique_ptr<BytesOfFile> direct = BytesOfFile::open(path))
      return read_library_bytes(*direct, path, threads);
  std::string bytes;
  file.read_rest(bytes);
  return parse_prepared_library(bytes, path, threads);
}

}  // namespace tormid
