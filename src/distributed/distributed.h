// The search as one MPI job over many processes (built with TORMID_MPI;
// without it, or when not started by mpirun or srun, a job of one process).
//
// Every process reads the profiles and the database from the same paths.
// The profiles are calibrated in shares, and the laws exchanged. The work
// is cut into units, a byte range of the database (cut at record
// boundaries) times a range of profiles, which process 0 hands out one at
// a time to whoever asks, so that a process that gets long sequences does
// not hold the others back; each process searches its units with its own
// threads. Only candidate domains travel back to process 0, which makes
// the same hits, E-values and output as one process would.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "search/search.h"

namespace tormid::distributed {

// Starts MPI for main() and ends it.
class Session {
 public:
  Session(int& argc, char**& argv);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
};

int rank();
int size();

// Whether every process of the job got through a step: nothing when all
// did, else (on every process) the message of the first that failed,
// prefixed with its rank on jobs of more than one process.
std::optional<std::string> agree(const std::optional<std::string>& failure);

struct JobResult {
  SearchResult search;  // complete on process 0; the others hold their own statistics only
  std::uint64_t result_bytes = 0;  // of results this process sent (workers) or received (process 0)
};

// search() of an uncompressed FASTA file spread over the job's processes,
// with the same hits, E-values and statistics as one process. Throws
// SearchError on every process when one of them fails.
// laws as for tormid::search(); unless every profile's holds, the job
// calibrates all of them, in shares.
JobResult search(std::span<const Profile> profiles, const SearchConfig& config, const std::string& sequence_file,
                 std::span<const StoredLaw> laws = {});

// Gives every process of the job process 0's hits (what search() leaves
// on process 0 only), for steps that all processes take alike.
void share_hits(SearchResult& result);

}  // namespace tormid::distributed
