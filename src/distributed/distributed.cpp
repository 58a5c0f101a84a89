// The search over an MPI job: shared calibration, units handed out by
// process 0, candidates gathered on process 0.
#include "distributed/distributed.h"

#if !TORMID_MPI

namespace tormid::distributed {

JobResult search(std::span<const Profile> profiles, const SearchConfig& config, const std::string& sequence_file,
                 std::span<const StoredLaw> laws) {
  return {tormid::search(profiles, config, SequenceSource::file(sequence_file), {}, laws), 0};
}

void share_hits(SearchResult&) {}

}  // namespace tormid::distributed

#else

#include <mpi.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <optional>
#include <thread>

#include "distributed/layout.h"
#include "distributed/wire.h"
#include "search/calibration.h"
#include "search/reporting.h"
#include "search/units.h"

namespace tormid::distributed {

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

std::string failure_message(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "out of memory";
  return e.what();
}

// Runs step() on every process; when one fails, all throw the message of
// the first that did.
template <class Step>
void on_every_process(Step step) {
  std::optional<std::string> failure;
  try {
    step();
  } catch (const std::exception& e) {
    failure = failure_message(e);
  }
  if (const auto f = agree(failure)) throw SearchError(*f);
}

// Refuses what cannot be read at any offset by every process.
std::uint64_t seekable_size(const std::string& path) {
  if (path == "-")
    throw SearchError("-: an MPI search reads the database in byte ranges on every process; give it a file, not "
                      "standard input");
  LineReader raw(path);
  std::string first;
  raw.next(first);
  if (first.size() >= 2 && static_cast<unsigned char>(first[0]) == 0x1f && static_cast<unsigned char>(first[1]) == 0x8b)
    throw SearchError(path +
                      ": gzip-compressed: an MPI search reads the database in byte ranges on every process, which "
                      "compressed data does not allow; decompress it first (gzip -dk " +
                      path + ")");
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    throw SearchError(path + ": not a regular file; an MPI search needs one every process can read at any offset");
  return static_cast<std::uint64_t>(info.st_size);
}

// The stored laws that hold are taken as they are; of the profiles left,
// each process calibrates every size-th; all end with every law. (Every
// process sees the same stored laws, so all agree on what is left.)
std::vector<ScoreLaw> calibrate_shared(std::span<const Profile> profiles, std::span<const StoredLaw> stored,
                                       const SearchConfig& config, double& seconds) {
  std::vector<ScoreLaw> result(profiles.size());
  std::vector<std::size_t> missing;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    std::optional<ScoreLaw> law;
    if (p < stored.size() && law_holds(stored[p], config)) law = ScoreLaw::deserialized(stored[p].numbers);
    if (law) result[p] = std::move(*law);
    else missing.push_back(p);
  }
  seconds = 0;
  if (missing.empty()) return result;
  std::vector<const Profile*> mine;
  std::vector<int> indices;
  for (std::size_t k = static_cast<std::size_t>(rank()); k < missing.size(); k += static_cast<std::size_t>(size())) {
    mine.push_back(&profiles[missing[k]]);
    indices.push_back(static_cast<int>(missing[k]));
  }
  const std::vector<ScoreLaw> laws = calibrate_timed(mine, config, seconds);
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
  for (std::size_t at = 0; at < all.size();) {
    const auto index = static_cast<std::size_t>(all[at]);
    const auto n = static_cast<std::size_t>(all[at + 1]);
    std::optional<ScoreLaw> law = ScoreLaw::deserialized(std::vector<double>(
        all.begin() + static_cast<std::ptrdiff_t>(at + 2), all.begin() + static_cast<std::ptrdiff_t>(at + 2 + n)));
    if (!law) throw SearchError("a score law was damaged on its way between processes");
    result[index] = std::move(*law);
    at += 2 + n;
  }
  return result;
}

// What every unit of the job shares.
struct Job {
  std::span<const Profile> profiles;
  const std::vector<ScoreLaw>& laws;
  const SearchConfig& config;
  const std::string& file;
  const Layout& layout;
};

// Searches one unit into `into`; returns the records it counts.
std::uint64_t run_unit(const Job& job, long long unit, std::uint64_t records_before, UnitResult& into) {
  const auto chunk = static_cast<std::size_t>(unit % job.layout.chunks);
  const std::unique_ptr<RecordStream> records =
      open_range(job.file, job.layout.range(unit), job.config.max_record_length);
  UnitResult result = search_unit({job.profiles, job.laws, job.layout.chunk_starts[chunk],
                                   job.layout.chunk_starts[chunk + 1]},
                                  job.config, *records, RecordsKnown{records_before, 0});
  // Each byte range is searched once per range of profiles; its records
  // count once.
  if (chunk != 0)
    result.stats.records = result.stats.empty_records = result.stats.residues = result.stats.nucleotides = 0;
  const std::uint64_t counted = result.stats.records;
  merge(into, std::move(result));
  return counted;
}

// Process 0: hands out the units from its main thread and searches them on
// another, from the same counter; then gathers every process's results.
// Returns the first failure.
std::optional<std::string> coordinate(const Job& job, UnitResult& mine, std::uint64_t& received) {
  std::atomic<long long> next{0};
  RecordsDone records(job.layout);
  std::atomic<bool> stop{false};
  std::optional<std::string> failure, local_failure;
  std::thread searcher([&] {
    try {
      for (long long unit; !stop && (unit = next++) < job.layout.units();)
        records.finished(unit, run_unit(job, unit, records.before(unit), mine));
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
    if (reply[0] >= job.layout.units()) reply[0] = kNoMoreUnits;
    if (reply[0] != kNoMoreUnits) reply[1] = static_cast<long long>(records.before(reply[0]));
    MPI_Send(reply, 2, MPI_LONG_LONG, from, kUnit, MPI_COMM_WORLD);
    if (reply[0] == kNoMoreUnits) ++finished;
  }
  searcher.join();
  if (!failure && local_failure) failure = "rank 0: " + *local_failure;
  for (int k = 1; k < size(); ++k) {
    const std::vector<char> bytes = receive_bytes(MPI_ANY_SOURCE, kResult);
    received += bytes.size();
    wire::Reader reader(bytes);
    merge(mine, wire::get_unit_result(reader));
  }
  return failure;
}

// The other processes: ask for units until there are none (or this one
// failed, which the request says), then send the results. Returns the
// bytes sent.
std::uint64_t work(const Job& job, UnitResult& mine) {
  std::optional<std::string> failure;
  long long last_unit = kNoMoreUnits;
  std::uint64_t counted = 0;  // records of the last unit
  for (;;) {
    wire::Writer request;
    request.put(static_cast<char>(failure ? Ask::failed : Ask::work));
    request.put(last_unit);
    request.put(counted);
    if (failure) request.put(*failure);
    send_bytes(request.bytes(), 0, kRequest);
    long long reply[2] = {kNoMoreUnits, 0};
    MPI_Recv(reply, 2, MPI_LONG_LONG, 0, kUnit, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    if (reply[0] == kNoMoreUnits) break;
    last_unit = reply[0];
    try {
      counted = run_unit(job, reply[0], static_cast<std::uint64_t>(reply[1]), mine);
    } catch (const std::exception& e) {
      failure = failure_message(e);
      last_unit = kNoMoreUnits;
      counted = 0;
    }
  }
  wire::Writer writer;
  wire::put(writer, failure ? UnitResult{} : mine);
  send_bytes(writer.bytes(), 0, kResult);
  return writer.bytes().size();
}

}  // namespace

JobResult search(std::span<const Profile> profiles, const SearchConfig& config, const std::string& sequence_file,
                 std::span<const StoredLaw> stored) {
  JobResult job_result;
  SearchResult& result = job_result.search;
  on_every_process([&] { check_searchable(profiles, config.alignment); });
  // The database, as process 0 sees it; everyone checks that it can read it.
  std::uint64_t file_size = 0;
  on_every_process([&] { file_size = seekable_size(sequence_file); });
  MPI_Bcast(&file_size, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  std::vector<ScoreLaw> laws;
  on_every_process([&] { laws = calibrate_shared(profiles, stored, config, result.calibration_seconds); });

  const Layout l = layout(file_size, profiles, size());
  const Job job{profiles, laws, config, sequence_file, l};
  UnitResult mine;
  std::optional<std::string> failure;
  if (rank() == 0) failure = coordinate(job, mine, job_result.result_bytes);
  else job_result.result_bytes = work(job, mine);
  // Everyone ends with process 0's verdict.
  int failed = failure ? 1 : 0;
  MPI_Bcast(&failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (failed) throw SearchError(rank() == 0 ? *failure : std::string("failed on another rank"));

  result.stats = mine.stats;
  if (rank() == 0) {
    result.stats.database_size = config.database_size.value_or(static_cast<double>(mine.stats.records));
    result.hits = reported_hits(mine.candidates, laws, config, result.stats.database_size);
  }
  return job_result;
}

void share_hits(SearchResult& result) {
  if (size() == 1) return;
  wire::Writer writer;
  if (rank() == 0) wire::put(writer, result.hits);
  std::uint64_t length = writer.bytes().size();
  MPI_Bcast(&length, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  std::vector<char>& bytes = writer.bytes();
  bytes.resize(length);
  // In pieces, as MPI counts in ints.
  constexpr std::uint64_t kPiece = 1 << 30;
  for (std::uint64_t at = 0; at < length; at += kPiece)
    MPI_Bcast(bytes.data() + at, static_cast<int>(std::min(kPiece, length - at)), MPI_CHAR, 0, MPI_COMM_WORLD);
  if (rank() == 0) return;
  wire::Reader reader(bytes);
  result.hits = wire::get_hits(reader);
}

}  // namespace tormid::distributed

#endif
