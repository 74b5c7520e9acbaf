#include "frontend/module/symbol_store.hpp"

#include <cstring>
#include <utility>

namespace frontend::symbol {

void SymbolStore::reserveOne(std::size_t pooled_name_size) {
  if (size_ == chunks_.size() * kChunkSize) {
    std::vector<Symbol> chunk;
    chunk.reserve(kChunkSize);
    chunks_.push_back(std::move(chunk));
  }
  if (pooled_name_size > 0) name_pool_.reserve(name_pool_.size() + kLengthBytes + pooled_name_size);
}

ValueSymbol& SymbolStore::keepValue(ValueSymbol&& value) { return values_.emplace_back(std::move(value)); }

void SymbolStore::pool(std::string_view name) noexcept {
  const auto length = static_cast<std::uint32_t>(name.size());
  char bytes[kLengthBytes];
  std::memcpy(bytes, &length, kLengthBytes);
  name_pool_.append(bytes, kLengthBytes);
  name_pool_.append(name);
}

std::string_view SymbolStore::pooledName(std::uint32_t offset) const noexcept {
  const std::string_view entry = std::string_view(name_pool_).substr(offset);
  std::uint32_t length = 0;
  std::memcpy(&length, entry.data(), kLengthBytes);
  return entry.substr(kLengthBytes, length);
}

void SymbolStore::push(const Symbol& symbol) noexcept {
  chunks_[size_ / kChunkSize].push_back(symbol);
  ++size_;
}

}  // namespace frontend::symbol
