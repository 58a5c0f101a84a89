// Profile libraries: the prepared-library format (round trip, and every
// kind of damage refused), tormid-prf press and tormid-scan on what it
// writes (the same results as the source files), per-sequence reports, and
// the statistics they add.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "search/calibration.h"
#include "search/score_law.h"
#include "search/search.h"
#include "support/fixtures.h"
#include "support/synthetic.h"

namespace {

using namespace tormid;
using fixtures::run_scan;
using fixtures::split;
using fixtures::run_prf;

constexpr std::size_t kHeader = 40;

// Why reading a library fails, or "accepted".
std::string refusal_of(const std::string& path) {
  try {
    read_library(path);
  } catch (const InputError& e) {
    return e.reason();
  }
  return "accepted";
}

// Rewrites the header's size and checksum after the payload was changed:
// what a file written to mislead would do.
void reseal(std::string& bytes) {
  const std::uint64_t size = bytes.size() - kHeader;
  const auto crc = static_cast<std::uint32_t>(
      ::crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + kHeader), static_cast<uInt>(size)));
  for (int k = 0; k < 8; ++k) bytes[24 + static_cast<std::size_t>(k)] = static_cast<char>(size >> (8 * k));
  for (int k = 0; k < 4; ++k) bytes[32 + static_cast<std::size_t>(k)] = static_cast<char>(crc >> (8 * k));
}

// A few generated profiles of different lengths and their laws.
struct Pressed {
  std::vector<Profile> profiles;
  std::vector<StoredLaw> laws;
};

Pressed small_library(SearchMode mode = SearchMode::local) {
  synthetic::Random rng(24);
  Pressed p;
  for (const int length : {12, 40, 75}) p.profiles.push_back(synthetic::family(rng, fixtures::numbered("f", length), length).profile);
  SearchConfig config;
  config.threads = 2;
  config.alignment = mode_settings(mode, kDefaultGapOpen, kDefaultGapExtend);
  p.laws = calibrate_laws(p.profiles, config);
  return p;
}

TEST(PreparedLibrary, ReadsBackEveryBitOfProfilesAndLaws) {
  const Pressed p = small_library();
  fixtures::TempDir dir;
  const std::string path = dir.write("lib.tlib", prepared_library(p.profiles, p.laws));
  EXPECT_EQ(profile_format(path), ProfileFormat::prepared);
  for (const int threads : {1, 3}) {
    const ProfileLibrary back = read_library(path, threads);
    ASSERT_EQ(back.profiles.size(), p.profiles.size());
    for (std::size_t k = 0; k < p.profiles.size(); ++k) {
      EXPECT_EQ(back.profiles[k].name(), p.profiles[k].name());
      ASSERT_EQ(back.profiles[k].length(), p.profiles[k].length());
      for (int r = 0; r < p.profiles[k].length(); ++r)
        for (int a = 0; a < kAlphabetSize; ++a)
          ASSERT_EQ(std::bit_cast<std::uint64_t>(back.profiles[k].row(r)[static_cast<std::size_t>(a)]),
                    std::bit_cast<std::uint64_t>(p.profiles[k].row(r)[static_cast<std::size_t>(a)]));
      EXPECT_EQ(back.laws[k].numbers, p.laws[k].numbers);
      EXPECT_EQ(back.laws[k].seed, p.laws[k].seed);
      EXPECT_EQ(back.laws[k].model, kLawModel);
      EXPECT_TRUE(law_readable(back.laws[k]));
    }
  }
  // Read from a pipe (no mapping) and from gzip, the same.
  ASSERT_EQ(std::system(("gzip -c " + fixtures::shell_quote(path) + " > " +
                         fixtures::shell_quote((dir.path() / "lib.tlib.gz").string()))
                            .c_str()),
            0);
  EXPECT_EQ(read_library((dir.path() / "lib.tlib.gz").string()).laws[2].numbers, p.laws[2].numbers);
  // A named pipe whose writer is gone by the time the library is read: read
  // as a stream, never opened a second time (which would wait for a writer
  // that never comes).
  const std::string fifo = (dir.path() / "lib.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string bytes = fixtures::read_file(path);
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
  const ProfileLibrary piped = read_library(fifo);
  writer.join();
  EXPECT_EQ(piped.laws[2].numbers, p.laws[2].numbers);
}

// Every cut and every changed byte of a library is refused with a message
// that names the file, never read as something else.
TEST(PreparedLibrary, RefusesEveryTruncationAndEveryChangedByte) {
  const Pressed p = small_library();
  const std::string bytes = prepared_library({p.profiles[0]}, {p.laws[0]});
  fixtures::TempDir dir;
  auto refusal = [&](const std::string& content) {
    const std::string path = dir.write("bad.tlib", content);
    try {
      read_library(path);
    } catch (const InputError& e) {
      EXPECT_EQ(e.file(), path);
      return e.reason();
    }
    return std::string("accepted");
  };
  for (std::size_t cut = 16; cut < bytes.size(); cut += 7) {
    const std::string reason = refusal(bytes.substr(0, cut));
    EXPECT_EQ(reason.rfind("a damaged prepared library", 0), 0u) << "cut at " << cut << ": " << reason;
  }
  for (std::size_t at = 16; at < bytes.size(); ++at) {
    std::string changed = bytes;
    changed[at] = static_cast<char>(changed[at] ^ 0x20);
    const std::string reason = refusal(changed);
    if (at >= 16 && at < 20) {
      EXPECT_NE(reason.find("prepare it again with tormid-prf press"), std::string::npos) << reason;
    } else {
      EXPECT_EQ(reason.rfind("a damaged prepared library", 0), 0u) << "byte " << at << ": " << reason;
    }
  }
  EXPECT_EQ(refusal(bytes + "x"),
            "a damaged prepared library (its size is not what its header says: cut short, or added to)");
  std::string version = bytes;
  version[16] = 3;
  EXPECT_EQ(refusal(version), "a prepared library of format 3, where this tormid reads formats 1 to 2; prepare it "
                              "again with tormid-prf press");
}

// Past the checksum (a file written to mislead): an index or a record
// that does not hold together is refused, not followed.
TEST(PreparedLibrary, RefusesInconsistentContentsBehindAValidChecksum) {
  const Pressed p = small_library();
  const std::string bytes = prepared_library(p.profiles, p.laws);
  fixtures::TempDir dir;
  struct Case {
    const char* what;
    std::size_t at;  // payload offset of a u64 or u32 to overwrite
    std::uint64_t value;
    int width;
    const char* reason;
  };
  const std::size_t first_record = 8 * (p.profiles.size() + 2);
  const Case cases[] = {
      {"count", 0, 1'000'000'000'000ull, 8, "an impossible number of profiles"},
      {"first index entry", 8, 9, 8, "its index does not match its profiles"},
      {"last index entry", 8 * (p.profiles.size() + 1), 5, 8, "its index does not match its profiles"},
      {"name length", first_record, 1'000'000, 4, "it ends too early"},
      // The first profile has no notes: two empty texts and no flags.
      {"note flags", first_record + 4 + p.profiles[0].name().size() + 8, 16, 4, "unknown notes of a profile"},
      {"accession length", first_record + 4 + p.profiles[0].name().size(), 1'000'000, 4, "it ends too early"},
      {"length 0", first_record + 4 + p.profiles[0].name().size() + 12, 0, 4, "an impossible profile length"},
  };
  for (const Case& c : cases) {
    std::string changed = bytes;
    for (int k = 0; k < c.width; ++k)
      changed[kHeader + c.at + static_cast<std::size_t>(k)] = static_cast<char>(c.value >> (8 * k));
    reseal(changed);
    const std::string path = dir.write("bad.tlib", changed);
    try {
      read_library(path);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const InputError& e) {
      EXPECT_EQ(e.reason(), std::string("a damaged prepared library (") + c.reason + ")") << c.what;
    }
  }
  // A name of no letters, and a library of no profiles (a payload of just
  // its count and the index's one offset).
  {
    Pressed unnamed = p;
    unnamed.profiles[1] = Profile(p.profiles[1].rows(), "");
    const std::string path = dir.write("unnamed.tlib", prepared_library(unnamed.profiles, unnamed.laws));
    EXPECT_EQ(refusal_of(path), "a damaged prepared library (a profile without a name)");
    EXPECT_EQ(refusal_of(dir.write("empty.tlib", prepared_library({}, {}))), "a prepared library without profiles");
  }
  // A law that is not one passes the reader (it does not know laws) and
  // is refused by tormid-scan: numbers that are no law, a slope no fit
  // gives (every E-value would be 0), a local law under glocal settings.
  dir.write("q.fa", ">q\nMKV\n");
  const std::vector<double> not_laws[] = {{7, 1, 2}, {1, 1e300, 0, 0, 0, 0}};
  for (const std::vector<double>& numbers : not_laws) {
    Pressed odd = p;
    odd.laws[1].numbers = numbers;
    dir.write("odd.tlib", prepared_library(odd.profiles, odd.laws));
    const fixtures::RunResult r = run_scan({"--quiet", "--mode", "local", "odd.tlib", "q.fa"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tormid-scan: odd.tlib: a damaged prepared library (the score law of profile f40 is not one)\n");
  }
  Pressed glocal = p;
  glocal.laws[1].settings = mode_settings(SearchMode::glocal);
  dir.write("odd.tlib", prepared_library(glocal.profiles, glocal.laws));
  EXPECT_EQ(run_scan({"--quiet", "--mode", "glocal", "odd.tlib", "q.fa"}, dir.path()).err,
            "tormid-scan: odd.tlib: a damaged prepared library (the score law of profile f40 is not one)\n");
  // No law (kind 0) where the settings call for one: calibrated at
  // start-up, not searched without E-values; the table is the intact
  // library's.
  Pressed none = p;
  none.laws[1].numbers = {0, 0, 0, 0, 0, 0};
  dir.write("none.tlib", prepared_library(none.profiles, none.laws));
  dir.write("intact.tlib", prepared_library(p.profiles, p.laws));
  for (const char* library : {"none.tlib", "intact.tlib"}) {
    const fixtures::RunResult r =
        run_scan({"--quiet", "--mode", "local", "-E", "1e9", "--tsv", std::string(library) + ".tsv", library, "q.fa"},
                 dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  const std::string table = fixtures::read_file(dir.path() / "intact.tlib.tsv");
  EXPECT_NE(table.find("\nf40\t"), std::string::npos) << table;
  EXPECT_EQ(fixtures::read_file(dir.path() / "none.tlib.tsv"), table);
}

// A library cut short while it is read (another program truncating it) is
// a damaged file or, read whole before the cut, a library: never the end
// of the process (a memory-mapped page that is gone raises SIGBUS).
TEST(PreparedLibrary, ACutWhileItIsReadIsADamagedFile) {
  synthetic::Random rng(3);
  std::vector<Profile> profiles;
  std::vector<StoredLaw> laws;
  for (int k = 0; k < 40; ++k) {
    profiles.push_back(synthetic::family(rng, fixtures::numbered("p", k), 6000).profile);
    laws.push_back({mode_settings(SearchMode::local), 42, kLawModel, {0, 0, 0, 0, 0, 0}});
  }
  const std::string bytes = prepared_library(profiles, laws);  // 38 MB
  fixtures::TempDir dir;
  int damaged = 0;
  for (const int micros : {0, 200, 1000, 3000, 10000, 30000}) {
    const std::string path = dir.write("cut.tlib", bytes);
    std::thread cut([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(micros));
      std::filesystem::resize_file(path, 100000);
    });
    try {
      const ProfileLibrary read = read_library(path, 2);
      EXPECT_EQ(read.profiles.size(), profiles.size());
    } catch (const InputError& e) {
      EXPECT_EQ(e.file(), path);
      EXPECT_EQ(e.reason().rfind("a damaged prepared library", 0), 0u) << e.reason();
      ++damaged;
    }
    cut.join();
  }
  EXPECT_GT(damaged, 0);
}

// A count of a hundred million profiles in a payload of 8 to 15 bytes
// (resealed) is refused before anything is allocated for it: under an
// address-space limit far below what the index would take, the message
// names the file and the damage.
TEST(PreparedLibrary, RefusesAnImpossibleCountBeforeAllocating) {
  if (fixtures::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's shadow memory needs more than the limit";
  fixtures::TempDir dir;
  for (const std::size_t payload : {8u, 12u, 15u}) {
    std::string bytes = prepared_library({}, {}).substr(0, kHeader);
    std::string rest(payload, '\0');
    for (int k = 0; k < 8; ++k) rest[static_cast<std::size_t>(k)] = static_cast<char>(99'999'999ull >> (8 * k));
    bytes += rest;
    reseal(bytes);
    dir.write("big.tlib", bytes);
    dir.write("q.fa", ">q\nMKV\n");
    const fixtures::RunResult r = fixtures::run_shell(
        "ulimit -v 300000; exec " + fixtures::shell_quote(TORMID_SCAN_BINARY) + " big.tlib q.fa", dir.path());
    EXPECT_EQ(r.status, 1) << payload;
    EXPECT_EQ(r.err, "tormid-scan: big.tlib: a damaged prepared library (an impossible number of profiles)\n")
        << payload;
  }
}

// A library over several of the reader's 4 MiB pieces carries zlib's
// CRC-32 of its whole payload, and reads back.
TEST(PreparedLibrary, ALargeLibrarysChecksumIsZlibsCrc32) {
  const Pressed small = small_library();
  synthetic::Random rng(5);
  std::vector<Profile> profiles;
  std::vector<StoredLaw> laws;
  for (int k = 0; k < 7; ++k) {
    profiles.push_back(synthetic::family(rng, fixtures::numbered("big", k), 9000).profile);
    laws.push_back(small.laws[0]);
  }
  const std::string bytes = prepared_library(profiles, laws);
  const std::size_t payload = bytes.size() - kHeader;
  ASSERT_GT(payload, std::size_t{2} << 22);
  std::uint32_t stored = 0;
  for (int k = 0; k < 4; ++k)
    stored |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[32 + static_cast<std::size_t>(k)])) << (8 * k);
  EXPECT_EQ(stored, ::crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + kHeader), static_cast<uInt>(payload)));
  fixtures::TempDir dir;
  EXPECT_EQ(read_library(dir.write("big.tlib", bytes), 3).profiles.size(), profiles.size());
}

// Resident memory in bytes, from /proc.
double resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  double pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// A program that reads a library and searches thousands of times on
// several threads (a Python loop) keeps its memory: the threads' arenas
// are reused, not made anew and left behind by each call.
TEST(PreparedLibrary, ManyCallsOnThreadsKeepTheirMemory) {
  if (fixtures::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer keeps freed memory aside";
  const Pressed p = small_library();
  fixtures::TempDir dir;
  const std::string path = dir.write("lib.tlib", prepared_library(p.profiles, p.laws));
  const std::vector<SequenceRecord> records = {{"a", std::string(60, 'W'), ""}, {"b", std::string(90, 'K'), ""}};
  SearchConfig config;
  config.threads = 2;
  const auto calls = [&](int n) {
    for (int k = 0; k < n; ++k) {
      const ProfileLibrary library = read_library(path, 2);
      search(library.profiles, config, SequenceSource::records(records), {}, library.laws);
    }
  };
  calls(200);
  const double before = resident_bytes();
  calls(3000);
  EXPECT_LT(resident_bytes() - before, 4e6);
}

// Pressed and searched with the settings it was pressed for, a library
// gives what its source file gives, without calibrating; with other
// settings, it calibrates and says so, and still gives the same results.
TEST(PressedLibrary, SearchesAsItsSourceWithOrWithoutItsLaws) {
  fixtures::TempDir dir;
  const std::string examples = std::string(TORMID_TEST_DATA) + "/../../examples/";
  for (const char* mode : {"local", "glocal"}) {
    SCOPED_TRACE(mode);
    const fixtures::RunResult press =
        run_prf({"press", "--mode", mode, "--threads", "2", "lib.tlib", examples + "zinc_finger.hmm",
                 examples + "zinc_finger.prf"},
                dir.path());
    ASSERT_EQ(press.status, 0) << press.err;
    EXPECT_EQ(press.out, "");
    EXPECT_NE(press.err.find("tormid-prf: 2 profiles calibrated on 2 threads in "), std::string::npos) << press.err;
    EXPECT_NE(press.err.find(" s, lib.tlib written ("), std::string::npos) << press.err;
    const auto scan = [&](const std::vector<std::string>& files, const std::string& search_mode) {
      std::vector<std::string> args = {"--mode", search_mode, "--threads", "2", "--tsv", "t.tsv"};
      args.insert(args.end(), files.begin(), files.end());
      args.push_back(examples + "proteome.fasta");
      fixtures::RunResult r = run_scan(args, dir.path());
      EXPECT_EQ(r.status, 0) << r.err;
      // The file names in the report are the only difference.
      static const std::regex file_name(R"(positions, [^)]*\))");
      r.out = std::regex_replace(r.out, file_name, "positions, FILE)");
      r.out += fixtures::read_file(dir.path() / "t.tsv");
      return r;
    };
    const fixtures::RunResult source = scan({examples + "zinc_finger.hmm", examples + "zinc_finger.prf"}, mode);
    const fixtures::RunResult pressed = scan({"lib.tlib"}, mode);
    EXPECT_EQ(pressed.out.substr(pressed.out.find("# sequences")), source.out.substr(source.out.find("# sequences")));
    EXPECT_NE(pressed.err.find("(calibration 0.00 s)"), std::string::npos) << pressed.err;
    const std::string other = std::string(mode) == "local" ? "glocal" : "local";
    const fixtures::RunResult recalibrated = scan({"lib.tlib"}, other);
    EXPECT_EQ(recalibrated.err.rfind("tormid-scan: lib.tlib was prepared for other alignment settings or another "
                                     "seed; calibrating its profiles at start-up\n",
                                     0),
              0u)
        << recalibrated.err;
    const fixtures::RunResult other_source = scan({examples + "zinc_finger.hmm", examples + "zinc_finger.prf"}, other);
    EXPECT_EQ(recalibrated.out.substr(recalibrated.out.find("# sequences")),
              other_source.out.substr(other_source.out.find("# sequences")));
  }
}

// Each hit as a line: where it is and its numbers to the bit.
std::vector<std::string> described(const SearchResult& result) {
  std::vector<std::string> lines;
  for (const Hit& h : result.hits) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, " %d %d-%d %a %a %a %a", h.profile, h.seq_from, h.seq_to, h.score, h.evalue,
                  h.sequence_evalue, h.bias);
    lines.push_back(h.name() + numbers);
  }
  return lines;
}

// A stored law serves only the settings and seed it was calibrated for:
// with any one of them changed, the search calibrates again and reports
// what it does without stored laws.
TEST(PressedLibrary, ALawServesOnlyItsOwnSettingsAndSeed) {
  const Pressed p = small_library(SearchMode::glocal);
  synthetic::Random rng(77);
  std::vector<SequenceRecord> records;
  for (int k = 0; k < 200; ++k) records.push_back({fixtures::numbered("r", k), synthetic::protein(rng, 40 + rng.below(300)), ""});
  const SequenceSource source = SequenceSource::records(records);
  using Change = std::function<void(SearchConfig&)>;
  const std::vector<std::pair<const char*, Change>> changes = {
      {"none", [](SearchConfig&) {}},
      {"profile gap opening", [](SearchConfig& c) { c.alignment.gap_open_penalty_prf += 1; }},
      {"profile gap extension", [](SearchConfig& c) { c.alignment.deletion_penalty_prf += 0.5; }},
      {"sequence gap opening", [](SearchConfig& c) { c.alignment.gap_open_penalty_seq += 1; }},
      {"sequence gap extension", [](SearchConfig& c) { c.alignment.deletion_penalty_seq += 0.5; }},
      {"start", [](SearchConfig& c) { c.alignment.start = StartMode::seq_free; }},
      {"end", [](SearchConfig& c) { c.alignment.end = EndMode::seq_free; }},
      {"seed", [](SearchConfig& c) { c.seed += 1; }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    SearchConfig config;
    config.threads = 2;
    config.max_evalue = 1000;
    config.alignment = mode_settings(SearchMode::glocal);
    change(config);
    const SearchResult stored = search(p.profiles, config, source, {}, p.laws);
    const SearchResult fresh = search(p.profiles, config, source);
    EXPECT_EQ(stored.calibration_seconds > 0, std::string(what) != "none");
    EXPECT_EQ(described(stored), described(fresh));
    EXPECT_GT(fresh.hits.size(), 10u);
  }
}

// Short glocal profiles, down to one position, are pressed, read back and
// searched with their own laws (their length classes all differ), as their
// source is; those of one to three positions, which no law fits, are
// calibrated again without a note.
TEST(PressedLibrary, ShortGlocalProfilesPressAndSearch) {
  synthetic::Random rng(40);
  std::vector<Profile> profiles;
  for (int length = 1; length <= 40; length += length < 10 ? 1 : 5)
    profiles.push_back(synthetic::family(rng, fixtures::numbered("short", length), length).profile);
  SearchConfig config;
  config.threads = 2;
  config.alignment = mode_settings(SearchMode::glocal);
  fixtures::TempDir dir;
  const std::string path = dir.write("short.tlib", prepared_library(profiles, calibrate_laws(profiles, config)));
  const ProfileLibrary library = read_library(path, 2);
  std::vector<SequenceRecord> records;
  for (int k = 0; k < 50; ++k) records.push_back({fixtures::numbered("r", k), synthetic::protein(rng, 30 + rng.below(200)), ""});
  std::size_t lawless = 0;
  for (const StoredLaw& law : library.laws) {
    EXPECT_TRUE(law_made_for(law, config));
    lawless += !law_holds(law, config);
  }
  EXPECT_EQ(lawless, 3u);
  const SearchResult result = search(library.profiles, config, SequenceSource::records(records), {}, library.laws);
  EXPECT_EQ(described(result), described(search(profiles, config, SequenceSource::records(records))));
}

// A library pressed by a tormid of the previous score laws (version 1,
// whose numbers carried three lists more) is read, its laws are not used:
// the profiles are calibrated at start-up, with one line that says so,
// and the search reports what the source profiles do.
TEST(PressedLibrary, LawsOfAnEarlierVersionAreCalibratedAgain) {
  fixtures::TempDir dir;
  const Pressed p = small_library();
  std::vector<StoredLaw> old = p.laws;
  for (StoredLaw& law : old) {
    law.model = 1;
    law.numbers = {1, 0.33, -2.5, 0, 0, 0, 2, 4.1, 6.2, 2, 10.0, 12.0, 2, 1.5, 1.6};
  }
  dir.write("old.tlib", prepared_library(p.profiles, old));
  std::vector<synthetic::Record> db;
  synthetic::Random rng(5);
  for (int k = 0; k < 50; ++k) db.push_back({fixtures::numbered("r", k), "", synthetic::protein(rng, 200)});
  dir.write("db.fa", synthetic::fasta(db));
  for (const Profile& profile : p.profiles) dir.write(profile.name() + ".prf", synthetic::profile_text(profile));
  const fixtures::RunResult from_old = run_scan({"--threads", "2", "-E", "100", "old.tlib", "db.fa"}, dir.path());
  ASSERT_EQ(from_old.status, 0) << from_old.err;
  EXPECT_EQ(from_old.err.rfind("tormid-scan: old.tlib was prepared by a version of tormid with other score laws; "
                               "calibrating its profiles at start-up\n",
                               0),
            0u)
      << from_old.err;
  const fixtures::RunResult source = run_scan(
      {"--threads", "2", "-E", "100", p.profiles[0].name() + ".prf", p.profiles[1].name() + ".prf",
       p.profiles[2].name() + ".prf", "db.fa"},
      dir.path());
  ASSERT_EQ(source.status, 0) << source.err;
  static const std::regex file_name(R"(positions, [^)]*\))");
  const std::string a = std::regex_replace(from_old.out, file_name, "positions, FILE)");
  const std::string b = std::regex_replace(source.out, file_name, "positions, FILE)");
  EXPECT_NE(a.find("domains in"), std::string::npos) << a;
  EXPECT_EQ(a.substr(a.find("# sequences")), b.substr(b.find("# sequences")));
}

TEST(PressedLibrary, CommandLineMistakesAreRefusedPlainly) {
  fixtures::TempDir dir;
  const std::string tiny = std::string(TORMID_TEST_DATA) + "/converter/tiny.hmm";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"press"}, "tormid-prf: press needs an output file and at least one profile file\n"},
      {{"press", "out.tlib"}, "tormid-prf: press needs an output file and at least one profile file\n"},
      {{"press", "--mode", "semi", "out.tlib", tiny}, "tormid-prf: --mode is glocal, local or global, not semi\n"},
      {{"press", "--open", "-1", "out.tlib", tiny}, "tormid-prf: --open must be 0 or more, not -1\n"},
      {{"press", "--threads", "0", "out.tlib", tiny}, "tormid-prf: --threads must be a whole number from 1, not 0\n"},
      {{"press", "--speed", "out.tlib", tiny}, "tormid-prf: unknown option --speed\n"},
      {{"press", "out.tlib", "missing.hmm"}, "tormid-prf: missing.hmm: cannot open (No such file or directory)\n"},
      {{"press", "out.tlib", tiny, tiny},
       "tormid-prf: " + tiny + ": a profile named tiny is already pressed (from " + tiny +
           "); each profile needs a name of its own\n"},
      {{"press", "no/such/dir/out.tlib", tiny}, "tormid-prf: no/such/dir/out.tlib: cannot write (No such file or directory)\n"},
  };
  for (const Case& c : cases) {
    const fixtures::RunResult r = run_prf(c.args, dir.path());
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.tlib"));
  // Nothing half-written is left beside the output either.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// --per-sequence: each sequence's domains in input order, along the
// sequence, Z = the number of profiles, overlaps counted and named.
TEST(PerSequence, ListsEachSequencesDomainsAlongItWithZFromTheProfiles) {
  fixtures::TempDir dir;
  dir.write("a.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("b.prf", fixtures::word_profile("GHIKLMNPQ"));
  dir.write("c.prf", fixtures::word_profile("WWWWWWWWW"));
  dir.write("db.fa",
            ">second\nYYYYLMNPQYYYYACDEFYYYY\n>first desc\nACDEFGHIKLMNPQYY\n>none\nYYYYYYYY\n");
  // (At E <= 1: a lone A before ACDEF in "second" pairs with the first
  // position in its flank, E 8.8.)
  const fixtures::RunResult r = run_scan({"--quiet", "--per-sequence", "--mode", "local", "-E", "1", "--tsv", "t.tsv",
                                          "a.prf", "b.prf", "c.prf", "db.fa"},
                                         dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("E-value at most 1 (Z = 3, the number of profiles searched)"), std::string::npos) << r.out;
  const auto second = r.out.find("Sequence second (22 residues): 2 domains");
  const auto first = r.out.find("Sequence first (16 residues): 2 domains  desc");
  ASSERT_NE(second, std::string::npos) << r.out;
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_LT(second, first);
  EXPECT_EQ(r.out.find("Sequence none"), std::string::npos);
  const std::string table = fixtures::read_file(dir.path() / "t.tsv");
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : split(table, '\n')) rows.push_back(split(line, '\t'));
  ASSERT_EQ(rows.size(), 5u) << table;
  EXPECT_EQ(rows[0][rows[0].size() - 3], "seq_evalue");
  EXPECT_EQ(rows[0][rows[0].size() - 4], "overlaps");
  // In input order, then along the sequence: b then a in "second"; a and b
  // overlap in "first" (GHIK is in both).
  const std::vector<std::pair<std::string, std::string>> order = {
      {"b", "second"}, {"a", "second"}, {"a", "first"}, {"b", "first"}};
  for (std::size_t k = 0; k < order.size(); ++k) {
    EXPECT_EQ(rows[k + 1][0], order[k].first) << k;
    EXPECT_EQ(rows[k + 1][1], order[k].second) << k;
  }
  EXPECT_EQ(rows[1][rows[1].size() - 4], "-");
  EXPECT_EQ(rows[3][rows[3].size() - 4], "b");
  EXPECT_EQ(rows[4][rows[4].size() - 4], "a");
  // -Z still sets Z.
  const fixtures::RunResult fixed =
      run_scan({"--quiet", "--per-sequence", "--mode", "local", "-Z", "1000", "a.prf", "b.prf", "c.prf", "db.fa"},
               dir.path());
  EXPECT_NE(fixed.out.find("(Z = 1000)"), std::string::npos) << fixed.out;
}

// --resolve-overlaps: d overlaps a (6 of its 8 residues) and loses to it;
// b overlaps a by 3 of 8 and stays, and so do the E-values.
TEST(PerSequence, OverlapsResolvedKeepTheMostSignificant) {
  fixtures::TempDir dir;
  dir.write("a.prf", fixtures::word_profile("ACDEFGHIK"));
  dir.write("b.prf", fixtures::word_profile("GHIKLMNPQ"));
  dir.write("d.prf", fixtures::word_profile("DEFGHIKLM"));
  dir.write("db.fa", ">first desc\nACDEFGHIKLMNPQYY\n");
  const std::vector<std::string> args = {"--quiet", "--per-sequence", "-E", "1", "a.prf", "b.prf", "d.prf", "db.fa"};
  std::vector<std::string> resolving = args;
  resolving.insert(resolving.begin(), "--resolve-overlaps");
  const fixtures::RunResult plain = run_scan(args, dir.path()), resolved = run_scan(resolving, dir.path());
  ASSERT_EQ(resolved.status, 0) << resolved.err;
  // A row without its overlaps column, which counts what is left.
  auto row = [](const std::string& out, const std::string& profile_and_residues) {
    const std::size_t at = out.find(profile_and_residues);
    if (at == std::string::npos) return std::string("(none)");
    const std::size_t start = out.rfind('\n', at) + 1, end = out.find('\n', at);
    return out.substr(start, out.find_last_not_of("0123456789", end - 1) - start);
  };
  EXPECT_NE(plain.out.find("Sequence first (16 residues): 3 domains"), std::string::npos) << plain.out;
  EXPECT_NE(resolved.out.find("Sequence first (16 residues): 2 domains"), std::string::npos) << resolved.out;
  EXPECT_NE(row(plain.out, "d            4-11"), "(none)");
  EXPECT_EQ(row(resolved.out, "d            4-11"), "(none)");
  for (const char* kept : {"a             1-9", "b            7-14"}) {
    EXPECT_NE(row(resolved.out, kept), "(none)");
    EXPECT_EQ(row(resolved.out, kept), row(plain.out, kept));
  }
  EXPECT_NE(resolved.out.find("; of domains of different profiles overlapping by more than half, the most "
                              "significant\n"),
            std::string::npos);
}

// The sequence E-value against a plain simulation: chance domains of a
// sequence as a Poisson process whose count above x is e^-x (what every
// domain's expected count means), the pair E-value's chance of reaching a
// level alpha stays near alpha (within the 1.5 alpha that its choice of r
// costs at most), and no sequence is ever less significant than its best
// domain.
TEST(SequenceEvalue, HoldsOnChanceDomainsAndNeverExceedsTheBestDomain) {
  std::mt19937_64 rng(5);
  std::exponential_distribution<double> gap(1.0);
  const double mean_domains = 3;  // chance domains above x = -ln 3 per sequence
  const int sequences = 200000;
  int below[3] = {0, 0, 0};
  const double levels[3] = {0.1, 0.01, 0.001};
  for (int s = 0; s < sequences; ++s) {
    // Points of a unit-rate process on u = e^-x, from the top: u_k = sum of k gaps.
    std::vector<double> counts;
    for (double u = gap(rng); u < mean_domains; u += gap(rng)) counts.push_back(u);
    if (counts.empty()) continue;
    const double pair = domains_expected_count(counts);
    ASSERT_LE(pair, counts.front());
    for (int k = 0; k < 3; ++k) below[k] += -std::expm1(-pair) <= levels[k];
  }
  for (int k = 0; k < 3; ++k) {
    const double expected = sequences * levels[k];
    EXPECT_LE(below[k], 1.5 * expected) << levels[k];
    EXPECT_GE(below[k], 0.8 * expected) << levels[k];
  }
  EXPECT_EQ(domains_expected_count({0.25}), 0.25);
  EXPECT_TRUE(std::isnan(domains_expected_count({})));
  // Ten weak domains together are strong; ten chance-level ones are not.
  EXPECT_LT(domains_expected_count(std::vector<double>(10, 1e-3)), 1e-12);
  EXPECT_EQ(domains_expected_count(std::vector<double>(10, 2.0)), 2.0);
}

// The calibration's random residues, drawn through a table, are those of a
// plain search of the cumulative composition.
TEST(Calibration, RandomSequencesAreThoseOfThePlainDraw) {
  std::array<double, kAlphabetSize> cumulative{};
  double total = 0, sum = 0;
  for (const double f : background) total += f;
  for (int k = 0; k < kAlphabetSize; ++k) cumulative[static_cast<std::size_t>(k)] = (sum += background[static_cast<std::size_t>(k)]) / total;
  for (const std::uint64_t seed : {1ull, 42ull, 0xFFFFFFFFFFFFFFFFull}) {
    std::uint64_t state = seed;
    auto mix = [&] {
      std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      return z ^ (z >> 31);
    };
    const std::uint64_t start = seed;
    state = seed;
    state ^= mix() + 3 * 0x100000001B3ull + 7;
    std::string plain;
    for (int n = 0; n < 20000; ++n) {
      const double u = static_cast<double>(mix() >> 11) * 0x1.0p-53;
      int k = 0;
      while (k + 1 < kAlphabetSize && u >= cumulative[static_cast<std::size_t>(k)]) ++k;
      plain += alphabet[k];
    }
    EXPECT_EQ(random_sequence(start, 3, 7, 20000), plain) << seed;
  }
}

}  // namespace
