#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "converter/converter.h"
#include "tormid_version.h"

namespace tormid::converter {

namespace {

void report_usage() {
  std::fprintf(stderr,
               "usage: tormid-prf hmm MODEL.hmm [--name NAME]   profile HMM (HMMER3) to profile\n"
               "       tormid-prf pssm MATRIX.pssm              PSI-BLAST ASCII PSSM to profile\n"
               "       tormid-prf params glocal|local|global    a parameter file for that mode\n"
               "       tormid-prf press [OPTIONS] OUTPUT PROFILE_FILE...  a prepared library\n"
               "       tormid-prf build [--quiet] OUTPUT INPUT...  profiles from proteins and alignments\n");
}

const char kHelp[] = R"(tormid-prf: tormid profiles from the formats people already have

Usage: tormid-prf hmm MODEL.hmm [--name NAME]   profile HMM (HMMER3) to profile
       tormid-prf pssm MATRIX.pssm              PSI-BLAST ASCII PSSM to profile
       tormid-prf params glocal|local|global    a parameter file for that mode
       tormid-prf press [OPTIONS] OUTPUT PROFILE_FILE...  a prepared library
       tormid-prf build [--quiet] OUTPUT INPUT...  profiles from proteins and alignments
       tormid-prf --help | --version

hmm     one profile position per match state of an HMMER3 ASCII model (formats
        3/b to 3/f, plain or gzip-compressed); the score of residue a at
        state k is 2 log2(p_k(a) / f(a)) in half-bits, f the Swiss-Prot
        background; a probability of zero scores -1000. With several models
        in the file --name picks one (before or after the file), else the
        first is converted.
pssm    the 20 scores of each position of a PSI-BLAST -out_ascii_pssm matrix.
params  gap opening 11 and deletion 1 on both sides and the free ends of the
        mode: glocal (the whole profile inside a longer protein), local, or
        global; the alignment display on.
press   every profile of the files (any format tormid-scan reads), calibrated
        for the alignment settings of the options, written to OUTPUT as a
        prepared library that tormid-scan loads without calibrating. Options,
        with tormid-scan's defaults: --params FILE, or --mode local|glocal|
        global (default local), --open X, --extend Y; --seed N; --threads N;
        --quiet.
build   a profile per protein of an unaligned FASTA file (BLOSUM62 rows,
        half-bits), per alignment of a Stockholm file, per aligned FASTA or
        A2M file (positions: the #=GC RF columns, else those half filled by
        weighted sequences; position-based weights, an effective number of
        sequences at HMMER's relative entropy target, a Dirichlet mixture
        prior; scores 2 log2(p / f) in half-bits), written one after another
        to OUTPUT; a line per profile on standard error (--quiet: none).

The profile or parameter file goes to standard output; numbers are written
so that tormid reads them back bit for bit.

Exit status: 0 on success; 1 on a wrong command line (the usage on standard
error) or on a file it cannot convert (one message on standard error,
"tormid-prf: FILE:LINE: what", and nothing on standard output).
Documentation: man tormid-prf; the README of the tormid sources.
)";

void report(const std::string& what) { std::fprintf(stderr, "tormid-prf: %s\n", what.c_str()); }

// The words after the command: --name NAME (or --name=NAME) wherever it
// stands, and the rest in order. False for an unknown option or a --name
// without its value.
bool split_arguments(int argc, const char* const* argv, std::vector<std::string>& words,
                     std::optional<std::string>& name) {
  for (int k = 2; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--name") {
      if (k + 1 == argc) return false;
      name = argv[++k];
    } else if (arg.rfind("--name=", 0) == 0) {
      name = arg.substr(7);
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      words.push_back(arg);
    }
  }
  return true;
}

}  // namespace

int run_tormid_prf(int argc, const char* const* argv) {
  if (const IsaCap& cap = isa_cap(); !cap.problem.empty()) {
    std::fprintf(stderr, "tormid-prf: %s\n", cap.problem.c_str());
    if (cap.refused) return 2;
  }
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc == 2 && (command == "--help" || command == "-h" || command == "--version" || command == "-V")) {
    const std::string text = command == "--help" || command == "-h"
                                 ? std::string(kHelp)
                                 : std::string("tormid-prf " TORMID_VERSION "\n") + kernels_line() + "\n";
    return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (command == "press") return press(argc, argv);
  if (command == "build") return build(argc, argv);
  std::vector<std::string> words;
  std::optional<std::string> name;
  const bool understood = split_arguments(argc, argv, words, name) && words.size() == 1 &&
                          (command == "hmm" || !name);
  std::string text;
  try {
    if (understood && command == "params") {
      text = params_text(words[0]);
      if (text.empty()) {
        report("unknown mode '" + words[0] + "' (glocal, local or global)");
        return 1;
      }
    } else if (understood && command == "hmm") {
      text = profile_text(read_hmm(words[0], name.value_or("")));
    } else if (understood && command == "pssm") {
      text = profile_text(read_pssm(words[0]));
    } else {
      report_usage();
      return 1;
    }
  } catch (const InputError& e) {
    report(e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    report("out of memory");
    return 1;
  }
  // Nothing reaches standard output unless the whole profile is ready.
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    report("cannot write the output");
    return 1;
  }
  return 0;
}

}  // namespace tormid::converter
