// The messages of tormid's profile and parameter readers, each formatted in
// exactly one place. Private to the input subsystem.
#pragma once

#include <new>
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

// Opens path and runs read(LineReader&) -> ReadResult<T> on it; a file that
// does not open, a read that fails and a line too long for memory get
// their messages.
template <class T, class Read>
ReadResult<T> read_text_file(const std::string& path, Read read,
                             LineReader::Compression compression = LineReader::Compression::none) {
  LineReader file(path, compression);
  if (!file.is_open()) return ReadResult<T>::failure(cant_open(path));
  try {
    return read(file);
  } catch (const ReadError&) {
    return ReadResult<T>::failure(cant_read(path));
  } catch (const std::bad_alloc&) {
    return ReadResult<T>::failure(string_alloc_fail());
  }
}

}  // namespace tormid::messages
