#include "process_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

extern char** environ;

namespace bench {

ProcessRun run_process(const std::string& binary, const std::vector<std::string>& args,
                       const std::string& stdout_path, const std::string& stderr_path) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!stderr_path.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  ProcessRun result{0, 0, -1};
  if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peak_mib = usage.ru_maxrss / 1024.0;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

ProcessRun best_of(int times, const std::string& binary, const std::vector<std::string>& args) {
  ProcessRun best = run_process(binary, args);
  for (int k = 1; k < times; ++k) {
    const ProcessRun r = run_process(binary, args);
    if (r.seconds < best.seconds) best = r;
  }
  return best;
}

ProcessRun median_of(int times, const std::string& binary, const std::vector<std::string>& args) {
  std::vector<ProcessRun> runs;
  for (int k = 0; k < times; ++k) runs.push_back(run_process(binary, args));
  std::sort(runs.begin(), runs.end(), [](const ProcessRun& a, const ProcessRun& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

}  // namespace bench
