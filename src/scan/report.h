// tormid-scan's reports: the hit list on standard output and the
// tab-separated table. Private to tormid-scan.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "builder/builder.h"
#include "builder/iteration.h"
#include "scan/options.h"
#include "search/search.h"

namespace tormid::scan {

// The profiles searched, the file each came from, the laws of those from
// prepared libraries (empty for the others) and the families of those
// built from alignments or sequences (empty for the others).
struct ProfileSet {
  std::vector<Profile> profiles;
  std::vector<std::string> files;
  std::vector<StoredLaw> laws;
  std::vector<Family> seeds;
};

struct ReportContext {
  const ProfileSet& profiles;
  const ScanRequest& request;
};

// The standard output: a header, per profile a ranked hit list (or, with
// --per-sequence, per sequence its domains from every profile), the
// alignments when asked for, and a summary.
std::string hit_report(const ReportContext& context, const SearchResult& result);
// The report's first lines ("# ..."): what was searched, how, and what is
// reported.
std::string report_header(const ReportContext& context);
// The tab-separated table, one line per domain, handed to write a line at
// a time (a description may be long, and every row holds it whole).
// With the rounds of --iterations, one more column: the round each hit's
// sequence joined (joined, one per hit).
void write_hit_table(const ReportContext& context, const SearchResult& result,
                     const std::function<void(std::string_view)>& write, const std::vector<int>* joined = nullptr);

// The report of --iterations: the header, each round's new hits (profile
// by profile), then the summary of the last round's hits (result).
std::string rounds_report(const ReportContext& context, const IterativeResult& rounds, const SearchResult& result);

}  // namespace tormid::scan
