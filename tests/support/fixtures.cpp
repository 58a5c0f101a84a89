#include "support/fixtures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fixtures {

namespace fs = std::filesystem;

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = fs::temp_directory_path() /
          ("tormid-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  const fs::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << content;
  return file.string();
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

RunResult run_shell(const std::string& command, const fs::path& dir) {
  static std::atomic<int> counter{0};
  const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(counter++);
  const fs::path out = fs::temp_directory_path() / ("tormid-out-" + tag);
  const fs::path err = fs::temp_directory_path() / ("tormid-err-" + tag);
  const std::string full = "cd " + shell_quote(dir.string()) + " && { " + command + "; } >" +
                           shell_quote(out.string()) + " 2>" + shell_quote(err.string()) + " </dev/null";
  const int raw = std::system(full.c_str());
  RunResult result;
  result.out = read_file(out);
  result.err = read_file(err);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  fs::remove(out);
  fs::remove(err);
  return result;
}

RunResult run(const std::string& program, const std::vector<std::string>& args,
              const fs::path& dir) {
  std::string command = "exec " + shell_quote(program);
  for (const std::string& a : args) command.append(" ").append(shell_quote(a));
  return run_shell(command, dir);
}

RunResult run_tormid(const std::vector<std::string>& args, const fs::path& dir) {
  return run(TORMID_BINARY, args, dir);
}

RunResult run_prf(const std::vector<std::string>& args, const fs::path& dir) { return run(TORMID_PRF_BINARY, args, dir); }

RunResult run_scan(const std::vector<std::string>& args, const fs::path& dir) {
  return run(TORMID_SCAN_BINARY, args, dir);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

RunResult run_tormid_on(const std::string& fasta, const std::string& profile,
                        const std::string& params, const std::vector<std::string>& args) {
  TempDir dir;
  dir.write("s.fa", fasta);
  dir.write("p.prf", profile);
  dir.write("g.par", params);
  return run_tormid(args.empty() ? std::vector<std::string>{"s.fa", "p.prf", "g.par"} : args,
                    dir.path());
}

namespace {

const char kAlphabet[] = "ARNDCQEGHILKMFPSTWYV";

std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

}  // namespace

std::string rows_profile(const std::vector<std::array<double, 20>>& rows) {
  std::string text = "(Peptide) test profile Length: " + std::to_string(rows.size()) + "\n";
  text += "Cons A R N D C Q E G H I L K M F P S T W Y V\n";
  for (const auto& row : rows) {
    const double* best = std::max_element(row.begin(), row.end());
    text += kAlphabet[best - row.data()];
    for (double v : row) text.append(" ").append(number(v));
    text += "\n";
  }
  return text;
}

std::string word_profile(const std::string& word, double match, double other) {
  std::vector<std::array<double, 20>> rows;
  for (char letter : word) {
    std::array<double, 20> row;
    for (int k = 0; k < 20; ++k) row[k] = (kAlphabet[k] == letter) ? match : other;
    rows.push_back(row);
  }
  return rows_profile(rows);
}

std::string params(double open, double extend, const std::vector<std::string>& yes, bool show) {
  auto on = [&](const std::string& key) {
    return std::find(yes.begin(), yes.end(), key) != yes.end() ? "YES" : "NO";
  };
  std::string text;
  text += "PRF_GAP_OPEN_PENALTY " + number(open) + "\n";
  text += "PRF_DELETION_PENALTY " + number(extend) + "\n";
  text += "SEQ_GAP_OPEN_PENALTY " + number(open) + "\n";
  text += "SEQ_DELETION_PENALTY " + number(extend) + "\n";
  for (const char* key : {"PRF_FREE_BEG", "PRF_FREE_END", "SEQ_FREE_BEG", "SEQ_FREE_END"})
    text += std::string(key) + " " + on(key) + "\n";
  text += std::string("SHOW_ALIGNMENT ") + (show ? "YES" : "NO") + "\n";
  return text;
}

}  // namespace fixtures
