// A whole run on one input split into the three files at "%%%\n" (FASTA,
// profile, parameters). Checks what every caller relies on: a run either
// fails with status 1 or prints a well-formed result line, and with the
// display on two lines of equal length that hold every residue and every
// profile position once and nothing but letters and ".".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/driver.h"
#include "engine/engine.h"
#include "fuzz_support.h"
#include "input/input.h"

namespace {

using namespace tormid;

const std::string kSeparator = "%%%\n";
// Keeps each input to a few milliseconds, also in sanitizer builds.
constexpr std::size_t kMaxCells = 300000;

std::string strip_dots(const std::string& line) {
  std::string out;
  for (char c : line)
    if (c != '.') out += c;
  return out;
}

std::size_t count_letters(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  return n;
}

std::size_t count_lines(const std::string& text) {
  std::size_t n = 1;
  for (char c : text) n += (c == '\n');
  return n;
}

void check_result(const std::string& out, const std::string& fasta_path,
                  const std::string& prf_path, const std::string& par_path) {
  Profile profile;
  ParamValues values;
  try {
    profile = read_prf_file(prf_path);
    values = read_param_file(par_path);
  } catch (const InputError&) {
    fuzz::check(false, "a run succeeded on files the readers refuse");
  }
  const bool show_alignment = values.show_alignment;
  const std::string& consensus = profile.consensus();
  LineReader fasta(fasta_path);
  std::string name, seq;
  read_first_record(fasta, name, seq);
  const std::string head = "Seq: " + name + "  Profile: " + prf_path + "   Score: ";
  fuzz::check(out.compare(0, head.size(), head) == 0, "result line prefix", out);
  const std::size_t end = out.find('\n', head.size());
  fuzz::check(end != std::string::npos, "result line unterminated", out);
  const std::string field = out.substr(head.size(), end - head.size());
  char* stop = nullptr;
  const double score = std::strtod(field.c_str(), &stop);
  fuzz::check(stop && *stop == '\0', "score field", field);
  char formatted[400];
  std::snprintf(formatted, sizeof formatted, "%8.3lf", score);
  fuzz::check(field == formatted, "score format", field);

  const std::string rest = out.substr(end + 1);
  if (!show_alignment) {
    fuzz::check(rest.empty(), "output after the result line", rest);
    return;
  }
  fuzz::check(rest.size() >= 3 && rest[0] == '\n' && rest.back() == '\n', "display lines", rest);
  const std::size_t middle = rest.find('\n', 1);
  const std::string prf_line = rest.substr(1, middle - 1);
  const std::string seq_line = rest.substr(middle + 1, rest.size() - middle - 2);
  fuzz::check(seq_line.find('\n') == std::string::npos, "third display line", rest);
  if (score <= kNoAlignment) {
    fuzz::check(prf_line.empty() && seq_line.empty(), "lines without an alignment", rest);
    return;
  }
  fuzz::check(prf_line.size() == seq_line.size(), "line lengths differ", rest);
  for (std::size_t k = 0; k < prf_line.size(); ++k) {
    const char p = prf_line[k], s = seq_line[k];
    fuzz::check(p == '.' || (p >= 'a' && p <= 'z'), "profile line character", prf_line);
    fuzz::check(s == '.' || (s >= 'A' && s <= 'Z'), "sequence line character", seq_line);
    fuzz::check(p != '.' || s != '.', "column of two gaps", rest);
  }
  fuzz::check(strip_dots(seq_line) == seq, "residues shown differ from the sequence", rest);
  fuzz::check(strip_dots(prf_line).size() == consensus.size(),
              "profile positions shown differ from the profile", rest);
  fuzz::check(strip_dots(prf_line) == consensus, "profile line differs from consensus", rest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string parts[3];
  std::size_t from = 0;
  for (int k = 0; k < 3; ++k) {
    const std::size_t at = k < 2 ? input.find(kSeparator, from) : std::string::npos;
    parts[k] = input.substr(from, at == std::string::npos ? std::string::npos : at - from);
    if (at == std::string::npos) break;
    from = at + kSeparator.size();
  }
  if (count_letters(parts[0]) * count_lines(parts[1]) > kMaxCells) return 0;

  const std::string fasta_path = fuzz::write_scratch("run.fa", parts[0].data(), parts[0].size());
  const std::string prf_path = fuzz::write_scratch("run.prf", parts[1].data(), parts[1].size());
  const std::string par_path = fuzz::write_scratch("run.par", parts[2].data(), parts[2].size());
  const char* argv[] = {"tormid", fasta_path.c_str(), prf_path.c_str(), par_path.c_str()};

  fuzz::capture_stdout();
  const int status = run_tormid(4, argv);
  const std::string out = fuzz::take_stdout();
  fuzz::check(status == 0 || status == 1, "exit status", std::to_string(status));
  if (status == 0) check_result(out, fasta_path, prf_path, par_path);
  return 0;
}
