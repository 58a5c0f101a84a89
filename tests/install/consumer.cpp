// A program that links the installed libraries: one alignment with the
// engine, then a search of three records held in memory.
#include <cstdio>
#include <vector>
#include <tormid/engine.h>
#include <tormid/search.h>

namespace {

// A profile that scores 5 for each letter of word at its position, -1 for
// the others.
tormid::Profile word_profile(const char* word, int length) {
  std::vector<tormid::ProfileRow> rows(static_cast<std::size_t>(length));
  for (int k = 0; k < length; ++k) {
    rows[static_cast<std::size_t>(k)].fill(-1);
    rows[static_cast<std::size_t>(k)][static_cast<std::size_t>(tormid::getIndex(word[k]))] = 5;
  }
  return tormid::Profile(rows, "word");
}

}  // namespace

int main() {
  tormid::Settings settings;  // global, no penalties
  tormid::Workspace workspace;
  const tormid::Alignment a =
      tormid::align(word_profile("ACD", 3), settings, "ACD", workspace, tormid::Detail::display);
  std::printf("%.3f %s %s\n", a.score, a.prf_line.c_str(), a.seq_line.c_str());

  const char word[] = "WYVHKMFPCW";
  const std::vector<tormid::Profile> profiles = {word_profile(word, 10)};
  tormid::SearchConfig config;  // local, as tormid-scan searches
  config.max_evalue = 1e-3;
  const tormid::SearchResult result = tormid::search(
      profiles, config,
      tormid::SequenceSource::records({{"plain", "GASTGASTGASTGASTGAST", ""},
                                       {"planted", std::string("GASTGASTGA") + word + "GASTG", "with the word"},
                                       {"empty", "", ""}}));
  std::printf("search: %zu hit, %s %d-%d of %llu records\n", result.hits.size(), result.hits.at(0).name().c_str(),
              result.hits.at(0).seq_from, result.hits.at(0).seq_to,
              static_cast<unsigned long long>(result.stats.records + result.stats.empty_records));
}
