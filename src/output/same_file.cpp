// Outputs that would overwrite an input or another output.
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "output/output.h"

namespace tormid {

namespace {

// What a path is as a file: a regular file by device and inode (through
// links), a file yet to be made by its absolute path, standard output by
// "-"; nothing for devices, pipes, folders and standard input, which take
// several readers and writers without loss.
struct Identity {
  enum class Kind { none, file, planned, standard_output } kind = Kind::none;
  dev_t device = 0;
  ino_t inode = 0;
  std::string name;

  bool operator==(const Identity& other) const {
    if (kind == Kind::none || kind != other.kind) return false;
    if (kind == Kind::file) return device == other.device && inode == other.inode;
    return name == other.name;
  }
};

Identity identity_of(const std::string& path, bool output) {
  Identity id;
  if (path == "-") {
    if (output) id.kind = Identity::Kind::standard_output;
    return id;
  }
  struct stat file {};
  if (::stat(path.c_str(), &file) == 0) {
    if (!S_ISREG(file.st_mode)) return id;
    id.kind = Identity::Kind::file;
    id.device = file.st_dev;
    id.inode = file.st_ino;
    return id;
  }
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::weakly_canonical(path, error);
  if (error) return id;
  id.kind = Identity::Kind::planned;
  id.name = absolute.string();
  return id;
}

}  // namespace

std::optional<std::string> same_file(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs) {
  std::vector<std::pair<const NamedPath*, Identity>> seen;
  for (const NamedPath& input : inputs) seen.push_back({&input, identity_of(input.path, false)});
  const std::size_t input_count = seen.size();
  for (const NamedPath& output : outputs) {
    const Identity id = identity_of(output.path, true);
    for (std::size_t k = 0; k < seen.size(); ++k) {
      if (!(seen[k].second == id)) continue;
      const NamedPath& other = *seen[k].first;
      if (k < input_count)
        return output.role + " " + output.path + " is " + other.role + " " + other.path +
               ": an output may not overwrite an input";
      return output.role + " " + output.path + " and " + other.role + " " + other.path +
             " are the same file: each output needs a file of its own";
    }
    seen.push_back({&output, id});
  }
  return std::nullopt;
}

}  // namespace tormid
