#include "scan/distributed.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

#include "scan/search.h"
#include "scan/wire.h"

#if TORMID_MPI
#include <mpi.h>
#endif

namespace tormid::scan::job {

namespace {
std::uint64_t exchanged = 0;
}

std::uint64_t result_bytes() { return exchanged; }

#if !TORMID_MPI

Session::Session(int&, char**&) {}
Session::~Session() = default;
int rank() { return 0; }
int size() { return 1; }
std::optional<std::string> agree(const std::optional<std::string>& failure) { return failure; }
SearchResult search_distributed(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                                const std::string& sequence_file, const SearchOptions& options) {
  return search(profiles, settings, sequence_file, options);
}

#else

namespace {

enum Tag : int { kRequest = 1, kUnit = 2, kResult = 3 };
constexpr long long kNoMoreUnits = -1;

// A request: work wanted, or this process failed (with its message).
enum class Ask : char { work = 0, failed = 1 };

// Waits for a message without spinning: process 0 shares its core with
// its own searching thread.
MPI_Status wait_for(int source, int tag) {
  MPI_Status status;
  for (int arrived = 0;;) {
    MPI_Iprobe(source, tag, MPI_COMM_WORLD, &arrived, &status);
    if (arrived) return status;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

std::vector<char> receive_bytes(int source, int tag, int* from = nullptr) {
  const MPI_Status status = wait_for(source, tag);
  int count = 0;
  MPI_Get_count(&status, MPI_CHAR, &count);
  std::vector<char> bytes(static_cast<std::size_t>(count));
  MPI_Recv(bytes.data(), count, MPI_CHAR, status.MPI_SOURCE, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  if (from) *from = status.MPI_SOURCE;
  return bytes;
}

void send_bytes(const std::vector<char>& bytes, int destination, int tag) {
  MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_CHAR, destination, tag, MPI_COMM_WORLD);
}

// Appends a unit's results to the results so far.
void merge(UnitResult& into, UnitResult&& more) {
  SearchStats& s = into.stats;
  s.records += more.stats.records;
  s.empty_records += more.stats.empty_records;
  s.residues += more.stats.residues;
  s.cells += more.stats.cells;
  s.aligned_cells += more.stats.aligned_cells;
  s.pairs += more.stats.pairs;
  s.pairs_dismissed += more.stats.pairs_dismissed;
  for (Candidates& c : more.candidates) into.candidates.push_back(std::move(c));
}

// How the work is cut: `ranges` byte ranges of the database times
// `chunks` ranges of profiles, with about as many positions each.
struct Layout {
  std::uint64_t file_size = 0;
  long long ranges = 1, chunks = 1;
  std::vector<int> chunk_starts;  // chunks + 1 profile indices

  long long units() const { return ranges * chunks; }
  long long range_of(long long unit) const { return unit / chunks; }
  RecordRange range(long long unit) const {
    const auto r = static_cast<std::uint64_t>(unit / chunks);
    const auto n = static_cast<std::uint64_t>(ranges);
    return {file_size * r / n, r + 1 == n ? std::numeric_limits<std::uint64_t>::max() : file_size * (r + 1) / n};
  }
};

// Enough units that every process stays busy to the end: about 16 per
// process, byte ranges of at least 64 KiB, and profile ranges when the
// database alone does not make that many.
Layout layout(std::uint64_t file_size, const std::vector<ProfileEntry>& profiles, int processes) {
  Layout l;
  l.file_size = file_size;
  const long long wanted = 16LL * processes;
  l.ranges = std::clamp<long long>(static_cast<long long>(file_size / (64 * 1024)), 1, wanted);
  l.chunks = std::clamp<long long>((wanted + l.ranges - 1) / l.ranges, 1, static_cast<long long>(profiles.size()));
  std::uint64_t total = 0;
  for (const ProfileEntry& p : profiles) total += static_cast<std::uint64_t>(p.profile.length());
  l.chunk_starts.push_back(0);
  std::uint64_t sum = 0;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    sum += static_cast<std::uint64_t>(profiles[p].profile.length());
    const auto chunk = static_cast<long long>(l.chunk_starts.size());
    const bool last_profiles = profiles.size() - p - 1 < static_cast<std::size_t>(l.chunks - chunk);
    if (chunk < l.chunks && (sum * static_cast<std::uint64_t>(l.chunks) >= total * static_cast<std::uint64_t>(chunk) ||
                             last_profiles))
      l.chunk_starts.push_back(static_cast<int>(p) + 1);
  }
  while (static_cast<long long>(l.chunk_starts.size()) < l.chunks + 1) l.chunk_starts.push_back(static_cast<int>(profiles.size()));
  l.chunk_starts.back() = static_cast<int>(profiles.size());
  return l;
}

// The records of the byte ranges searched so far (each counted once, by
// its first unit): with Z unknown until the end, the running threshold of a
// unit may count on those of the other ranges.
class RecordsDone {
 public:
  explicit RecordsDone(const Layout& l) : layout_(l), counted_(static_cast<std::size_t>(l.ranges), 0) {}
  void finished(long long unit, std::uint64_t records) {
    if (unit < 0 || unit % layout_.chunks != 0) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    counted_[static_cast<std::size_t>(layout_.range_of(unit))] = records;
    total_ += records;
  }
  std::uint64_t before(long long unit) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return total_ - counted_[static_cast<std::size_t>(layout_.range_of(unit))];
  }

 private:
  const Layout& layout_;
  mutable std::mutex mutex_;
  std::vector<std::uint64_t> counted_;
  std::uint64_t total_ = 0;
};

// Refuses what cannot be read at any offset by every process.
std::uint64_t seekable_size(const std::string& path) {
  if (path == "-")
    throw ScanError("-: an MPI search reads the database in byte ranges on every process; give it a file, not "
                    "standard input");
  LineReader probe(path);
  if (!probe.is_open()) throw ScanError(path + ": cannot open (" + probe.open_error() + ")");
  LineReader raw(path);
  std::string first;
  try {
    raw.next(first);
  } catch (const ReadError& e) {
    throw ScanError(path + ": cannot read (" + e.reason() + ")");
  }
  if (first.size() >= 2 && static_cast<unsigned char>(first[0]) == 0x1f && static_cast<unsigned char>(first[1]) == 0x8b)
    throw ScanError(path +
                    ": gzip-compressed: an MPI search reads the database in byte ranges on every process, which "
                    "compressed data does not allow; decompress it first (gzip -dk " +
                    path + ")");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    throw ScanError(path + ": not a regular file; an MPI search needs one every process can read at any offset");
  return static_cast<std::uint64_t>(info.st_size);
}

// Each process calibrates every size-th profile; all end with every law.
std::vector<ScoreLaw> calibrate_shared(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                                       const SearchOptions& options) {
  std::vector<ProfileEntry> mine;
  std::vector<int> indices;
  for (std::size_t p = static_cast<std::size_t>(rank()); p < profiles.size(); p += static_cast<std::size_t>(size())) {
    mine.push_back(profiles[p]);
    indices.push_back(static_cast<int>(p));
  }
  double seconds = 0;
  const std::vector<ScoreLaw> laws = calibrate_profiles(mine, settings, options, seconds);
  // index, count, numbers... for each law of this process.
  std::vector<double> flat;
  for (std::size_t k = 0; k < laws.size(); ++k) {
    const std::vector<double> numbers = laws[k].serialized();
    flat.push_back(indices[k]);
    flat.push_back(static_cast<double>(numbers.size()));
    flat.insert(flat.end(), numbers.begin(), numbers.end());
  }
  const int count = static_cast<int>(flat.size());
  std::vector<int> counts(static_cast<std::size_t>(size())), displacements(static_cast<std::size_t>(size()));
  MPI_Allgather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, MPI_COMM_WORLD);
  int total = 0;
  for (int k = 0; k < size(); ++k) {
    displacements[static_cast<std::size_t>(k)] = total;
    total += counts[static_cast<std::size_t>(k)];
  }
  std::vector<double> all(static_cast<std::size_t>(total));
  MPI_Allgatherv(flat.data(), count, MPI_DOUBLE, all.data(), counts.data(), displacements.data(), MPI_DOUBLE,
                 MPI_COMM_WORLD);
  std::vector<ScoreLaw> result(profiles.size());
  for (std::size_t at = 0; at < all.size();) {
    const auto index = static_cast<std::size_t>(all[at]);
    const auto n = static_cast<std::size_t>(all[at + 1]);
    result[index] = ScoreLaw::deserialized(std::vector<double>(all.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                                               all.begin() + static_cast<std::ptrdiff_t>(at + 2 + n)));
    at += 2 + n;
  }
  return result;
}

// Searches one unit into `into`; returns the records it counts.
std::uint64_t run_unit(long long unit, const Layout& l, const std::vector<ProfileEntry>& profiles,
                       const std::vector<ScoreLaw>& laws, const Settings& settings, const std::string& file,
                       SearchOptions options, std::uint64_t records_done, UnitResult& into) {
  options.records_before = records_done;
  const RecordRange range = l.range(unit);
  const auto chunk = static_cast<std::size_t>(unit % l.chunks);
  // Start one byte early: the reader drops the line that holds it.
  LineReader lines = LineReader::at_offset(file, range.begin > 0 ? range.begin - 1 : 0);
  if (!lines.is_open()) throw ScanError(file + ": cannot open (" + lines.open_error() + ")");
  UnitResult result = search_unit(profiles, laws, l.chunk_starts[chunk], l.chunk_starts[chunk + 1], settings, lines,
                                  range, options, file);
  // Each byte range is searched once per range of profiles; its records
  // count once.
  if (chunk != 0) result.stats.records = result.stats.empty_records = result.stats.residues = 0;
  const std::uint64_t records = result.stats.records;
  merge(into, std::move(result));
  return records;
}

std::string failure_message(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "out of memory";
  return e.what();
}

}  // namespace

Session::Session(int& argc, char**& argv) {
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
}

Session::~Session() { MPI_Finalize(); }

int rank() {
  int r = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &r);
  return r;
}

int size() {
  int s = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &s);
  return s;
}

std::optional<std::string> agree(const std::optional<std::string>& failure) {
  if (size() == 1) return failure;
  // The lowest failing rank, then its message to everyone.
  const int mine = failure ? rank() : size();
  int first = size();
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (first == size()) return std::nullopt;
  std::string message = rank() == first ? *failure : std::string();
  int length = static_cast<int>(message.size());
  MPI_Bcast(&length, 1, MPI_INT, first, MPI_COMM_WORLD);
  message.resize(static_cast<std::size_t>(length));
  MPI_Bcast(message.data(), length, MPI_CHAR, first, MPI_COMM_WORLD);
  return "rank " + std::to_string(first) + ": " + message;
}

SearchResult search_distributed(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                                const std::string& sequence_file, const SearchOptions& options) {
  SearchResult result;
  // The database, as process 0 sees it; everyone checks that it can read it.
  std::optional<std::string> failure;
  std::uint64_t file_size = 0;
  try {
    file_size = seekable_size(sequence_file);
  } catch (const ScanError& e) {
    failure = e.what();
  }
  if (const auto f = agree(failure)) throw ScanError(*f);
  MPI_Bcast(&file_size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);

  const auto calibration_start = std::chrono::steady_clock::now();
  std::vector<ScoreLaw> laws;
  failure.reset();
  try {
    laws = calibrate_shared(profiles, settings, options);
  } catch (const std::exception& e) {
    failure = failure_message(e);
  }
  if (const auto f = agree(failure)) throw ScanError(*f);
  result.calibration_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - calibration_start).count();

  const Layout l = layout(file_size, profiles, size());
  UnitResult mine;
  failure.reset();
  if (rank() == 0) {
    // Process 0 hands out the units from its main thread and searches them
    // on another, from the same counter.
    std::atomic<long long> next{0};
    RecordsDone records(l);
    std::atomic<bool> stop{false};
    std::optional<std::string> local_failure;
    std::thread worker([&] {
      try {
        for (long long unit; !stop && (unit = next++) < l.units();)
          records.finished(unit, run_unit(unit, l, profiles, laws, settings, sequence_file, options,
                                          records.before(unit), mine));
      } catch (const std::exception& e) {
        local_failure = failure_message(e);
        stop = true;
      }
    });
    for (int finished = 0; finished < size() - 1;) {
      int from = 0;
      const std::vector<char> request = receive_bytes(MPI_ANY_SOURCE, kRequest, &from);
      wire::Reader reader(request);
      const auto ask = static_cast<Ask>(reader.get<char>());
      const auto last_unit = reader.get<long long>();
      records.finished(last_unit, reader.get<std::uint64_t>());
      if (ask == Ask::failed && !failure) failure = "rank " + std::to_string(from) + ": " + reader.text();
      if (failure) stop = true;
      long long reply[2] = {stop || ask == Ask::failed ? kNoMoreUnits : next++, 0};
      if (reply[0] >= l.units()) reply[0] = kNoMoreUnits;
      if (reply[0] != kNoMoreUnits) reply[1] = static_cast<long long>(records.before(reply[0]));
      MPI_Send(reply, 2, MPI_LONG_LONG, from, kUnit, MPI_COMM_WORLD);
      if (reply[0] == kNoMoreUnits) ++finished;
    }
    worker.join();
    if (!failure && local_failure) failure = "rank 0: " + *local_failure;
    for (int k = 1; k < size(); ++k) {
      const std::vector<char> bytes = receive_bytes(MPI_ANY_SOURCE, kResult);
      exchanged += bytes.size();
      wire::Reader reader(bytes);
      merge(mine, wire::get_unit_result(reader));
    }
  } else {
    std::optional<std::string> local_failure;
    long long last_unit = kNoMoreUnits;
    std::uint64_t counted = 0;  // records of the last unit
    for (;;) {
      wire::Writer request;
      request.put(static_cast<char>(local_failure ? Ask::failed : Ask::work));
      request.put(last_unit);
      request.put(counted);
      if (local_failure) request.put(*local_failure);
      send_bytes(request.bytes(), 0, kRequest);
      long long reply[2] = {kNoMoreUnits, 0};
      MPI_Recv(reply, 2, MPI_LONG_LONG, 0, kUnit, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
      if (reply[0] == kNoMoreUnits) break;
      last_unit = reply[0];
      try {
        counted = run_unit(reply[0], l, profiles, laws, settings, sequence_file, options,
                           static_cast<std::uint64_t>(reply[1]), mine);
      } catch (const std::exception& e) {
        local_failure = failure_message(e);
        last_unit = kNoMoreUnits;
        counted = 0;
      }
    }
    wire::Writer writer;
    wire::put(writer, local_failure ? UnitResult{} : mine);
    exchanged += writer.bytes().size();
    send_bytes(writer.bytes(), 0, kResult);
  }
  // Everyone ends with process 0's verdict.
  int failed = failure ? 1 : 0;
  MPI_Bcast(&failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (failed) throw ScanError(rank() == 0 ? *failure : std::string("failed on another rank"));

  result.stats = mine.stats;
  if (rank() == 0) {
    result.stats.database_size = options.reporting.database_size.value_or(static_cast<double>(mine.stats.records));
    result.hits = reported_hits(mine.candidates, laws, options, result.stats.database_size);
  }
  return result;
}

#endif

}  // namespace tormid::scan::job
