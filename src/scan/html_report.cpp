#include "scan/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "scan/options.h"
#include "scan/report.h"
#include "scan/report_text.h"
#include "tormid_version.h"

namespace tormid::scan {

namespace {

// The widest drawing, in pixels: the longest sequence on the page. One
// scale for all, so that lengths compare across sequences.
constexpr double kDrawingWidth = 640;
constexpr int kRowHeight = 20;

std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// Text from the files as the page shows it: valid UTF-8, no control
// bytes, no markup.
std::string html_text(const std::string& text) { return escaped(table_field(text)); }
std::string html_name(const std::string& name) { return name.empty() ? "(unnamed)" : html_text(name); }

// A colour per profile, the hues spread by the golden angle so that
// neighbours differ.
std::string colour(int profile) {
  char text[32];
  std::snprintf(text, sizeof text, "hsl(%.0f,65%%,48%%)", std::fmod(profile * 137.508, 360.0));
  return text;
}

std::string pixels(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", x);
  return text;
}

// A sequence drawn with its domains: the hits' indices into the result.
struct Row {
  const Hit* first = nullptr;
  std::vector<std::size_t> hits;
};

struct Group {
  std::string title;
  std::vector<Row> rows;
};

std::vector<Group> groups_of(const ReportContext& context, const SearchResult& result) {
  const auto& profiles = context.profiles.profiles;
  std::vector<Group> groups;
  if (context.request.per_sequence) {
    std::vector<std::size_t> order(result.hits.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const Hit &x = result.hits[a], &y = result.hits[b];
      if (x.record != y.record) return x.record < y.record;
      return x.seq_from < y.seq_from;
    });
    for (const std::size_t k : order) {
      const Hit& h = result.hits[k];
      if (groups.empty() || groups.back().rows.front().first->record != h.record) {
        Group g;
        g.title = "Sequence " + html_name(h.name()) + " <small>(" + std::to_string(h.seq_len) + " residues)" +
                  (h.description().empty() ? "" : " " + html_text(h.description())) + "</small>";
        g.rows.push_back(Row{&h, {}});
        groups.push_back(std::move(g));
      }
      groups.back().rows.front().hits.push_back(k);
    }
    return groups;
  }
  // Per profile, in the report's order (by E-value): a row per sequence,
  // where it first comes.
  std::map<std::uint64_t, std::size_t> row_of;
  int profile = -1;
  for (std::size_t k = 0; k < result.hits.size(); ++k) {
    const Hit& h = result.hits[k];
    if (h.profile != profile) {
      profile = h.profile;
      const Profile& p = profiles[static_cast<std::size_t>(h.profile)];
      Group g;
      g.title = "Profile " + html_name(p.name()) +
                (p.notes().accession.empty() ? "" : " " + html_text(p.notes().accession)) + " <small>(" +
                std::to_string(p.length()) + " positions)" +
                (p.notes().description.empty() ? "" : " " + html_text(p.notes().description)) + "</small>";
      groups.push_back(std::move(g));
      row_of.clear();
    }
    auto [at, added] = row_of.emplace(h.record, groups.back().rows.size());
    if (added) groups.back().rows.push_back(Row{&h, {}});
    groups.back().rows[at->second].hits.push_back(k);
  }
  return groups;
}

std::string domain_title(const ReportContext& context, const Hit& h) {
  const Profile& p = context.profiles.profiles[static_cast<std::size_t>(h.profile)];
  return html_name(p.name()) + ": residues " + std::to_string(h.seq_from) + "-" + std::to_string(h.seq_to) + " of " +
         std::to_string(h.seq_len) + ", positions " + std::to_string(h.prf_from) + "-" + std::to_string(h.prf_to) +
         " of " + std::to_string(p.length()) + "; E-value " + evalue_text(h.evalue) + ", score " +
         score_text(h.score);
}

// The sequence as a line and its domains on it; domains that overlap go
// in lanes one below the other, so that none hides another.
std::string drawing(const ReportContext& context, const SearchResult& result, const Row& row, double scale) {
  std::vector<std::size_t> hits = row.hits;
  std::stable_sort(hits.begin(), hits.end(),
                   [&](std::size_t a, std::size_t b) { return result.hits[a].seq_from < result.hits[b].seq_from; });
  std::vector<int> lane_end;  // the last residue drawn in each lane
  std::vector<std::size_t> lane(hits.size());
  for (std::size_t k = 0; k < hits.size(); ++k) {
    const Hit& h = result.hits[hits[k]];
    std::size_t l = 0;
    while (l < lane_end.size() && lane_end[l] >= h.seq_from) ++l;
    if (l == lane_end.size()) lane_end.push_back(0);
    lane_end[l] = h.seq_to;
    lane[k] = l;
  }
  const int lanes = std::max<int>(1, static_cast<int>(lane_end.size()));
  const int height = kRowHeight * lanes;
  const double width = std::max(1.0, row.first->seq_len * scale);
  std::string svg = "<svg width=\"" + pixels(width + 2) + "\" height=\"" + std::to_string(height) +
                    "\" role=\"img\"><rect class=\"chain\" x=\"1\" y=\"" + std::to_string(height / 2 - 2) +
                    "\" width=\"" + pixels(width) + "\" height=\"4\"/>";
  for (std::size_t k = 0; k < hits.size(); ++k) {
    const Hit& h = result.hits[hits[k]];
    const double x = 1 + (h.seq_from - 1) * scale;
    const double w = std::max(2.0, (h.seq_to - h.seq_from + 1) * scale);
    svg += "<rect class=\"domain\" data-domain=\"" + std::to_string(hits[k]) + "\" x=\"" + pixels(x) +
           "\" y=\"" + std::to_string(2 + kRowHeight * static_cast<int>(lane[k])) + "\" width=\"" + pixels(w) +
           "\" height=\"16\" rx=\"3\" fill=\"" + colour(h.profile) + "\"><title>" + domain_title(context, h) +
           "</title></rect>";
  }
  return svg + "</svg>";
}

const char kStyle[] = R"(<style>
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #222; }
pre.run { background: #f5f5f5; padding: .6em; white-space: pre-wrap; }
.page { display: flex; gap: 2em; align-items: flex-start; }
.drawings { flex: 0 0 auto; max-width: 62em; }
.list { flex: 1 1 auto; overflow-x: auto; }
.group h2 { font-size: 15px; margin: 1.2em 0 .3em; font-weight: 600; }
.group h2 small { font-weight: normal; color: #555; }
.row { display: flex; align-items: center; gap: .6em; white-space: nowrap; }
.row .name { width: 12em; overflow: hidden; text-overflow: ellipsis; font-family: monospace; }
rect.chain { fill: #c8c8c8; }
rect.domain { opacity: .85; stroke: #333; stroke-width: .5; }
rect.domain:hover, rect.domain.lit { opacity: 1; stroke-width: 2; }
.legend span { display: inline-block; margin-right: 1em; }
.legend i { display: inline-block; width: 1em; height: .8em; margin-right: .3em; border-radius: 2px; }
table { border-collapse: collapse; font-size: 13px; }
th, td { padding: .15em .5em; text-align: left; border-bottom: 1px solid #e4e4e4; white-space: nowrap; }
th[data-sort] { cursor: pointer; text-decoration: underline dotted; }
td.number { text-align: right; font-family: monospace; }
tr:hover { background: #fff6d6; }
</style>
)";

// Sorting by a column, hovering a row lights its drawn domain, and the
// page reports what it drew and any script error.
const char kScript[] = R"(<script>
(function () {
  'use strict';
  var errors = document.getElementById('errors');
  window.addEventListener('error', function (e) { errors.textContent += String(e.message) + '\n'; });
  var table = document.getElementById('domains');
  var body = table.tBodies[0];
  var keys = {
    evalue: function (r) { return [+r.dataset.rank]; },
    score: function (r) { return [-r.dataset.score, +r.dataset.rank]; },
    profile: function (r) { return [+r.dataset.profile, +r.dataset.rank]; },
    sequence: function (r) { return [+r.dataset.record, +r.dataset.from]; }
  };
  function sortBy(name) {
    var key = keys[name];
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = key(a), y = key(b);
      for (var i = 0; i < x.length; ++i) if (x[i] !== y[i]) return x[i] < y[i] ? -1 : 1;
      return 0;
    });
    rows.forEach(function (r) { body.appendChild(r); });
    table.dataset.sorted = name;
  }
  Array.prototype.forEach.call(table.querySelectorAll('th[data-sort]'), function (th) {
    th.addEventListener('click', function () { sortBy(th.dataset.sort); });
  });
  Array.prototype.forEach.call(body.rows, function (r) {
    var drawn = document.querySelector('svg [data-domain="' + r.dataset.domainRow + '"]');
    r.addEventListener('mouseenter', function () { drawn.classList.add('lit'); });
    r.addEventListener('mouseleave', function () { drawn.classList.remove('lit'); });
  });
  if (location.hash === '#by-evalue') sortBy('evalue');
  document.getElementById('drawn').textContent = String(document.querySelectorAll('svg [data-domain]').length);
})();
</script>
)";

}  // namespace

void write_html(const ReportContext& context, const SearchResult& result, const TableWriter& write) {
  const auto& profiles = context.profiles.profiles;
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<title>tormid-scan: " + html_text(context.request.sequence_file) + "</title>\n";
  out += kStyle;
  out += "</head>\n<body>\n<h1>tormid-scan " + escaped(TORMID_VERSION) + "</h1>\n";
  // The report's header lines: what was searched, how, what is reported.
  out += "<pre class=\"run\">" + escaped(report_header(context)) + "</pre>\n";
  out += "<p>" + std::to_string(result.hits.size()) + (result.hits.size() == 1 ? " domain" : " domains") +
         " reported. Hover over a domain for its profile, coordinates, E-value and score.</p>\n";
  write(out);

  // The profiles with domains, each with its colour.
  std::vector<char> has_hits(profiles.size(), 0);
  for (const Hit& h : result.hits) has_hits[static_cast<std::size_t>(h.profile)] = 1;
  out = "<p class=\"legend\">";
  for (std::size_t p = 0; p < profiles.size(); ++p)
    if (has_hits[p])
      out += "<span><i style=\"background:" + colour(static_cast<int>(p)) + "\"></i>" +
             html_name(profiles[p].name()) + "</span>";
  out += "</p>\n<div class=\"page\">\n<section class=\"drawings\">\n";
  write(out);

  int longest = 1;
  for (const Hit& h : result.hits) longest = std::max(longest, h.seq_len);
  const double scale = kDrawingWidth / longest;
  for (const Group& g : groups_of(context, result)) {
    out = "<div class=\"group\"><h2>" + g.title + "</h2>\n";
    for (const Row& r : g.rows)
      out += "<div class=\"row\"><span class=\"name\" title=\"" + html_name(r.first->name()) + "\">" +
             html_name(r.first->name()) + "</span>" + drawing(context, result, r, scale) + "</div>\n";
    write(out + "</div>\n");
  }

  // The table: report order is E-value order within each profile; the
  // rank sorts all of them by E-value (by score without E-values).
  std::vector<std::size_t> by_significance(result.hits.size());
  std::iota(by_significance.begin(), by_significance.end(), std::size_t{0});
  std::stable_sort(by_significance.begin(), by_significance.end(), [&](std::size_t a, std::size_t b) {
    const Hit &x = result.hits[a], &y = result.hits[b];
    if (x.evalue < y.evalue || y.evalue < x.evalue) return x.evalue < y.evalue;
    return x.score > y.score;
  });
  std::vector<std::size_t> rank(result.hits.size());
  for (std::size_t r = 0; r < by_significance.size(); ++r) rank[by_significance[r]] = r;
  out = "</section>\n<section class=\"list\">\n<table id=\"domains\" data-sorted=\"\">\n<thead><tr>"
        "<th data-sort=\"profile\">profile</th><th>accession</th><th data-sort=\"sequence\">sequence</th>"
        "<th>residues</th><th>positions</th><th data-sort=\"evalue\">E-value</th>"
        "<th data-sort=\"score\">score</th></tr></thead>\n<tbody>\n";
  write(out);
  for (std::size_t k = 0; k < result.hits.size(); ++k) {
    const Hit& h = result.hits[k];
    const Profile& p = profiles[static_cast<std::size_t>(h.profile)];
    write("<tr data-domain-row=\"" + std::to_string(k) + "\" data-rank=\"" + std::to_string(rank[k]) +
          "\" data-score=\"" + score_text(h.score) + "\" data-profile=\"" + std::to_string(h.profile) +
          "\" data-record=\"" + std::to_string(h.record) + "\" data-from=\"" + std::to_string(h.seq_from) +
          "\"><td><i style=\"display:inline-block;width:.7em;height:.7em;background:" + colour(h.profile) +
          "\"></i> " + html_name(p.name()) + "</td><td>" +
          (p.notes().accession.empty() ? "-" : html_text(p.notes().accession)) + "</td><td>" +
          html_name(h.name()) + "</td><td class=\"number\">" + range(h.seq_from, h.seq_to) +
          "</td><td class=\"number\">" + range(h.prf_from, h.prf_to) + "</td><td class=\"number\">" +
          evalue_text(h.evalue) + "</td><td class=\"number\">" + score_text(h.score) + "</td></tr>\n");
  }
  write("</tbody>\n</table>\n</section>\n</div>\n<p hidden id=\"drawn\"></p>\n<pre hidden id=\"errors\"></pre>\n");
  write(kScript);
  write("</body>\n</html>\n");
}

}  // namespace tormid::scan
