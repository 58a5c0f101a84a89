// The search as a library: a list of records finds what the same records
// in a file find; the units of a distributed search, cut anywhere, find
// what one search of the whole file finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "distributed/layout.h"
#include "distributed/wire.h"
#include "search/best_ends.h"
#include "search/calibration.h"
#include "search/search.h"
#include "search/units.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;
using fixtures::numbered;

std::vector<synthetic::Family> families(synthetic::Random& rng, int count) {
  std::vector<synthetic::Family> list;
  for (int k = 0; k < count; ++k) list.push_back(synthetic::family(rng, numbered("fam", k), 40 + 30 * k));
  return list;
}

std::vector<Profile> profiles_of(const std::vector<synthetic::Family>& families) {
  std::vector<Profile> profiles;
  for (const synthetic::Family& f : families) profiles.push_back(f.profile);
  return profiles;
}

// Everything a hit says but where its record sits in the input.
std::string described(const Hit& h) {
  char numbers[200];
  std::snprintf(numbers, sizeof numbers, "%d %d %d/%d %a %a %a %a %a %d-%d %d-%d", h.profile, h.seq_len, h.domain,
                h.n_domains, h.score, h.pvalue, h.evalue, h.bits, h.bias, h.seq_from, h.seq_to, h.prf_from, h.prf_to);
  return h.name() + " " + h.description() + " " + numbers + " " + h.prf_line + " " + h.seq_line;
}

TEST(SearchLibrary, AListOfRecordsFindsWhatTheFileFinds) {
  synthetic::Random rng(99);
  const std::vector<synthetic::Family> fams = families(rng, 3);
  std::vector<synthetic::Record> records = synthetic::planted_records(rng, fams, 600);
  // Letters as users write them: lower case, digits and blanks between.
  for (std::size_t k = 0; k < records.size(); k += 3) {
    std::string& s = records[k].sequence;
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (s.size() > 20) s.insert(10, " 12 ");
  }
  fixtures::TempDir dir;
  const std::string path = dir.write("db.fa", synthetic::fasta(records));
  std::vector<SequenceRecord> list;
  for (const synthetic::Record& r : records) list.push_back({r.name, r.sequence, r.description});
  const std::vector<Profile> profiles = profiles_of(fams);

  for (const SearchMode mode : {SearchMode::glocal, SearchMode::local, SearchMode::global}) {
    SearchConfig config;
    config.alignment = mode_settings(mode);
    config.alignments = true;
    config.threads = 2;
    const SearchResult from_file = search(profiles, config, SequenceSource::file(path));
    const SearchResult from_list = search(profiles, config, SequenceSource::records(list));
    ASSERT_GT(from_file.hits.size(), 20u);
    ASSERT_EQ(from_list.hits.size(), from_file.hits.size());
    for (std::size_t k = 0; k < from_file.hits.size(); ++k)
      ASSERT_EQ(described(from_list.hits[k]), described(from_file.hits[k])) << "hit " << k;
    const SearchStats &a = from_file.stats, &b = from_list.stats;
    EXPECT_EQ(std::tie(a.records, a.empty_records, a.residues, a.cells, a.aligned_cells, a.pairs, a.pairs_dismissed,
                       a.pairs_scored_out),
              std::tie(b.records, b.empty_records, b.residues, b.cells, b.aligned_cells, b.pairs, b.pairs_dismissed,
                       b.pairs_scored_out));
    EXPECT_EQ(a.database_size, b.database_size);
  }
}

// Hits per profile in order of significance (by score where there are no
// E-values); bits read as E = Z * L * 2^-bits in every mode with E-values;
// a sequence is at least as significant as its best domain; the residues
// that look like nucleotides are counted.
TEST(SearchLibrary, HitsComeInOrderOfSignificanceWithBitsThatReadAsTheirEValues) {
  synthetic::Random rng(7);
  const std::vector<synthetic::Family> fams = families(rng, 2);
  std::vector<SequenceRecord> list;
  std::uint64_t nucleotides = 0;
  for (const synthetic::Record& r : synthetic::planted_records(rng, fams, 300)) {
    list.push_back({r.name, r.sequence, r.description});
    nucleotides += static_cast<std::uint64_t>(std::count_if(r.sequence.begin(), r.sequence.end(), [](char c) {
      return std::string_view("ACGTUNacgtun").find(c) != std::string_view::npos;
    }));
  }
  for (const SearchMode mode : {SearchMode::glocal, SearchMode::local, SearchMode::global}) {
    SCOPED_TRACE(static_cast<int>(mode));
    SearchConfig config;
    config.alignment = mode_settings(mode);
    config.threads = 2;
    const SearchResult result = search(profiles_of(fams), config, SequenceSource::records(list));
    ASSERT_GT(result.hits.size(), 10u);
    EXPECT_EQ(result.stats.nucleotides, nucleotides);
    const double z = result.stats.database_size;
    for (std::size_t k = 0; k < result.hits.size(); ++k) {
      const Hit& h = result.hits[k];
      if (mode == SearchMode::global) {
        EXPECT_TRUE(std::isnan(h.bits) && std::isnan(h.sequence_bits));
      } else {
        EXPECT_NEAR(std::log2(z * h.seq_len / h.evalue), h.bits, 1e-9 * std::abs(h.bits) + 1e-9) << k;
        EXPECT_GE(h.bias_bits, 0);
        EXPECT_GE(h.sequence_bits, h.bits);
        EXPECT_LE(h.sequence_evalue, h.evalue * (1 + 1e-12) + 1e-300);
      }
      if (k == 0 || result.hits[k - 1].profile != h.profile) continue;
      const Hit& before = result.hits[k - 1];
      if (mode == SearchMode::global) EXPECT_GE(before.score, h.score) << k;
      else EXPECT_TRUE(before.evalue < h.evalue || (before.evalue == h.evalue && before.score >= h.score)) << k;
    }
  }
}

// A stop asked for ends the search with SearchStopped wherever it is: while
// the file is counted, while the profiles are calibrated (before any record
// is searched), or in the search itself (asked when the first batch is read).
TEST(SearchLibrary, AStopEndsTheSearchWhereverItIs) {
  synthetic::Random rng(3);
  const std::vector<synthetic::Family> fams = families(rng, 2);
  const std::vector<synthetic::Record> records = synthetic::planted_records(rng, fams, 500);
  std::vector<SequenceRecord> list;
  for (const synthetic::Record& r : records) list.push_back({r.name, r.sequence, r.description});
  fixtures::TempDir dir;
  const std::string path = dir.write("db.fa", synthetic::fasta(records));
  const std::vector<Profile> profiles = profiles_of(fams);
  SearchConfig config;
  config.threads = 2;
  std::vector<StoredLaw> laws;
  for (const StoredLaw& law : calibrate_laws(profiles, config)) laws.push_back(law);
  struct Case {
    const char* what;
    bool file, with_laws, at_first_batch;
  };
  for (const Case c : {Case{"counting the file", true, true, false}, Case{"calibrating", false, false, false},
                       Case{"searching a file", true, true, true}, Case{"searching records", false, true, true}}) {
    SCOPED_TRACE(c.what);
    std::stop_source stop;
    if (!c.at_first_batch) stop.request_stop();
    std::uint64_t read = 0;
    const auto progress = [&](const Progress& p) {
      read = p.records;
      stop.request_stop();
    };
    const SequenceSource source = c.file ? SequenceSource::file(path) : SequenceSource::records(list);
    EXPECT_THROW(search(profiles, config, source, progress, c.with_laws ? std::span<const StoredLaw>(laws)
                                                                        : std::span<const StoredLaw>(),
                        stop.get_token()),
                 SearchStopped);
    EXPECT_EQ(read, c.at_first_batch ? records.size() : 0u);
  }
}

// The first row of the best end over any range, as rows change, is what a
// scan from the range's first row keeps (strictly better wins): against
// that plain scan, on scores drawn from a few values so that ties abound.
TEST(BestEnds, FirstOfTheBestRowsAsAScanKeepsIt) {
  std::mt19937 rng(17);
  for (const std::size_t rows : {1u, 2u, 7u, 64u, 100u}) {
    std::vector<RowEnd> ends(rows);
    const auto draw = [&] {
      const int v = static_cast<int>(rng() % 5);
      return v == 0 ? kNoRowEnd : static_cast<double>(v);
    };
    for (RowEnd& e : ends) e.score = draw();
    BestEnds best(ends);
    for (int step = 0; step < 400; ++step) {
      const std::size_t row = rng() % rows;
      ends[row].score = draw();
      best.changed(row);
      const std::size_t lo = rng() % rows, hi = lo + rng() % (rows - lo);
      std::size_t scan = lo;
      for (std::size_t k = lo + 1; k <= hi; ++k)
        if (ends[k].score > ends[scan].score) scan = k;
      ASSERT_EQ(best.first_best(lo, hi), static_cast<int>(scan)) << rows << " rows, " << lo << "-" << hi;
    }
  }
}

// Cut anywhere, the byte ranges of a file hold each record exactly once:
// the units of an MPI search together find what one search of the whole
// file finds. And their results survive the trip through bytes.
TEST(SearchUnits, ByteRangesTogetherAreTheWholeFile) {
  synthetic::Random rng(12);
  const std::vector<synthetic::Family> fams = families(rng, 2);
  std::string text = "\n  \n";  // blank lines before the first header
  text += synthetic::fasta(synthetic::planted_records(rng, fams, 300));
  fixtures::TempDir dir;
  const std::string path = dir.write("db.fa", text);
  const std::vector<Profile> profiles = profiles_of(fams);
  SearchConfig config;
  config.database_size = 1000;  // thresholds that do not depend on the unit
  config.alignments = true;
  double seconds = 0;
  const std::vector<ScoreLaw> laws = calibrate_timed({&profiles[0], &profiles[1]}, config, seconds);
  auto unit = [&](RecordRange range, int first, int last) {
    const std::unique_ptr<RecordStream> records = open_range(path, range, kDefaultMaxRecordLength);
    return search_unit({profiles, laws, first, last}, config, *records, RecordsKnown{});
  };
  // Every value of every candidate domain, in one order.
  auto key = [](const UnitResult& r) {
    std::vector<std::string> keys;
    for (const Candidates& c : r.candidates)
      for (const Domain& d : c.found) {
        char numbers[400];
        std::snprintf(numbers, sizeof numbers, "%d %llu %d %a %a %a %a %a %d-%d %d-%d %d-%d %d", c.profile,
                      static_cast<unsigned long long>(c.record), c.seq_len, d.score, d.composition.bias,
                      d.composition.shift, d.composition.excess, d.composition.unit, d.seq_from, d.seq_to, d.prf_from, d.prf_to, d.stretch_from, d.stretch_to, d.parent);
        keys.push_back(c.label->name + " " + c.label->description + " " + numbers + " " + d.prf_line + " " +
                       d.seq_line);
      }
    std::sort(keys.begin(), keys.end());
    return keys;
  };
  const UnitResult whole = unit({}, 0, 2);
  ASSERT_GT(whole.candidates.size(), 30u);
  std::mt19937 cuts(3);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<std::uint64_t> bounds = {0, text.size()};
    for (int k = 0; k < 1 + trial % 7; ++k)
      bounds.push_back(std::uniform_int_distribution<std::uint64_t>(1, text.size() - 1)(cuts));
    std::sort(bounds.begin(), bounds.end());
    UnitResult parts;
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
      const RecordRange range{bounds[k], k + 2 == bounds.size() ? UINT64_MAX : bounds[k + 1]};
      for (const int profile : {0, 1}) {  // and by profile
        UnitResult part = unit(range, profile, profile + 1);
        // Through bytes and back, every value kept.
        distributed::wire::Writer writer;
        distributed::wire::put(writer, part);
        distributed::wire::Reader reader(writer.bytes());
        UnitResult received = distributed::wire::get_unit_result(reader);
        EXPECT_TRUE(reader.done());
        EXPECT_EQ(key(received), key(part));
        const SearchStats &a = part.stats, &b = received.stats;
        EXPECT_EQ(std::tie(a.records, a.empty_records, a.residues, a.cells, a.aligned_cells, a.pairs, a.pairs_dismissed,
                           a.pairs_scored_out),
                  std::tie(b.records, b.empty_records, b.residues, b.cells, b.aligned_cells, b.pairs, b.pairs_dismissed,
                           b.pairs_scored_out));
        part = std::move(received);
        if (profile == 0) parts.stats.records += part.stats.records;
        for (auto& c : part.candidates) parts.candidates.push_back(std::move(c));
      }
    }
    EXPECT_EQ(parts.stats.records, whole.stats.records) << "trial " << trial;
    EXPECT_EQ(key(parts), key(whole)) << "trial " << trial;
  }
}

// However the sizes fall, the units of a layout cover the file once and
// every profile once, each profile range holding at least one profile.
TEST(SearchUnits, LayoutCoversTheFileAndTheProfilesOnce) {
  std::mt19937 rng(8);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<Profile> profiles;
    const int count = std::uniform_int_distribution<int>(1, 40)(rng);
    for (int k = 0; k < count; ++k)
      profiles.emplace_back(std::vector<ProfileRow>(std::uniform_int_distribution<std::size_t>(1, 500)(rng)));
    const std::uint64_t size = std::uniform_int_distribution<std::uint64_t>(0, 1ull << 26)(rng);
    const int processes = std::uniform_int_distribution<int>(1, 64)(rng);
    const distributed::Layout l = distributed::layout(size, profiles, processes);
    SCOPED_TRACE("trial " + std::to_string(trial));
    ASSERT_EQ(l.chunk_starts.size(), static_cast<std::size_t>(l.chunks) + 1);
    EXPECT_EQ(l.chunk_starts.front(), 0);
    EXPECT_EQ(l.chunk_starts.back(), count);
    for (long long c = 0; c < l.chunks; ++c) EXPECT_LT(l.chunk_starts[c], l.chunk_starts[c + 1]);
    std::uint64_t covered = 0;
    for (long long u = 0; u < l.units(); u += l.chunks) {
      EXPECT_EQ(l.range(u).begin, covered);
      covered = l.range(u).end;
    }
    EXPECT_EQ(covered, UINT64_MAX);
  }
}

}  // namespace
