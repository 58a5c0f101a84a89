#include "search/records.h"

#include <sys/stat.h>

namespace tormid {

namespace {

class FileRecords : public RecordStream {
 public:
  FileRecords(LineReader lines, RecordRange range, std::size_t max_residues)
      : lines_(std::move(lines)), reader_(lines_, range.begin > 0, max_residues), end_(range.end) {
    // A range starts one byte early, inside the line before its first
    // header or at its end: that line belongs to a record before it.
    std::string line;
    if (range.begin > 0) lines_.next(line);
  }
  bool next(FastaRecord& record) override { return reader_.next(record) && record.offset < end_; }
  std::uint64_t bytes_read() const override { return lines_.position(); }

 private:
  LineReader lines_;
  FastaReader reader_;
  std::uint64_t end_;
};

// A caller's record as a FASTA reader gives it: letters only, upper case;
// its offset is its index.
void as_fasta(const SequenceRecord& r, std::uint64_t index, std::size_t max_residues, FastaRecord& record) {
  record.name = r.name;
  record.description = r.description;
  record.sequence.clear();
  add_seq(r.sequence, record.sequence);
  if (record.sequence.size() > max_residues)
    throw InputError("records", 0, "record " + r.name + " is longer than " + std::to_string(max_residues) + " residues",
                     InputError::Kind::limit);
  record.offset = index;
}

class ListRecords : public RecordStream {
 public:
  ListRecords(const std::vector<SequenceRecord>& records, std::size_t max_residues)
      : records_(records), max_residues_(max_residues) {}
  bool next(FastaRecord& record) override {
    if (at_ == records_.size()) return false;
    as_fasta(records_[at_], at_, max_residues_, record);
    ++at_;
    return true;
  }
  std::uint64_t bytes_read() const override { return 0; }

 private:
  const std::vector<SequenceRecord>& records_;
  std::size_t max_residues_;
  std::size_t at_ = 0;
};

class GeneratedRecords : public RecordStream {
 public:
  GeneratedRecords(const SequenceSource::RecordGenerator& next, std::size_t max_residues)
      : next_(next), max_residues_(max_residues) {}
  bool next(FastaRecord& record) override {
    if (!next_(record_)) return false;
    as_fasta(record_, at_++, max_residues_, record);
    return true;
  }
  std::uint64_t bytes_read() const override { return 0; }

 private:
  const SequenceSource::RecordGenerator& next_;
  std::size_t max_residues_;
  std::uint64_t at_ = 0;
  SequenceRecord record_;
};

LineReader open_lines(const SequenceSource& source) {
  if (source.kind() == SequenceSource::Kind::standard_input)
    return LineReader::standard_input(LineReader::Compression::gzip, source.name());
  return LineReader(source.name(), LineReader::Compression::gzip);
}

}  // namespace

std::unique_ptr<RecordStream> open_records(const SequenceSource& source, std::size_t max_residues) {
  if (source.kind() == SequenceSource::Kind::records)
    return std::make_unique<ListRecords>(source.record_list(), max_residues);
  if (source.kind() == SequenceSource::Kind::generated)
    return std::make_unique<GeneratedRecords>(source.generator(), max_residues);
  return std::make_unique<FileRecords>(open_lines(source), RecordRange{}, max_residues);
}

std::unique_ptr<RecordStream> open_range(const std::string& path, RecordRange range, std::size_t max_residues) {
  return std::make_unique<FileRecords>(LineReader::at_offset(path, range.begin > 0 ? range.begin - 1 : 0), range,
                                       max_residues);
}

bool can_read_twice(const SequenceSource& source) {
  switch (source.kind()) {
    case SequenceSource::Kind::records: return true;
    case SequenceSource::Kind::standard_input:
    case SequenceSource::Kind::generated: return false;
    case SequenceSource::Kind::file: break;
  }
  struct stat info {};
  return ::stat(source.name().c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::uint64_t count_records(const SequenceSource& source, std::size_t max_residues, std::stop_token stop) {
  const std::unique_ptr<RecordStream> records = open_records(source, max_residues);
  FastaRecord record;
  std::uint64_t count = 0;
  while (records->next(record)) {
    count += !record.sequence.empty();
    if (stop.stop_requested()) throw SearchStopped();
  }
  return count;
}

}  // namespace tormid
