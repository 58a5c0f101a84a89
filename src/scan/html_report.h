// --html: the hits as one self-contained page to look at. Private to
// tormid-scan.
#pragma once

#include "scan/hmmer_tables.h"

namespace tormid::scan {

// One HTML page, nothing fetched from anywhere: the run's header; per
// sequence (with --per-sequence) or per profile, each sequence drawn to
// scale as an SVG line with its domains on it, coloured per profile, each
// an element with a data-domain attribute and its profile, coordinates,
// E-value and score on hover; beside them a table of every domain,
// sortable by E-value, score, profile or sequence (a click on the column,
// or "#by-evalue" in the address). The page writes the number of domains
// it drew into the element "drawn", and any script error into "errors".
void write_html(const ReportContext& context, const SearchResult& result, const TableWriter& write);

}  // namespace tormid::scan
