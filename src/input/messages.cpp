#include "input/messages.h"

namespace tormid::messages {

namespace {
Message err(std::string text) { return {Stream::err, std::move(text)}; }
}  // namespace

// Callers of the original program match this one on standard output.
Message cant_open(const std::string& path) { return {Stream::out, "\ncan't open " + path}; }

Message cant_read(const std::string& path) { return err("\ncan't read " + path + "\n"); }

Message string_alloc_fail() { return err("\nError---string alloc fail\n"); }

Message unrecognized_profile(const std::string& path) {
  return err("\ncan't recognize profile file in " + path);
}

Message matrix_alloc_fail(int which) {
  return err("\nError---matrix alloc fail " + std::to_string(which) + "\n");
}

Message missing_positions(const std::string& path, int read, int expected) {
  return err("\nprofile file " + path + " has " + std::to_string(read) + " of " +
             std::to_string(expected) + " positions\n");
}

Message profile_not_finite(const std::string& path, int position) {
  return err("\nprofile file " + path + ": position " + std::to_string(position) +
             " has a score that is not a finite number\n");
}

InputError refused(const std::string& path, Message message, InputError::Kind kind) {
  return InputError::printed(kind, path, {std::move(message)});
}

Message param_not_finite(const std::string& path, const std::string& key) {
  return err("\nparameters file " + path + ": " + key + " is not a finite number\n");
}

}  // namespace tormid::messages
