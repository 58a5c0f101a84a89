// tormid-scan: searches every record of a sequence database with one or
// many profiles and reports each domain of each sequence with its
// coordinates, on every core.
//
// Values flow one way: command line -> ScanRequest (the search's
// configuration, resolved once) -> profiles -> search (the search library,
// or its MPI distribution) -> hits -> reports. Only run_tormid_scan prints.
#pragma once

namespace tormid::scan {

// The whole program; returns the exit status.
int run_tormid_scan(int argc, const char* const* argv);

}  // namespace tormid::scan
