#include "frontend/lower/value_name_filter.hpp"

namespace frontend::lower::value_name_filter {

namespace {

// FNV-1a: cheap on the short names instruction lines hold.
std::uint64_t nameHash(std::string_view name) noexcept {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  return hash;
}

// Two probes into 256 bits.
constexpr unsigned kProbes = 2;
unsigned probe(std::uint64_t hash, unsigned index) noexcept { return static_cast<unsigned>(hash >> (8 * index)) & 255u; }

}  // namespace

void ValueNameFilter::sync(const module::Module& module) noexcept {
  const auto& symbols = module.symbols();
  // A filter that saw more symbols than there are now was fed by another
  // module: start again.
  if (symbols.size() < seen_) *this = ValueNameFilter();
  for (; seen_ < symbols.size(); ++seen_)
    if (symbols[seen_].value() != nullptr) {
      add(module.symbolName(symbols[seen_]));
      ++seen_values_;
    }
}

bool ValueNameFilter::mayHold(std::string_view name) const noexcept {
  if (empty()) return false;
  const std::uint64_t hash = nameHash(name);
  for (unsigned index = 0; index < kProbes; ++index) {
    const unsigned bit = probe(hash, index);
    if ((bits_[bit / 64] & (std::uint64_t{1} << (bit % 64))) == 0) return false;
  }
  return true;
}

void ValueNameFilter::add(std::string_view name) noexcept {
  const std::uint64_t hash = nameHash(name);
  for (unsigned index = 0; index < kProbes; ++index) {
    const unsigned bit = probe(hash, index);
    bits_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
}

}  // namespace frontend::lower::value_name_filter
