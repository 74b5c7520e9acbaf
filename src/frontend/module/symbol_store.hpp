#pragma once
// A module's symbols, addressed by the order of their definition. Records sit
// in chunks of a fixed size, so that growing never copies the records held
// nor holds them twice; value payloads sit in a deque, which keeps each one
// at the address its record points to. Peak memory: see line_record.hpp.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/module/symbol.hpp"

namespace frontend::symbol {

class SymbolStore {
 public:
  // The pool addresses names by 32-bit offsets.
  static constexpr std::uint64_t kMaxPoolSize = std::uint64_t{1} << 32;

  std::size_t size() const noexcept { return size_; }
  Symbol& operator[](std::size_t index) noexcept { return chunks_[index / kChunkSize][index % kChunkSize]; }
  const Symbol& operator[](std::size_t index) const noexcept {
    return chunks_[index / kChunkSize][index % kChunkSize];
  }

  // Whether the pool can take a name of that length.
  bool poolHasRoomFor(std::size_t name_size) const noexcept {
    return name_pool_.size() + kLengthBytes + name_size <= kMaxPoolSize;
  }
  // Room for one more record and, if the name goes to the pool, for the
  // name: after it only keepValue can fail.
  void reserveOne(std::size_t pooled_name_size);
  // A payload for a value symbol; value is moved only when this succeeds.
  ValueSymbol& keepValue(ValueSymbol&& value);
  // Where the next pooled name will be.
  NameRef nextPoolRef() const noexcept { return {static_cast<std::uint32_t>(name_pool_.size()), false}; }
  // Copies a name into the pool, which reserveOne made room for.
  void pool(std::string_view name) noexcept;
  std::string_view pooledName(std::uint32_t offset) const noexcept;
  // Adds a record, which reserveOne made room for.
  void push(const Symbol& symbol) noexcept;

 private:
  static constexpr std::size_t kChunkSize = 1024;
  // Each pooled name is stored behind its length.
  static constexpr std::size_t kLengthBytes = sizeof(std::uint32_t);

  std::vector<std::vector<Symbol>> chunks_;
  std::deque<ValueSymbol> values_;
  std::string name_pool_;
  std::size_t size_ = 0;
};

}  // namespace frontend::symbol
