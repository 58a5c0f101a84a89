#include <cstdio>
#include <new>

#include "driver/driver.h"
#include "engine/engine.h"
#include "input/input.h"

namespace {

// The driver's messages, each formatted once.
void report_usage() { std::fprintf(stderr, "\nUsage: tormid  fasta_file prf_file param_file\n"); }
void report_alloc_fail() { std::fprintf(stderr, "\nalloc fail\n"); }
void report_bad_profile() { std::fprintf(stderr, "\ncan't process profile file\n"); }
void report_bad_parameters() { std::fprintf(stderr, "\ncan't process parameters file\n"); }
void report_cant_open_fasta(const char* path) { std::fprintf(stderr, "\ncan't open %s", path); }
void report_no_sequence() { std::fprintf(stderr, "\ncan't find fasta sequence in argv[1]\n"); }

void print_result(const std::string& name, const std::string& label, double score) {
  std::printf("Seq: %s  Profile: %s   Score: %8.3lf\n", name.c_str(), label.c_str(), score);
  if (show_alignment) std::printf("\n%s\n%s\n", res_seq1.c_str(), res_seq2.c_str());
}

}  // namespace

int run_tormid(int argc, const char* const* argv) {
  if (argc != 4) {
    report_usage();
    return 1;
  }
  const char* fasta_path = argv[1];
  const char* prf_path = argv[2];
  const char* param_path = argv[3];

  prf_length = read_prf_file(prf_path);
  if (prf_length == 0) {
    report_bad_profile();
    return 1;
  }
  if (!read_param_file(param_path)) {
    report_bad_parameters();
    return 1;
  }
  set_parameters();
  if (show_alignment) build_consensus();

  std::string name, seq, label;
  {
    LineReader fasta(fasta_path);
    if (!fasta.is_open()) {
      report_cant_open_fasta(fasta_path);
      return 1;
    }
    try {
      label = prf_path;
      read_first_record(fasta, name, seq);
    } catch (const std::bad_alloc&) {
      report_alloc_fail();
      return 1;
    }
  }
  if (seq.empty()) {
    report_no_sequence();
    return 1;
  }

  const double score = score_sequence(seq);
  print_result(name, label, score);
  // A result that did not reach its reader is not a success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;
  return score_failed ? 1 : 0;
}
