// The records of a sequence source, one after the other: a FASTA file or a
// byte range of one, standard input, or the caller's list. Private to the
// search.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "input/input.h"
#include "search/search.h"

namespace tormid {

class RecordStream {
 public:
  virtual ~RecordStream() = default;
  // The next record, also one without letters; false at the end. A
  // record's offset orders the records: a file's byte offset, a list's
  // index. Throws InputError.
  virtual bool next(FastaRecord& record) = 0;
  // Bytes of the file read so far (0 for a list).
  virtual std::uint64_t bytes_read() const = 0;
};

// Every record of the source; one of more than max_residues letters
// throws InputError (limit), as do the source's own problems.
std::unique_ptr<RecordStream> open_records(const SequenceSource& source, std::size_t max_residues);

// The records of an uncompressed file whose header starts in [begin, end)
// of the file; together, the ranges of a cut of the file hold each record
// once.
struct RecordRange {
  std::uint64_t begin = 0;
  std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
};
std::unique_ptr<RecordStream> open_range(const std::string& path, RecordRange range, std::size_t max_residues);

// Whether the source can be read twice: a list, or a regular file (not
// standard input, a pipe or a device, which give their records once).
bool can_read_twice(const SequenceSource& source);

// The records with letters of a source, read once through. Throws
// InputError.
std::uint64_t count_records(const SequenceSource& source, std::size_t max_residues, std::stop_token stop = {});

}  // namespace tormid
