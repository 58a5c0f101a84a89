#include "distributed/wire.h"

namespace tormid::distributed::wire {

namespace {

void put(Writer& w, const Domain& d) {
  w.put(d.score);
  for (int v : {d.seq_from, d.seq_to, d.prf_from, d.prf_to, d.stretch_from, d.stretch_to, d.parent}) w.put(v);
  w.put(d.prf_line);
  w.put(d.seq_line);
  w.put(d.composition_expected);
}

Domain get_domain(Reader& r) {
  Domain d{};
  d.score = r.get<double>();
  for (int* v : {&d.seq_from, &d.seq_to, &d.prf_from, &d.prf_to, &d.stretch_from, &d.stretch_to, &d.parent})
    *v = r.get<int>();
  d.prf_line = r.text();
  d.seq_line = r.text();
  d.composition_expected = r.get<double>();
  return d;
}

}  // namespace

void put(Writer& w, const UnitResult& result) {
  const SearchStats& s = result.stats;
  for (std::uint64_t v : {s.records, s.empty_records, s.residues, s.cells, s.aligned_cells, s.pairs, s.pairs_dismissed})
    w.put(v);
  w.put(static_cast<std::uint64_t>(result.candidates.size()));
  for (const Candidates& c : result.candidates) {
    w.put(c.profile);
    w.put(c.record);
    w.put(c.name);
    w.put(c.description);
    w.put(c.seq_len);
    w.put(static_cast<std::uint64_t>(c.found.size()));
    for (const Domain& d : c.found) put(w, d);
  }
}

UnitResult get_unit_result(Reader& r) {
  UnitResult result;
  SearchStats& s = result.stats;
  for (std::uint64_t* v :
       {&s.records, &s.empty_records, &s.residues, &s.cells, &s.aligned_cells, &s.pairs, &s.pairs_dismissed})
    *v = r.get<std::uint64_t>();
  const auto count = r.get<std::uint64_t>();
  for (std::uint64_t k = 0; k < count; ++k) {
    Candidates c;
    c.profile = r.get<int>();
    c.record = r.get<std::uint64_t>();
    c.name = r.text();
    c.description = r.text();
    c.seq_len = r.get<int>();
    const auto domains = r.get<std::uint64_t>();
    for (std::uint64_t d = 0; d < domains; ++d) c.found.push_back(get_domain(r));
    result.candidates.push_back(std::move(c));
  }
  return result;
}

}  // namespace tormid::distributed::wire
