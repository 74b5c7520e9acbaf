#include "frontend/module/value_versions.hpp"

#include <algorithm>
#include <iterator>

namespace frontend::value_versions {

namespace {

std::size_t depthSlot(std::uint64_t depth, std::size_t slots) noexcept {
  return static_cast<std::size_t>(std::min<std::uint64_t>(depth, slots - 1));
}

}  // namespace

void ValueVersions::defined(symbol::ValueSymbol& symbol) noexcept {
  symbol.written = ++clock_;
  uncounted_.push_back(&symbol);
}

void ValueVersions::beforeWrite(symbol::ValueSymbol& symbol) {
  if (symbol.counted) {
    --depth_counts_[depthSlot(symbol.counted_depth, kDepthSlots)];
    symbol.counted = false;
    uncounted_.push_back(&symbol);
  }
  const auto newest = newestLive();
  if (!newest) {
    forgetEarlier();
  } else {
    // The newest earlier values first: each is dropped once, and one that
    // stays ends the search, so a write costs O(1) amortized.
    std::vector<symbol::EarlierValue>& earlier = symbol.earlier;
    while (!earlier.empty() && !seenBetween(earlier.back().written, symbol.written)) earlier.pop_back();
    if (*newest >= symbol.written) {
      earlier.push_back(symbol::EarlierValue{symbol.written, symbol.value});
      if (!symbol.listed) {
        keeping_.push_back(&symbol);
        symbol.listed = true;
      }
    }
  }
  symbol.written = ++clock_;
}

std::shared_ptr<const value::ModuleSnapshot> ValueVersions::snapshot() {
  const auto newest = newestLive();
  if (!newest) {
    forgetEarlier();
  } else if (*newest == clock_) {
    if (auto held = std::prev(snapshots_.end())->second.lock()) return held;
  }
  auto made = std::make_shared<const value::ModuleSnapshot>(value::ModuleSnapshot{clock_});
  snapshots_.insert_or_assign(snapshots_.end(), clock_, made);
  return made;
}

const value::Value* ValueVersions::at(const symbol::ValueSymbol& symbol,
                                      const value::ModuleSnapshot& snapshot) noexcept {
  if (symbol.written <= snapshot.version) return &symbol.value;
  const auto after = std::ranges::upper_bound(symbol.earlier, snapshot.version, {}, &symbol::EarlierValue::written);
  if (after == symbol.earlier.begin()) return nullptr;
  return &std::prev(after)->value;
}

std::uint64_t ValueVersions::deepestCapture() {
  for (symbol::ValueSymbol* symbol : uncounted_) {
    if (symbol->counted) continue;
    symbol->counted_depth = symbol->value.operandCaptureDepth();
    ++depth_counts_[depthSlot(symbol->counted_depth, kDepthSlots)];
    symbol->counted = true;
  }
  uncounted_.clear();
  for (std::size_t slot = kDepthSlots; slot-- > 0;)
    if (depth_counts_[slot] != 0) return slot;
  return 0;
}

bool ValueVersions::seenBetween(std::uint64_t from, std::uint64_t to) {
  for (auto held = snapshots_.lower_bound(from); held != snapshots_.end() && held->first < to;) {
    if (!held->second.expired()) return true;
    held = snapshots_.erase(held);
  }
  return false;
}

std::optional<std::uint64_t> ValueVersions::newestLive() {
  while (!snapshots_.empty()) {
    const auto last = std::prev(snapshots_.end());
    if (!last->second.expired()) return last->first;
    snapshots_.erase(last);
  }
  return std::nullopt;
}

void ValueVersions::forgetEarlier() noexcept {
  for (symbol::ValueSymbol* symbol : keeping_) {
    std::vector<symbol::EarlierValue>().swap(symbol->earlier);
    symbol->listed = false;
  }
  keeping_.clear();
}

}  // namespace frontend::value_versions
