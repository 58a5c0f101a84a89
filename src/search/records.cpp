#include "search/records.h"

namespace tormid {

namespace {

class FileRecords : public RecordStream {
 public:
  FileRecords(LineReader lines, RecordRange range)
      : lines_(std::move(lines)), reader_(lines_, range.begin > 0), end_(range.end) {
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

class ListRecords : public RecordStream {
 public:
  explicit ListRecords(const std::vector<SequenceRecord>& records) : records_(records) {}
  bool next(FastaRecord& record) override {
    if (at_ == records_.size()) return false;
    const SequenceRecord& r = records_[at_];
    record.name = r.name;
    record.description = r.description;
    record.sequence.clear();
    add_seq(r.sequence, record.sequence);
    record.offset = at_++;
    return true;
  }
  std::uint64_t bytes_read() const override { return 0; }

 private:
  const std::vector<SequenceRecord>& records_;
  std::size_t at_ = 0;
};

LineReader open_lines(const SequenceSource& source) {
  if (source.kind() == SequenceSource::Kind::standard_input)
    return LineReader::standard_input(LineReader::Compression::gzip, source.name());
  return LineReader(source.name(), LineReader::Compression::gzip);
}

}  // namespace

std::unique_ptr<RecordStream> open_records(const SequenceSource& source) {
  if (source.kind() == SequenceSource::Kind::records) return std::make_unique<ListRecords>(source.record_list());
  return std::make_unique<FileRecords>(open_lines(source), RecordRange{});
}

std::unique_ptr<RecordStream> open_range(const std::string& path, RecordRange range) {
  return std::make_unique<FileRecords>(LineReader::at_offset(path, range.begin > 0 ? range.begin - 1 : 0), range);
}

std::uint64_t count_records(const SequenceSource& source) {
  const std::unique_ptr<RecordStream> records = open_records(source);
  FastaRecord record;
  std::uint64_t count = 0;
  while (records->next(record)) count += !record.sequence.empty();
  return count;
}

}  // namespace tormid
