// HMMER3's tabular outputs, so that pipelines built on them (Biopython's
// SearchIO, workflow tools) read tormid-scan's results: --tblout, a line
// per sequence-profile pair, and --domtblout, a line per domain. Columns,
// order and comment lines as HMMER writes them; the columns tormid has no
// counterpart for carry values whose meaning the manual gives. Private to
// tormid-scan.
#pragma once

#include <functional>
#include <string_view>

#include "scan/report.h"

namespace tormid::scan {

using TableWriter = std::function<void(std::string_view)>;

// Searches of a sequence database (query: a profile; target: a sequence)
// or, with --per-sequence, of a profile library (query: a sequence;
// target: a profile), as hmmsearch and hmmscan write them. Per query in
// input order, its targets by the sequence E-value; in the domain table
// each target's domains along the sequence. Needs E-values.
void write_pair_table(const ReportContext& context, const SearchResult& result, const TableWriter& write);
void write_domain_table(const ReportContext& context, const SearchResult& result, const TableWriter& write);

}  // namespace tormid::scan
