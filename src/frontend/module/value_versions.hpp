#pragma once
// The versions of a module's values. Every definition and write of a value
// symbol is stamped with the next tick of one clock, and a snapshot is the
// clock's reading: a reader through it takes, for each symbol, the latest
// write at or before that reading. A write keeps the value it replaces only
// while a live snapshot can still read it, so a snapshot costs no copy and
// the values kept never outnumber what the live snapshots can see.
//
// The capture depth of the values (the deepest operand environment they
// hold) is counted per depth, so that the deepest is known without reading
// every value at every snapshot.

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "frontend/module/symbol.hpp"
#include "frontend/values/value.hpp"

namespace frontend::value_versions {

class ValueVersions {
 public:
  // Room for the next definition, so that defined cannot fail.
  void reserveDefinition() {
    if (uncounted_.size() == uncounted_.capacity()) uncounted_.reserve(std::max<std::size_t>(16, uncounted_.size() * 2));
  }
  // A symbol was just defined with its first value.
  void defined(symbol::ValueSymbol& symbol) noexcept;
  // The symbol's value is about to change (in place, replaced or taken).
  void beforeWrite(symbol::ValueSymbol& symbol);

  // The values as they are now, for as long as the snapshot is held.
  std::shared_ptr<const value::ModuleSnapshot> snapshot();

  // The symbol's value as the snapshot sees it; null when the symbol was
  // defined after it.
  static const value::Value* at(const symbol::ValueSymbol& symbol, const value::ModuleSnapshot& snapshot) noexcept;

  // The largest capture depth among the current values; 0 when none holds
  // an operand.
  std::uint64_t deepestCapture();

 private:
  // Depths at and above the last slot share it: a capture that deep fails
  // before its depth matters.
  static constexpr std::size_t kDepthSlots = 130;

  // Whether a live snapshot reads versions in [from, to).
  bool seenBetween(std::uint64_t from, std::uint64_t to);
  // The newest live snapshot's version, if any is live.
  std::optional<std::uint64_t> newestLive();
  // Drops every earlier value once no snapshot is live.
  void forgetEarlier() noexcept;

  std::uint64_t clock_ = 0;
  // Snapshots by version; one per version, shared by those taken at it.
  // Expired ones are dropped as they are met.
  std::map<std::uint64_t, std::weak_ptr<const value::ModuleSnapshot>> snapshots_;
  std::vector<symbol::ValueSymbol*> keeping_;   // symbols holding earlier values
  std::vector<symbol::ValueSymbol*> uncounted_;  // written since the last count
  std::array<std::uint64_t, kDepthSlots> depth_counts_{};
};

}  // namespace frontend::value_versions
