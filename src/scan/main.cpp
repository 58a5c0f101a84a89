#include "scan/scan.h"

int main(int argc, char** argv) { return tormid::scan::run_tormid_scan(argc, argv); }
