#pragma once
// Which line defines each id of a module and which ids are used before any
// line defines them, so that an id defined twice is refused at its second
// definition and an id no line defines at its first use. A line may name an
// id that a later line defines (a branch to a later label, a name or
// decoration before the result it names).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace spirv_encoder::module_ids {

// Where a line stands: the index of its text and its offset in that text.
struct LinePlace {
  std::uint32_t text = 0;
  std::size_t offset = 0;
};

struct UndefinedUse {
  std::uint32_t id = 0;
  LinePlace first_use;
};

// The largest text index a ledger can hold.
inline constexpr std::uint32_t kMaxText = 0xFFFFFFFDu;

// Tools number ids densely from 1, so ids below a bound derived from the
// module's size are kept in a table indexed by id. A larger id is kept in a
// map instead, so that one stray large id costs one entry, not a table as
// long as its value.
class IdLedger {
 public:
  explicit IdLedger(std::size_t dense_limit) noexcept : dense_limit_(dense_limit) {}

  // Records the definition; the text of the earlier definition when the id
  // had one already (the ledger keeps that one).
  std::optional<std::uint32_t> define(std::uint32_t id, std::uint32_t text) {
    if (id < dense_.size() && dense_[id] == kUnseen) {
      dense_[id] = text;
      return std::nullopt;
    }
    return defineElsewhere(id, text);
  }

  void use(std::uint32_t id, LinePlace place) {
    // Most uses name an id defined already.
    if (id < dense_.size() && dense_[id] <= kMaxText) return;
    useElsewhere(id, place);
  }

  // The used id that no line defines and that was used first, if any.
  std::optional<UndefinedUse> firstUndefined() const;

 private:
  static constexpr std::uint32_t kUnseen = 0xFFFFFFFFu;
  static constexpr std::uint32_t kUsedOnly = 0xFFFFFFFEu;
  static_assert(kMaxText < kUsedOnly);

  std::optional<std::uint32_t> defineElsewhere(std::uint32_t id, std::uint32_t text);
  void useElsewhere(std::uint32_t id, LinePlace place);
  std::uint32_t& entry(std::uint32_t id);
  std::uint32_t find(std::uint32_t id) const;

  std::size_t dense_limit_;
  // Per id: kUnseen, kUsedOnly, or the text of its definition.
  std::vector<std::uint32_t> dense_;
  std::unordered_map<std::uint32_t, std::uint32_t> sparse_;
  // Each id used before its definition, in the order of the first use.
  std::vector<UndefinedUse> early_uses_;
};

}  // namespace spirv_encoder::module_ids
