#include "scan/hmmer_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "scan/report_text.h"
#include "tormid_version.h"

namespace tormid::scan {

namespace {

// Domains counted as included, as HMMER's default inclusion threshold
// (--incdomE 0.01) counts them.
constexpr double kIncludedEvalue = 0.01;

__attribute__((format(printf, 1, 2))) std::string printed(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, pattern, args);
  va_end(args);
  std::string text(static_cast<std::size_t>(std::max(size, 0)) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), pattern, again);
  va_end(again);
  text.pop_back();
  return text;
}

std::string field_description(const std::string& description) {
  return description.empty() ? std::string("-") : table_field(description);
}

std::string field_accession(const Profile& profile) {
  const std::string& accession = profile.notes().accession;
  return accession.empty() ? std::string("-") : table_name(accession);
}

// A sequence-profile pair with reported domains.
struct Pair {
  std::vector<const Hit*> domains;  // along the sequence
  const Hit* best = nullptr;        // the lowest E-value
};

struct Query {
  std::string name;
  std::string accession;  // "-" for a sequence or a profile without one
  int length = 0;
  std::vector<Pair> targets;  // by the sequence E-value
};

struct Tables {
  bool scan = false;  // queries are sequences, targets profiles
  std::vector<Query> queries;
};

Tables group(const ReportContext& context, const SearchResult& result) {
  Tables t;
  t.scan = context.request.per_sequence;
  const auto& profiles = context.profiles.profiles;
  // Hits of one pair, pairs of one query, in input order.
  std::vector<const Hit*> hits;
  for (const Hit& h : result.hits) hits.push_back(&h);
  auto query_of = [&](const Hit* h) { return t.scan ? h->record : static_cast<std::uint64_t>(h->profile); };
  auto target_of = [&](const Hit* h) { return t.scan ? static_cast<std::uint64_t>(h->profile) : h->record; };
  std::sort(hits.begin(), hits.end(), [&](const Hit* a, const Hit* b) {
    if (query_of(a) != query_of(b)) return query_of(a) < query_of(b);
    if (target_of(a) != target_of(b)) return target_of(a) < target_of(b);
    return a->domain < b->domain;
  });
  for (std::size_t k = 0; k < hits.size(); ++k) {
    const Hit* h = hits[k];
    if (k == 0 || query_of(hits[k - 1]) != query_of(h)) {
      Query q;
      const Profile& profile = profiles[static_cast<std::size_t>(h->profile)];
      q.name = table_name(t.scan ? h->name() : profile.name());
      q.accession = t.scan ? "-" : field_accession(profile);
      q.length = t.scan ? h->seq_len : profile.length();
      t.queries.push_back(std::move(q));
    }
    std::vector<Pair>& targets = t.queries.back().targets;
    if (k == 0 || query_of(hits[k - 1]) != query_of(h) || target_of(hits[k - 1]) != target_of(h))
      targets.emplace_back();
    Pair& pair = targets.back();
    pair.domains.push_back(h);
    if (!pair.best || h->evalue < pair.best->evalue) pair.best = h;
  }
  for (Query& q : t.queries)
    std::stable_sort(q.targets.begin(), q.targets.end(), [](const Pair& a, const Pair& b) {
      const Hit& x = *a.best;
      const Hit& y = *b.best;
      if (x.sequence_evalue != y.sequence_evalue) return x.sequence_evalue < y.sequence_evalue;
      return x.sequence_bits > y.sequence_bits;
    });
  return t;
}

struct Widths {
  int target = 20, query = 20, accession = 10;
};

std::string target_name(const ReportContext& context, const Tables& t, const Hit& h) {
  return table_name(t.scan ? context.profiles.profiles[static_cast<std::size_t>(h.profile)].name() : h.name());
}

int target_length(const ReportContext& context, const Tables& t, const Hit& h) {
  return t.scan ? context.profiles.profiles[static_cast<std::size_t>(h.profile)].length() : h.seq_len;
}

std::string target_accession(const ReportContext& context, const Tables& t, const Hit& h) {
  return t.scan ? field_accession(context.profiles.profiles[static_cast<std::size_t>(h.profile)]) : std::string("-");
}

// The description of the target: of the sequence (a search) or of the
// profile (a scan).
std::string target_description(const ReportContext& context, const Tables& t, const Hit& h) {
  return field_description(t.scan ? context.profiles.profiles[static_cast<std::size_t>(h.profile)].notes().description
                                  : h.description());
}

Widths widths(const ReportContext& context, const Tables& t) {
  Widths w;
  for (const Query& q : t.queries) {
    w.query = std::max(w.query, static_cast<int>(q.name.size()));
    w.accession = std::max(w.accession, static_cast<int>(q.accession.size()));
    for (const Pair& p : q.targets) {
      w.target = std::max(w.target, static_cast<int>(target_name(context, t, *p.best).size()));
      w.accession = std::max(w.accession, static_cast<int>(target_accession(context, t, *p.best).size()));
    }
  }
  return w;
}

// The closing comment lines: what ran, on what.
std::string tail(const ReportContext& context, const Tables& t) {
  const ScanRequest& r = context.request;
  std::string profiles;
  for (const std::string& f : r.profile_files) {
    if (!profiles.empty()) profiles += ' ';
    profiles += table_field(f);
  }
  const std::string sequences = table_field(r.sequence_file);
  std::string out = "#\n";
  out += "# Program:         tormid-scan\n";
  out += std::string("# Version:         ") + TORMID_VERSION + "\n";
  out += std::string("# Pipeline mode:   ") + (t.scan ? "SCAN" : "SEARCH") + "\n";
  out += "# Query file:      " + (t.scan ? sequences : profiles) + "\n";
  out += "# Target file:     " + (t.scan ? profiles : sequences) + "\n";
  out += "# Option settings: " + table_field(r.command_line) + "\n";
  out += "# [ok]\n";
  return out;
}

int included(const Pair& p) {
  return static_cast<int>(
      std::count_if(p.domains.begin(), p.domains.end(), [](const Hit* h) { return h->evalue <= kIncludedEvalue; }));
}

}  // namespace

void write_pair_table(const ReportContext& context, const SearchResult& result, const TableWriter& write) {
  const Tables t = group(context, result);
  const Widths w = widths(context, t);
  write(printed("#%*s %22s %22s %33s\n", w.target + w.query + 2 * w.accession + 2, "", "--- full sequence ----",
                "--- best 1 domain ----", "--- domain number estimation ----"));
  write(printed("#%-*s %-*s %-*s %-*s %9s %6s %5s %9s %6s %5s %5s %3s %3s %3s %3s %3s %3s %3s %s\n", w.target - 1,
                " target name", w.accession, "accession", w.query, "query name", w.accession, "accession",
                "  E-value", " score", " bias", "  E-value", " score", " bias", "exp", "reg", "clu", " ov", "env",
                "dom", "rep", "inc", "description of target"));
  write(printed("#%*s %*s %*s %*s %9s %6s %5s %9s %6s %5s %5s %3s %3s %3s %3s %3s %3s %3s %s\n", w.target - 1,
                "-------------------", w.accession, "----------", w.query, "--------------------", w.accession,
                "----------", "---------", "------", "-----", "---------", "------", "-----", "---", "---", "---",
                "---", "---", "---", "---", "---", "---------------------"));
  for (const Query& q : t.queries)
    for (const Pair& p : q.targets) {
      const Hit& best = *p.best;
      const int n = static_cast<int>(p.domains.size());
      write(printed("%-*s %-*s %-*s %-*s %9.2g %6.1f %5.1f %9.2g %6.1f %5.1f %5.1f %3d %3d %3d %3d %3d %3d %3d %s\n",
                    w.target, target_name(context, t, best).c_str(), w.accession,
                    target_accession(context, t, best).c_str(), w.query, q.name.c_str(), w.accession,
                    q.accession.c_str(), best.sequence_evalue, best.sequence_bits, best.bias_bits, best.evalue, best.bits,
                    best.bias_bits, static_cast<double>(n), n, 0, 0, n, n, n, included(p),
                    target_description(context, t, best).c_str()));
    }
  write(tail(context, t));
}

void write_domain_table(const ReportContext& context, const SearchResult& result, const TableWriter& write) {
  const Tables t = group(context, result);
  const Widths w = widths(context, t);
  const double z = result.stats.database_size;
  write(printed("#%*s %22s %40s %11s %11s %11s\n", w.target + w.query - 1 + 15 + 2 * w.accession, "",
                "--- full sequence ---", "-------------- this domain -------------", "hmm coord", "ali coord",
                "env coord"));
  write(printed("#%-*s %-*s %5s %-*s %-*s %5s %9s %6s %5s %3s %3s %9s %9s %6s %5s %5s %5s %5s %5s %5s %5s %4s %s\n",
                w.target - 1, " target name", w.accession, "accession", "tlen", w.query, "query name", w.accession,
                "accession", "qlen", "E-value", "score", "bias", "#", "of", "c-Evalue", "i-Evalue", "score", "bias",
                "from", "to", "from", "to", "from", "to", "acc", "description of target"));
  write(printed("#%*s %*s %5s %*s %*s %5s %9s %6s %5s %3s %3s %9s %9s %6s %5s %5s %5s %5s %5s %5s %5s %4s %s\n",
                w.target - 1, "-------------------", w.accession, "----------", "-----", w.query,
                "--------------------", w.accession, "----------", "-----", "---------", "------", "-----", "---",
                "---", "---------", "---------", "------", "-----", "-----", "-----", "-----", "-----", "-----",
                "-----", "----", "---------------------"));
  for (const Query& q : t.queries)
    for (const Pair& p : q.targets)
      for (const Hit* h : p.domains) {
        // The conditional E-value: the domain's expected chance count in
        // its own sequence (Z = 1). The envelope is the aligned stretch:
        // tormid's domains are their alignments. The alignments are
        // optimal paths, not posterior decodings, so they carry no
        // accuracy: nan.
        write(printed("%-*s %-*s %5d %-*s %-*s %5d %9.2g %6.1f %5.1f %3d %3d %9.2g %9.2g %6.1f %5.1f %5d %5d %5d %5d "
                      "%5d %5d %4.2f %s\n",
                      w.target, target_name(context, t, *h).c_str(), w.accession,
                      target_accession(context, t, *h).c_str(), target_length(context, t, *h), w.query,
                      q.name.c_str(), w.accession, q.accession.c_str(), q.length, h->sequence_evalue, h->sequence_bits,
                      p.best->bias_bits, h->domain, h->n_domains, z > 0 ? h->evalue / z : NAN, h->evalue, h->bits,
                      h->bias_bits, h->prf_from, h->prf_to, h->seq_from, h->seq_to, h->seq_from, h->seq_to, NAN,
                      target_description(context, t, *h).c_str()));
      }
  write(tail(context, t));
}

}  // namespace tormid::scan
