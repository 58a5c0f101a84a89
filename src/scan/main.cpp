#include "scan/distributed.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  const tormid::scan::job::Session session(argc, argv);
  return tormid::scan::run_tormid_scan(argc, argv);
}
