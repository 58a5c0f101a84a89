// The reports: the hit list on standard output, the tab-separated table and
// the alignment blocks.
#include "scan/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "scan/per_sequence.h"
#include "scan/report_text.h"
#include "search/calibration.h"
#include "tormid_version.h"

namespace tormid::scan {

namespace {

constexpr std::size_t kBlockColumns = 60;
constexpr std::size_t kLeastDescription = 40;
// Profiles without hits are named in one line, up to this many.
constexpr std::size_t kNamedWithoutHits = 10;

std::string without_hits(const std::vector<std::string>& names) {
  std::string line = "No hits for " + grouped(names.size()) + (names.size() == 1 ? " profile: " : " profiles: ");
  for (std::size_t k = 0; k < names.size() && k < kNamedWithoutHits; ++k) line.append(k > 0 ? ", " : "").append(names[k]);
  if (names.size() > kNamedWithoutHits) line += ", and " + grouped(names.size() - kNamedWithoutHits) + " more";
  return line + "\n\n";
}

// The line between consensus and sequence: the letter for an identity,
// "+" for a pair the profile scores above zero.
std::string match_line(const Hit& h, const Profile& profile) {
  std::string marks(h.prf_line.size(), ' ');
  int position = h.prf_from - 1;
  for (std::size_t k = 0; k < h.prf_line.size(); ++k) {
    const char p = h.prf_line[k], r = h.seq_line[k];
    if (p == '.') continue;
    ++position;
    if (r == '.') continue;
    const int code = getIndex(r);
    if (code >= 0 && alphabet[code] == static_cast<char>(p - 'a' + 'A')) marks[k] = r;
    else if (code >= 0 && profile.row(position - 1)[static_cast<std::size_t>(code)] > 0) marks[k] = '+';
  }
  return marks;
}

void append_alignment(std::string& out, const Hit& h, const Profile& profile, bool bits) {
  out += ">> " + sequence_name(h) + "  domain " + std::to_string(h.domain) + "/" + std::to_string(h.n_domains) +
         "  score " + score_text(h.score) + (bits ? "  bits " + bits_text(h.bits) : std::string()) +
         "  E-value " + evalue_text(h.evalue) + (h.bias > 0 ? "  bias " + format("%.1f", h.bias) : std::string()) +
         "  residues " + range(h.seq_from, h.seq_to) + " of " +
         std::to_string(h.seq_len) + "  positions " + range(h.prf_from, h.prf_to) + " of " +
         std::to_string(profile.length()) + "\n";
  const std::string marks = match_line(h, profile);
  const std::string profile_name = shown(profile.name());
  const std::size_t name_width = std::min<std::size_t>(24, std::max(profile_name.size(), sequence_name(h).size()));
  const std::size_t number_width = std::to_string(std::max(h.seq_to, h.prf_to)).size();
  int position = h.prf_from, residue = h.seq_from;
  for (std::size_t at = 0; at < h.prf_line.size(); at += kBlockColumns) {
    const std::string prf = h.prf_line.substr(at, kBlockColumns);
    const std::string seq = h.seq_line.substr(at, kBlockColumns);
    const auto count = [](const std::string& s) {
      return static_cast<int>(s.size() - static_cast<std::size_t>(std::count(s.begin(), s.end(), '.')));
    };
    const int positions = count(prf), residues = count(seq);
    auto numbered = [&](const std::string& name, int first, int n, const std::string& text) {
      const int shown_first = n > 0 ? first : first - 1;
      out += "  " + padded_right(cut(name, name_width), name_width) + " " +
             padded_left(std::to_string(shown_first), number_width) + " " + text + " " +
             std::to_string(first + n - 1) + "\n";
    };
    numbered(profile_name, position, positions, prf);
    out += "  " + std::string(name_width + number_width + 2, ' ') + marks.substr(at, kBlockColumns) + "\n";
    numbered(sequence_name(h), residue, residues, seq);
    out += "\n";
    position += positions;
    residue += residues;
  }
}

void append_hit_list(std::string& out, const ReportContext& context, int profile_index,
                     const std::vector<const Hit*>& hits) {
  const auto index = static_cast<std::size_t>(profile_index);
  const Profile& profile = context.profiles.profiles[index];
  std::set<std::uint64_t> sequences;
  for (const Hit* h : hits) sequences.insert(h->record);
  const ProfileNotes& notes = profile.notes();
  out += "Profile " + shown(profile.name()) + (notes.accession.empty() ? "" : " " + shown(notes.accession)) + " (" +
         std::to_string(profile.length()) + " positions, " + shown(context.profiles.files[index]) + "): ";
  out += std::to_string(hits.size()) + (hits.size() == 1 ? " domain" : " domains") + " in " +
         std::to_string(sequences.size()) + (sequences.size() == 1 ? " sequence\n" : " sequences\n");
  if (!notes.description.empty()) out += "  " + shown(notes.description) + "\n";

  std::size_t name_width = 8, length_width = 6, domain_width = 6, residues_width = 8, positions_width = 9;
  for (const Hit* h : hits) {
    name_width = std::max(name_width, std::min<std::size_t>(30, sequence_name(*h).size()));
    length_width = std::max(length_width, std::to_string(h->seq_len).size());
    domain_width = std::max(domain_width, (std::to_string(h->domain) + "/" + std::to_string(h->n_domains)).size());
    residues_width = std::max(residues_width, range(h->seq_from, h->seq_to).size());
    positions_width = std::max(positions_width, range(h->prf_from, h->prf_to).size());
  }
  const bool bits = context.request.bits;
  auto row = [&](const std::string& score, const std::string& evalue, const std::string& bit_score,
                 const std::string& name, const std::string& length, const std::string& domain,
                 const std::string& residues, const std::string& positions, const std::string& description) {
    std::string line = padded_left(score, 11) + "  " + padded_left(evalue, 7) +
                       (bits ? "  " + padded_left(bit_score, 6) : std::string()) + "  " +
                       padded_right(cut(name, name_width), name_width) + "  " +
                       padded_left(length, length_width) + "  " + padded_left(domain, domain_width) + "  " +
                       padded_left(residues, residues_width) + "  " + padded_left(positions, positions_width);
    // The description takes the rest of the line, and at least a readable
    // part of it where long names leave little.
    if (!description.empty()) line += "  " + cut(description, std::max(kLineWidth - std::min(kLineWidth, line.size() + 2), kLeastDescription));
    out += line + "\n";
  };
  row("score", "E-value", "bits", "sequence", "length", "domain", "residues", "positions", "description");
  for (const Hit* h : hits)
    row(score_text(h->score), evalue_text(h->evalue), bits_text(h->bits), sequence_name(*h), std::to_string(h->seq_len),
        std::to_string(h->domain) + "/" + std::to_string(h->n_domains), range(h->seq_from, h->seq_to),
        range(h->prf_from, h->prf_to), shown(h->description(), kLineWidth));
  out += "\n";
  if (context.request.show_alignments) {
    for (const Hit* h : hits) append_alignment(out, *h, profile, bits);
  }
}

// Per sequence in input order: its domains from every profile along it
// (its domain architecture), with the E-value of each profile on the whole
// sequence, and how many others each domain overlaps (the table names them).
void append_sequence_lists(std::string& out, const ReportContext& context, const std::vector<Hit>& hits) {
  const std::vector<const Hit*> ordered = in_sequence_order(hits);
  const std::vector<std::vector<std::size_t>> overlaps = overlapping(ordered);
  const bool bits = context.request.bits;
  auto profile_name = [&](const Hit& h) {
    return shown(context.profiles.profiles[static_cast<std::size_t>(h.profile)].name());
  };
  for (std::size_t first = 0; first < ordered.size();) {
    std::size_t last = first;
    while (last < ordered.size() && ordered[last]->record == ordered[first]->record) ++last;
    const Hit& head = *ordered[first];
    out += "Sequence " + sequence_name(head) + " (" + std::to_string(head.seq_len) + " residues): " +
           std::to_string(last - first) + (last - first == 1 ? " domain" : " domains");
    if (!head.description().empty()) out += "  " + shown(head.description(), kLineWidth);
    out += "\n";
    std::size_t name_width = 7, residues_width = 8, positions_width = 9;
    for (std::size_t k = first; k < last; ++k) {
      name_width = std::max(name_width, std::min<std::size_t>(30, profile_name(*ordered[k]).size()));
      residues_width = std::max(residues_width, range(ordered[k]->seq_from, ordered[k]->seq_to).size());
      positions_width = std::max(positions_width, range(ordered[k]->prf_from, ordered[k]->prf_to).size());
    }
    auto row = [&](const std::string& score, const std::string& evalue, const std::string& sequence_evalue,
                   const std::string& bit_score, const std::string& profile, const std::string& residues,
                   const std::string& positions, const std::string& overlap) {
      out += padded_left(score, 11) + "  " + padded_left(evalue, 7) + "  " + padded_left(sequence_evalue, 11) +
             (bits ? "  " + padded_left(bit_score, 6) : std::string()) + "  " +
             padded_right(cut(profile, name_width), name_width) + "  " + padded_left(residues, residues_width) +
             "  " + padded_left(positions, positions_width) + "  " + padded_left(overlap, 8) + "\n";
    };
    row("score", "E-value", "seq E-value", "bits", "profile", "residues", "positions", "overlaps");
    for (std::size_t k = first; k < last; ++k) {
      const Hit& h = *ordered[k];
      row(score_text(h.score), evalue_text(h.evalue), evalue_text(h.sequence_evalue), bits_text(h.bits),
          profile_name(h), range(h.seq_from, h.seq_to), range(h.prf_from, h.prf_to),
          overlaps[k].empty() ? std::string("-") : std::to_string(overlaps[k].size()));
    }
    out += "\n";
    if (context.request.show_alignments)
      for (std::size_t k = first; k < last; ++k)
        append_alignment(out, *ordered[k], context.profiles.profiles[static_cast<std::size_t>(ordered[k]->profile)],
                         bits);
    first = last;
  }
}

// What was searched, how, and what is reported.
std::string header(const ReportContext& context, std::uint64_t positions) {
  const ScanRequest& r = context.request;
  const SearchConfig& c = r.config;
  std::string out = std::string("# tormid-scan ") + TORMID_VERSION + "\n";
  out += "# profiles:  " + grouped(context.profiles.profiles.size()) + " (" + grouped(positions) + " positions) from";
  for (const std::string& f : r.profile_files) out.append(" ").append(shown(f));
  out.append("\n# sequences: ").append(shown(r.sequence_file)).append("\n");
  out += "# alignment: " + mode_name(c.alignment) + ", " + gap_costs(c.alignment) + "\n";
  out += "# reported:  ";
  if (c.has_evalues()) {
    out += "domains with E-value at most " + number(c.max_evalue);
    if (c.min_score) out += " and score at least " + number(*c.min_score);
    if (r.cutoff)
      out += std::string(" that pass each profile's ") + cutoff_tag(*r.cutoff) + " cutoffs";
    if (r.per_sequence && c.database_size && *c.database_size == static_cast<double>(context.profiles.profiles.size()))
      out += " (Z = " + number(*c.database_size) + ", the number of profiles searched)";
    else
      out += c.database_size ? " (Z = " + number(*c.database_size) + ")" : " (Z = the number of sequences searched)";
  } else {
    out += "domains scoring at least " + number(c.score_threshold()) + " (global mode has no E-values)";
  }
  if (c.max_domains > 0) out += ", at most " + std::to_string(c.max_domains) + " per sequence and profile";
  if (r.resolve_overlaps) out += "; of domains of different profiles overlapping by more than half, the most significant";
  if (r.iterations > 1)
    out += "\n# rounds:    up to " + std::to_string(r.iterations) + "; domains with E-value at most " +
           number(r.inclusion_evalue) + " join each profile's next round";
  return out + "\n\n";
}

std::uint64_t positions_of(const std::vector<Profile>& profiles) {
  std::uint64_t positions = 0;
  for (const Profile& p : profiles) positions += static_cast<std::uint64_t>(p.length());
  return positions;
}

// The hit lists profile by profile, and the profiles without hits.
void append_profile_lists(std::string& out, const ReportContext& context, const std::vector<Hit>& hits,
                          bool name_without_hits) {
  const std::vector<Profile>& profiles = context.profiles.profiles;
  std::vector<std::vector<const Hit*>> by_profile(profiles.size());
  for (const Hit& h : hits) by_profile[static_cast<std::size_t>(h.profile)].push_back(&h);
  std::vector<std::string> without;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    if (by_profile[p].empty()) without.push_back(shown(profiles[p].name()));
    else append_hit_list(out, context, static_cast<int>(p), by_profile[p]);
  }
  if (name_without_hits && !without.empty()) out += without_hits(without);
}

std::string summary(const ReportContext& context, const SearchResult& result) {
  const std::vector<Profile>& profiles = context.profiles.profiles;
  const SearchConfig& config = context.request.config;
  const std::uint64_t positions = positions_of(profiles);
  std::string out;
  std::set<std::uint64_t> sequences;
  for (const Hit& h : result.hits) sequences.insert(h.record);
  const SearchStats& s = result.stats;
  out += "Summary\n";
  out += "  profiles:   " + grouped(profiles.size()) + " (" + grouped(positions) + " positions)\n";
  out += "  sequences:  " + grouped(s.records) + " searched (" + grouped(s.residues) + " residues)";
  if (s.empty_records > 0) out += "; " + grouped(s.empty_records) + " without letters skipped";
  out += "\n  cells:      " + grouped(s.cells) + " (every residue against every profile position";
  out += context.request.iterations > 1 ? ", every round)\n" : ")\n";
  out += "  hits:       " + grouped(result.hits.size()) + (result.hits.size() == 1 ? " domain" : " domains") +
         " in " + grouped(sequences.size()) + (sequences.size() == 1 ? " sequence\n" : " sequences\n");
  if (config.has_evalues()) {
    // Glocal calibration depends on the profile's length. The shape of a
    // law comes from sequences of the profile's own, its place from the
    // seed's.
    std::size_t fewest[2] = {SIZE_MAX, SIZE_MAX}, most[2] = {0, 0};
    for (const Profile& p : profiles) {
      const CalibrationPlan plan = calibration_plan(config.alignment, p.length());
      const std::size_t n[2] = {plan.sequences(plan.reference_samples), plan.sequences(plan.run_samples)};
      for (int k = 0; k < 2; ++k) {
        fewest[k] = std::min(fewest[k], n[k]);
        most[k] = std::max(most[k], n[k]);
      }
    }
    auto range = [&](int k) {
      return fewest[k] >= most[k] ? grouped(most[k]) : grouped(fewest[k]) + " to " + grouped(most[k]);
    };
    out += "  E-values:   Z = " + number(s.database_size) + "; each profile calibrated on " + range(0) +
           " random sequences of its own and " + range(1) + " of seed " + std::to_string(config.seed) +
           (config.bias_correction ? ", corrected for composition\n" : ", no composition correction\n");
  }
  return out;
}

}  // namespace

std::string report_header(const ReportContext& context) {
  return header(context, positions_of(context.profiles.profiles));
}

std::string hit_report(const ReportContext& context, const SearchResult& result) {
  std::string out = header(context, positions_of(context.profiles.profiles));
  if (context.request.per_sequence) append_sequence_lists(out, context, result.hits);
  else append_profile_lists(out, context, result.hits, true);
  return out + summary(context, result);
}

std::string rounds_report(const ReportContext& context, const IterativeResult& rounds, const SearchResult& result) {
  std::string out = header(context, positions_of(context.profiles.profiles));
  for (const RoundReport& r : rounds.rounds) {
    std::set<std::uint64_t> sequences;
    for (const Hit& h : r.new_hits) sequences.insert(h.record);
    out += "Round " + std::to_string(r.round) + ": " + grouped(static_cast<std::uint64_t>(r.profiles_searched)) +
           (r.profiles_searched == 1 ? " profile" : " profiles") + " searched" + (r.round > 1 ? " again" : "") +
           "; " + grouped(r.new_hits.size()) + (r.new_hits.size() == 1 ? " domain" : " domains") + " in " +
           grouped(sequences.size()) + (sequences.size() == 1 ? " sequence" : " sequences") +
           (r.round > 1 ? " new to their profile\n\n" : "\n\n");
    append_profile_lists(out, context, r.new_hits, false);
  }
  out += summary(context, result);
  std::size_t early = 0;
  for (const int last : rounds.last_round) early += last < static_cast<int>(rounds.rounds.size());
  out += "  rounds:     " + std::to_string(rounds.rounds.size()) + " of up to " +
         std::to_string(context.request.iterations);
  if (early > 0)
    out += "; " + grouped(early) + (early == 1 ? " profile" : " profiles") +
           " stopped earlier, including nothing new";
  out += "; the tables hold each profile's last round\n";
  return out;
}

void write_hit_table(const ReportContext& context, const SearchResult& result,
                     const std::function<void(std::string_view)>& write, const std::vector<int>* joined) {
  const bool per_sequence = context.request.per_sequence;
  write("#profile\tsequence\tseq_len\tdomain\tn_domains\tscore\tevalue\tbits\tbias\tseq_from\tseq_to\tprf_from\t"
        "prf_to\tprf_len\tdescription");
  write(per_sequence ? "\toverlaps\tseq_evalue" : joined ? "\tround" : "");
  write("\tprf_accession\tprf_description\n");
  std::vector<const Hit*> ordered;
  for (const Hit& h : result.hits) ordered.push_back(&h);
  std::vector<std::vector<std::size_t>> overlaps;
  if (per_sequence) {
    ordered = in_sequence_order(result.hits);
    overlaps = overlapping(ordered);
  }
  std::string row;
  // Whether each sequence's description has control bytes, looked at once:
  // a long one is written as it is, not copied for every row.
  std::map<const SequenceLabel*, bool> clean;
  for (std::size_t k = 0; k < ordered.size(); ++k) {
    const Hit& h = *ordered[k];
    const Profile& profile = context.profiles.profiles[static_cast<std::size_t>(h.profile)];
    row = first_table_field(profile.name()) + "\t" + table_field(h.name()) + "\t" + std::to_string(h.seq_len) + "\t" +
          std::to_string(h.domain) + "\t" + std::to_string(h.n_domains) + "\t" + score_text(h.score) + "\t" +
          evalue_text(h.evalue) + "\t" + bits_text(h.bits) + "\t" + format("%.1f", h.bias) + "\t" +
          std::to_string(h.seq_from) + "\t" + std::to_string(h.seq_to) + "\t" + std::to_string(h.prf_from) + "\t" +
          std::to_string(h.prf_to) + "\t" + std::to_string(profile.length()) + "\t";
    write(row);
    auto [at, added] = clean.emplace(h.sequence.get(), false);
    if (added) at->second = std::none_of(h.description().begin(), h.description().end(), is_control);
    if (at->second) write(h.description());
    else write(table_field(h.description()));
    if (per_sequence) {
      std::string overlap;
      for (const std::size_t other : overlaps[k]) {
        if (!overlap.empty()) overlap += ',';
        overlap += table_field(context.profiles.profiles[static_cast<std::size_t>(ordered[other]->profile)].name());
      }
      write("\t");
      write(overlap.empty() ? std::string("-") : overlap);
      write("\t" + evalue_text(h.sequence_evalue));
    }
    if (joined && !per_sequence) write("\t" + std::to_string((*joined)[static_cast<std::size_t>(&h - result.hits.data())]));
    const ProfileNotes& notes = profile.notes();
    write("\t" + (notes.accession.empty() ? std::string("-") : table_field(notes.accession)) + "\t" +
          (notes.description.empty() ? std::string("-") : table_field(notes.description)) + "\n");
  }
}

}  // namespace tormid::scan
