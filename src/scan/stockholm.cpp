#include "scan/stockholm.h"

#include <algorithm>

#include "scan/report_text.h"

namespace tormid::scan {

namespace {

// A domain against the positions: the residue at each ('-' for none) and
// the residues after each (inserted[k] after position k, 0 before the
// first).
struct Aligned {
  std::string name;
  std::string at;
  std::vector<std::string> inserted;
};

Aligned aligned(const Hit& h, int positions) {
  Aligned a;
  a.name = table_name(h.name()) + "/" + std::to_string(h.seq_from) + "-" + std::to_string(h.seq_to);
  a.at.assign(static_cast<std::size_t>(positions), '-');
  a.inserted.resize(static_cast<std::size_t>(positions) + 1);
  auto done = static_cast<std::size_t>(h.prf_from - 1);  // positions before the next
  for (std::size_t k = 0; k < h.prf_line.size(); ++k) {
    const char residue = h.seq_line[k];
    if (h.prf_line[k] == '.') {
      a.inserted[std::min(done, a.at.size())] +=
          static_cast<char>(residue >= 'A' && residue <= 'Z' ? residue - 'A' + 'a' : residue);
      continue;
    }
    if (residue != '.' && done < a.at.size()) a.at[done] = residue;
    ++done;
  }
  return a;
}

void write_block(const Profile& profile, const std::vector<const Hit*>& hits, const TableWriter& write) {
  const auto positions = static_cast<std::size_t>(profile.length());
  std::vector<Aligned> rows;
  for (const Hit* h : hits) rows.push_back(aligned(*h, profile.length()));
  std::vector<std::size_t> widest(positions + 1, 0);
  std::size_t name_width = 7;  // "#=GC RF"
  for (const Aligned& a : rows) {
    name_width = std::max(name_width, a.name.size());
    for (std::size_t k = 0; k <= positions; ++k) widest[k] = std::max(widest[k], a.inserted[k].size());
  }
  std::string name = profile.name();
  for (char& c : name)
    if (c == ' ' || c == '\t') c = '_';
  write("# STOCKHOLM 1.0\n#=GF ID " + name + "\n\n");
  const auto line = [&](const std::string& label, const std::string& text) {
    write(label + std::string(name_width + 2 - label.size(), ' ') + text + "\n");
  };
  for (const Aligned& a : rows) {
    std::string text;
    for (std::size_t k = 0; k <= positions; ++k) {
      text += a.inserted[k];
      text.append(widest[k] - a.inserted[k].size(), '.');
      if (k < positions) text += a.at[k];
    }
    line(a.name, text);
  }
  std::string reference;
  for (std::size_t k = 0; k <= positions; ++k) {
    reference.append(widest[k], '.');
    if (k < positions) reference += 'x';
  }
  line("#=GC RF", reference);
  write("//\n");
}

}  // namespace

void write_stockholm(const ReportContext& context, const SearchResult& result, const TableWriter& write) {
  const std::vector<Profile>& profiles = context.profiles.profiles;
  std::vector<std::vector<const Hit*>> by_profile(profiles.size());
  for (const Hit& h : result.hits) by_profile[static_cast<std::size_t>(h.profile)].push_back(&h);
  for (std::size_t p = 0; p < profiles.size(); ++p)
    if (!by_profile[p].empty()) write_block(profiles[p], by_profile[p], write);
}

}  // namespace tormid::scan
