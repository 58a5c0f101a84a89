#include <csignal>

#include "distributed/distributed.h"
#include "output/output.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  // A standard output that is gone is an error to tell, not an end.
  std::signal(SIGPIPE, SIG_IGN);
  tormid::remove_temporaries_on_signals();
  const tormid::distributed::Session session(argc, argv);
  return tormid::scan::run_tormid_scan(argc, argv);
}
