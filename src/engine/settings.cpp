#include "engine/engine.h"

namespace tormid {

namespace {

template <class Mode>
Mode fold(bool prf_free, bool seq_free) {
  if (prf_free && seq_free) return Mode::local;
  if (prf_free) return Mode::prf_free;
  if (seq_free) return Mode::seq_free;
  return Mode::global;
}

}  // namespace

Settings set_parameters(const ParamValues& values) {
  Settings s;
  s.gap_open_penalty_prf = values.gap_open_penalty_prf;
  s.deletion_penalty_prf = values.deletion_penalty_prf;
  s.gap_open_penalty_seq = values.gap_open_penalty_seq;
  s.deletion_penalty_seq = values.deletion_penalty_seq;
  s.start = fold<StartMode>(values.prf_free_beg, values.seq_free_beg);
  s.end = fold<EndMode>(values.prf_free_end, values.seq_free_end);
  return s;
}

}  // namespace tormid
