// The messages of tormid's profile and parameter readers, each formatted in
// exactly one place. Private to the input subsystem.
#pragma once

#include <new>
#include <optional>
#include <string>

#include "input/input.h"

namespace tormid::messages {

Message cant_open(const std::string& path);  // standard output
Message cant_read(const std::string& path);
Message string_alloc_fail();
Message unrecognized_profile(const std::string& path);
Message matrix_alloc_fail(int which);
Message missing_positions(const std::string& path, int read, int expected);
Message profile_not_finite(const std::string& path, int position);
Message param_not_finite(const std::string& path, const std::string& key);

// A failure of a reader with its one message.
InputError refused(const std::string& path, Message message, InputError::Kind kind = InputError::Kind::content);

// Runs read() -> T on path's open file; a read that fails and a line too
// long for memory get their messages.
template <class Read>
auto read_with_messages(const std::string& path, Read read) {
  try {
    return read();
  } catch (const InputError& e) {
    if (e.kind() != InputError::Kind::read) throw;
    throw refused(path, cant_read(path), InputError::Kind::read);
  } catch (const std::bad_alloc&) {
    throw refused(path, string_alloc_fail(), InputError::Kind::memory);
  }
}

// Opens path and runs read(LineReader&) -> T on it, with the messages of a
// file that does not open and those of read_with_messages().
template <class Read>
auto read_text_file(const std::string& path, Read read,
                    LineReader::Compression compression = LineReader::Compression::none) {
  std::optional<LineReader> file;
  try {
    file.emplace(path, compression);
  } catch (const InputError&) {
    throw refused(path, cant_open(path), InputError::Kind::open);
  }
  return read_with_messages(path, [&] { return read(*file); });
}

}  // namespace tormid::messages
