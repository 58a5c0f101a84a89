// Search results as bytes, to send them between the processes of an MPI
// job: doubles keep every bit. Private to the distribution.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/units.h"

namespace tormid::distributed::wire {

class Writer {
 public:
  template <class T>
  void put(T value) {
    append(&value, sizeof value);
  }
  void put(const std::string& text) {
    put(static_cast<std::uint64_t>(text.size()));
    append(text.data(), text.size());
  }
  std::vector<char>& bytes() { return bytes_; }

 private:
  void append(const void* data, std::size_t size) {
    if (size == 0) return;
    const std::size_t at = bytes_.size();
    bytes_.resize(at + size);
    std::memcpy(bytes_.data() + at, data, size);
  }
  std::vector<char> bytes_;
};

class Reader {
 public:
  explicit Reader(const std::vector<char>& bytes) : bytes_(bytes) {}
  template <class T>
  T get() {
    T value;
    need(sizeof value);
    std::memcpy(&value, bytes_.data() + at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  std::string text() {
    const auto size = get<std::uint64_t>();
    need(size);
    std::string t(bytes_.data() + at_, size);
    at_ += size;
    return t;
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  void need(std::size_t n) const {
    if (bytes_.size() - at_ < n) throw std::runtime_error("a truncated result message");
  }
  const std::vector<char>& bytes_;
  std::size_t at_ = 0;
};

void put(Writer& w, const UnitResult& result);
UnitResult get_unit_result(Reader& r);

// Reported hits, each with its label and alignment lines.
void put(Writer& w, const std::vector<Hit>& hits);
std::vector<Hit> get_hits(Reader& r);

}  // namespace tormid::distributed::wire
