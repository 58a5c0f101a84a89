#include "distributed/wire.h"

#include <map>
#include <memory>

namespace tormid::distributed::wire {

namespace {

void put(Writer& w, const Domain& d) {
  w.put(d.score);
  for (int v : {d.seq_from, d.seq_to, d.prf_from, d.prf_to, d.stretch_from, d.stretch_to, d.parent}) w.put(v);
  w.put(d.prf_line);
  w.put(d.seq_line);
  for (double v : {d.composition.bias, d.composition.shift, d.composition.excess, d.composition.unit}) w.put(v);
}

Domain get_domain(Reader& r) {
  Domain d{};
  d.score = r.get<double>();
  for (int* v : {&d.seq_from, &d.seq_to, &d.prf_from, &d.prf_to, &d.stretch_from, &d.stretch_to, &d.parent})
    *v = r.get<int>();
  d.prf_line = r.text();
  d.seq_line = r.text();
  for (double* v : {&d.composition.bias, &d.composition.shift, &d.composition.excess, &d.composition.unit})
    *v = r.get<double>();
  return d;
}

}  // namespace

void put(Writer& w, const UnitResult& result) {
  const SearchStats& s = result.stats;
  for (std::uint64_t v :
       {s.records, s.empty_records, s.residues, s.nucleotides, s.cells, s.aligned_cells, s.pairs, s.pairs_dismissed,
        s.pairs_scored_out})
    w.put(v);
  // Each sequence's label once, however many profiles it met.
  std::map<const SequenceLabel*, std::uint64_t> labels;
  for (const Candidates& c : result.candidates) labels.emplace(c.label.get(), labels.size());
  std::vector<const SequenceLabel*> in_order(labels.size());
  for (const auto& [label, index] : labels) in_order[index] = label;
  w.put(static_cast<std::uint64_t>(in_order.size()));
  for (const SequenceLabel* label : in_order) {
    w.put(label->name);
    w.put(label->description);
  }
  w.put(static_cast<std::uint64_t>(result.candidates.size()));
  for (const Candidates& c : result.candidates) {
    w.put(c.profile);
    w.put(c.record);
    w.put(labels.at(c.label.get()));
    w.put(c.seq_len);
    w.put(static_cast<std::uint64_t>(c.found.size()));
    for (const Domain& d : c.found) put(w, d);
  }
}

UnitResult get_unit_result(Reader& r) {
  UnitResult result;
  SearchStats& s = result.stats;
  for (std::uint64_t* v :
       {&s.records, &s.empty_records, &s.residues, &s.nucleotides, &s.cells, &s.aligned_cells, &s.pairs,
        &s.pairs_dismissed, &s.pairs_scored_out})
    *v = r.get<std::uint64_t>();
  std::vector<std::shared_ptr<const SequenceLabel>> labels(r.get<std::uint64_t>());
  for (auto& label : labels) {
    std::string name = r.text();
    label = std::make_shared<const SequenceLabel>(SequenceLabel{std::move(name), r.text()});
  }
  const auto count = r.get<std::uint64_t>();
  for (std::uint64_t k = 0; k < count; ++k) {
    Candidates c;
    c.profile = r.get<int>();
    c.record = r.get<std::uint64_t>();
    const auto label = r.get<std::uint64_t>();
    if (label >= labels.size()) throw std::runtime_error("a result message with a label out of range");
    c.label = labels[label];
    c.seq_len = r.get<int>();
    const auto domains = r.get<std::uint64_t>();
    for (std::uint64_t d = 0; d < domains; ++d) c.found.push_back(get_domain(r));
    result.candidates.push_back(std::move(c));
  }
  return result;
}

void put(Writer& w, const std::vector<Hit>& hits) {
  w.put(static_cast<std::uint64_t>(hits.size()));
  for (const Hit& h : hits) {
    for (int v : {h.profile, h.seq_len, h.domain, h.n_domains, h.seq_from, h.seq_to, h.prf_from, h.prf_to}) w.put(v);
    w.put(h.record);
    for (double v : {h.score, h.pvalue, h.evalue, h.bits, h.sequence_evalue, h.sequence_bits, h.bias, h.bias_bits})
      w.put(v);
    w.put(h.name());
    w.put(h.description());
    w.put(h.prf_line);
    w.put(h.seq_line);
  }
}

std::vector<Hit> get_hits(Reader& r) {
  std::vector<Hit> hits(r.get<std::uint64_t>());
  for (Hit& h : hits) {
    for (int* v : {&h.profile, &h.seq_len, &h.domain, &h.n_domains, &h.seq_from, &h.seq_to, &h.prf_from, &h.prf_to})
      *v = r.get<int>();
    h.record = r.get<std::uint64_t>();
    for (double* v : {&h.score, &h.pvalue, &h.evalue, &h.bits, &h.sequence_evalue, &h.sequence_bits, &h.bias,
                      &h.bias_bits})
      *v = r.get<double>();
    std::string name = r.text();
    h.sequence = std::make_shared<const SequenceLabel>(SequenceLabel{std::move(name), r.text()});
    h.prf_line = r.text();
    h.seq_line = r.text();
  }
  return hits;
}

}  // namespace tormid::distributed::wire
