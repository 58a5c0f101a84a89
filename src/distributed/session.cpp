// The MPI session and the agreement of its processes; without MPI, a job
// of one process.
#include "distributed/distributed.h"

#if TORMID_MPI
#include <mpi.h>
#endif

namespace tormid::distributed {

#if !TORMID_MPI

Session::Session(int&, char**&) {}
Session::~Session() = default;
int rank() { return 0; }
int size() { return 1; }
std::optional<std::string> agree(const std::optional<std::string>& failure) { return failure; }

#else

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

#endif

}  // namespace tormid::distributed
