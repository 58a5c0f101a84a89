// -A: the reported domains of each profile aligned to its positions, as
// Stockholm, what hmmsearch -A writes and what tormid-prf build reads
// back. Private to tormid-scan.
#pragma once

#include "scan/hmmer_tables.h"

namespace tormid::scan {

// A block per profile with domains, in the order of the profiles: a row
// per domain ("sequence/from-to"), in the report's order; each profile
// position a column (residues in upper case, '-' where a domain has none),
// the residues between positions in lower case in columns of their own
// ('.' where a domain has fewer), and "#=GC RF" marking the positions 'x'.
void write_stockholm(const ReportContext& context, const SearchResult& result, const TableWriter& write);

}  // namespace tormid::scan
