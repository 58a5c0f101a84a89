// A program that links the installed engine: one profile, one alignment.
#include <cstdio>
#include <vector>
#include <tormid/engine.h>

int main() {
  std::vector<tormid::ProfileRow> rows(3);
  for (int k = 0; k < 3; ++k) {
    rows[k].fill(-1);
    rows[k][tormid::getIndex("ACD"[k])] = 5;  // the profile of ACD
  }
  tormid::Settings settings;  // global, no penalties
  tormid::Workspace workspace;
  const tormid::Alignment a = tormid::align(tormid::Profile(rows), settings, "ACD", workspace, tormid::Detail::display);
  std::printf("%.3f %s %s\n", a.score, a.prf_line.c_str(), a.seq_line.c_str());
}
