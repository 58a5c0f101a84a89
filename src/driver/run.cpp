// The run: profile, parameters, the first FASTA record, the alignment, the
// result line. Files are checked in that order and only the first failure
// is reported.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/driver.h"
#include "engine/engine.h"
#include "input/input.h"
#include "tormid_version.h"

namespace tormid {

namespace {

// The driver's messages, each formatted once.
void report_usage() { std::fprintf(stderr, "\nUsage: tormid  fasta_file prf_file param_file\n"); }
void report_alloc_fail() { std::fprintf(stderr, "\nalloc fail\n"); }
void report_bad_profile() { std::fprintf(stderr, "\ncan't process profile file\n"); }
void report_bad_parameters() { std::fprintf(stderr, "\ncan't process parameters file\n"); }
void report_cant_open_fasta(const char* path) { std::fprintf(stderr, "\ncan't open %s", path); }
void report_cant_read(const char* path) { std::fprintf(stderr, "\ncan't read %s\n", path); }
void report_no_sequence() { std::fprintf(stderr, "\ncan't find fasta sequence in argv[1]\n"); }
void report_overflow() {
  std::fprintf(stderr, "\nscore overflow: profile scores or penalties are too large\n");
}
void report_alignment_failure(const Alignment& a) {
  if (a.failed_stage == 4) std::fprintf(stderr, "\nError---alloc fail\n");
  else std::fprintf(stderr, "\nError---alloc %d fail\n", a.failed_stage);
}

const char kHelp[] = R"(tormid: aligns one protein sequence against a position-specific scoring profile

Usage: tormid FASTA_FILE PRF_FILE PARAM_FILE
       tormid --help | --version

Aligns the first record of FASTA_FILE that holds letters against the profile
in PRF_FILE by dynamic programming, with the gap costs and free ends of
PARAM_FILE, and prints one result line on standard output:
  Seq: NAME  Profile: PRF_FILE   Score: SCORE
and, when the parameter file asks for it, the alignment as two lines: the
profile's consensus (lower case) over the sequence (upper case), "." for gaps.

Files:
  FASTA_FILE  FASTA, plain or gzip-compressed; letters A-Z of the first
              record with letters, in either case; anything else is dropped.
  PRF_FILE    a header line "(Peptide) ... Length: N ..." (N is its fifth
              word), a line that is ignored, then N lines: a word, then 20
              scores in the order A R N D C Q E G H I L K M F P S T W Y V.
  PARAM_FILE  nine key lines, the value one character after the key:
                PRF_GAP_OPEN_PENALTY, PRF_DELETION_PENALTY  a gap of n residues
                    facing no profile position costs open + n * deletion
                SEQ_GAP_OPEN_PENALTY, SEQ_DELETION_PENALTY  the same for n
                    profile positions facing no residue
                PRF_FREE_BEG, PRF_FREE_END  YES: residues before / after the
                    profile are free
                SEQ_FREE_BEG, SEQ_FREE_END  YES: profile positions before /
                    after the sequence are free (all four: local alignment)
                SHOW_ALIGNMENT  YES: print the alignment
              Other lines are ignored.

Exit status: 0 when the result line was printed after a completed alignment
(also when it says no alignment was found: -100000.000), 1 otherwise; every
failure prints its message (see the manual).

tormid-prf converts HMMER3 models and PSI-BLAST PSSMs into profiles and writes
parameter files; tormid-scan searches whole databases.
Documentation: man tormid; the README of the tormid sources.
)";

// --help and --version, alone on the command line; other command lines are
// not for them.
bool is_help(int argc, const char* const* argv) {
  return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}
bool is_version(int argc, const char* const* argv) {
  return argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0);
}

// Writes text to standard output; false when it did not get there.
bool write_out(const char* text) { return std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0; }

void print(const std::vector<Message>& messages) {
  for (const Message& m : messages)
    std::fputs(m.text.c_str(), m.stream == Stream::out ? stdout : stderr);
}

void print_result(const std::string& name, const std::string& label, const Alignment& a,
                  bool show_alignment) {
  std::printf("Seq: %s  Profile: %s   Score: %8.3lf\n", name.c_str(), label.c_str(), a.score);
  if (show_alignment) std::printf("\n%s\n%s\n", a.prf_line.c_str(), a.seq_line.c_str());
}

}  // namespace

int run_tormid(int argc, const char* const* argv, std::string_view kernel) {
  if (const IsaCap& cap = isa_cap(); !cap.problem.empty()) {
    std::fprintf(stderr, "tormid: %s\n", cap.problem.c_str());
    if (cap.refused) return 1;
  }
  if (is_help(argc, argv)) return write_out(kHelp) ? 0 : 1;
  if (is_version(argc, argv)) return write_out(("tormid " TORMID_VERSION "\n" + kernels_line() + "\n").c_str()) ? 0 : 1;
  if (argc != 4) {
    report_usage();
    return 1;
  }
  const char* fasta_path = argv[1];
  const char* prf_path = argv[2];
  const char* param_path = argv[3];

  Profile profile;
  try {
    profile = read_prf_file(prf_path);
  } catch (const InputError& e) {
    print(e.messages());
    report_bad_profile();
    return 1;
  }
  ParamValues values;
  try {
    values = read_param_file(param_path);
  } catch (const InputError& e) {
    print(e.messages());
    report_bad_parameters();
    return 1;
  }
  const Settings settings = set_parameters(values);

  std::string name, seq;
  try {
    LineReader fasta(fasta_path, LineReader::Compression::gzip);
    read_first_record(fasta, name, seq);
  } catch (const InputError& e) {
    if (e.kind() == InputError::Kind::open) report_cant_open_fasta(fasta_path);
    else report_cant_read(fasta_path);
    return 1;
  } catch (const std::bad_alloc&) {
    report_alloc_fail();
    return 1;
  }
  if (seq.empty()) {
    report_no_sequence();
    return 1;
  }

  Workspace workspace = kernel.empty() ? Workspace() : Workspace(kernel);
  const Alignment result =
      align(profile, settings, seq, workspace, values.show_alignment ? Detail::display : Detail::score);
  // Finite inputs can still add up beyond the largest double.
  if (!std::isfinite(result.score)) {
    report_overflow();
    return 1;
  }
  if (result.status == AlignStatus::out_of_memory) report_alignment_failure(result);
  print_result(name, prf_path, result, values.show_alignment);
  // A result that did not reach its reader is not a success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;
  return result.status == AlignStatus::out_of_memory ? 1 : 0;
}

}  // namespace tormid
