#include "distributed/distributed.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  const tormid::distributed::Session session(argc, argv);
  return tormid::scan::run_tormid_scan(argc, argv);
}
