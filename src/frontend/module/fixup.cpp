#include "frontend/module/fixup.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

#include "common/ascii.hpp"

namespace frontend::fixup {

namespace {

// What a fixup keeps in front of its text, byte for byte in the pool.
template <typename Value>
void appendRaw(std::string& pool, Value value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  pool.append(bytes, sizeof value);
}

template <typename Value>
Value readRaw(const std::string& pool, std::size_t at) noexcept {
  Value value;
  std::memcpy(&value, pool.data() + at, sizeof value);
  return value;
}

}  // namespace

FixupKind classifyTargetText(std::string_view text) noexcept {
  if (text.empty()) return FixupKind::expression;
  const char first = text.front();
  if (!qovrin::isAsciiLetter(first) && first != '_' && first != '.') return FixupKind::expression;
  for (const char c : text.substr(1))
    if (!qovrin::isAsciiLetter(c) && !qovrin::isAsciiDigit(c) && !qovrin::isOneOf(c, "$._"))
      return FixupKind::expression;
  return FixupKind::symbol;
}

qovrin::Result<std::uint32_t> FixupStore::addOwnedTarget(std::uint32_t fragment, FixupTarget target, bool pc_relative,
                                                         std::uint32_t offset, std::uint16_t width) {
  if (width > std::numeric_limits<std::uint8_t>::max()) return qovrin::fail(qovrin::Error::InvalidFixupWidth);
  const bool has_addend = target.addend != 0;
  const bool long_text = target.text.size() >= Fixup::kLongText;
  const std::size_t front = (has_addend ? sizeof(std::int64_t) : 0) + (long_text ? sizeof(std::uint32_t) : 0);
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  if (fixups_.size() > kLimit || target.text.size() + front > kLimit - texts_.size())
    return qovrin::fail(qovrin::Error::TooManyFixups);
  if (!fixups_.empty() && fragment < fixups_.back().fragment) in_fragment_order_ = false;
  const auto text_start = appendText(target, long_text);
  fixups_.push_back(
      Fixup{.fragment = fragment,
            .offset = offset,
            .text_start = text_start,
            .short_text_size = long_text ? Fixup::kLongText : static_cast<std::uint16_t>(target.text.size()),
            .width = static_cast<std::uint8_t>(width),
            .kind = target.kind,
            .pc_relative = pc_relative,
            .has_addend = has_addend});
  return static_cast<std::uint32_t>(fixups_.size() - 1);
}

std::uint32_t FixupStore::appendText(const FixupTarget& target, bool long_text) {
  if (target.addend != 0) appendRaw(texts_, target.addend);
  if (long_text) appendRaw(texts_, static_cast<std::uint32_t>(target.text.size()));
  const auto start = static_cast<std::uint32_t>(texts_.size());
  texts_ += target.text;
  return start;
}

FixupTarget FixupStore::target(const Fixup& fixup) const noexcept {
  std::size_t front = fixup.text_start;
  std::size_t size = fixup.short_text_size;
  if (size == Fixup::kLongText) {
    front -= sizeof(std::uint32_t);
    size = readRaw<std::uint32_t>(texts_, front);
  }
  std::int64_t addend = 0;
  if (fixup.has_addend) {
    front -= sizeof(std::int64_t);
    addend = readRaw<std::int64_t>(texts_, front);
  }
  return {std::string_view(texts_).substr(fixup.text_start, size), fixup.kind, addend};
}

void FixupStore::dropFragment(std::uint32_t fragment) {
  dropRange(fragment, 0, std::numeric_limits<std::uint64_t>::max());
}

void FixupStore::dropRange(std::uint32_t fragment, std::uint32_t from, std::uint64_t to) {
  // Ordered by fragment, then by offset at instruction bounds.
  const auto before = [fragment, from](const Fixup& fixup) {
    return fixup.fragment < fragment || (fixup.fragment == fragment && fixup.offset < from);
  };
  const auto inside = [fragment, to](const Fixup& fixup) { return fixup.fragment == fragment && fixup.offset < to; };
  if (in_fragment_order_) {
    for (auto at = std::partition_point(fixups_.begin(), fixups_.end(), before); at != fixups_.end() && inside(*at);
         ++at)
      at->dropped = true;
    return;
  }
  if (by_fragment_.size() != fixups_.size()) {
    by_fragment_.resize(fixups_.size());
    std::iota(by_fragment_.begin(), by_fragment_.end(), std::uint32_t{0});
    std::ranges::stable_sort(by_fragment_, {}, [this](std::uint32_t index) { return fixups_[index].fragment; });
  }
  for (auto at =
           std::ranges::partition_point(by_fragment_, [&](std::uint32_t index) { return before(fixups_[index]); });
       at != by_fragment_.end() && inside(fixups_[*at]); ++at)
    fixups_[*at].dropped = true;
}

}  // namespace frontend::fixup
