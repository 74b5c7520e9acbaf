#include "frontend/encode/fixup.hpp"

#include <algorithm>
#include <limits>
#include <numeric>

#include "common/ascii.hpp"

namespace frontend::fixup {

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
  constexpr std::size_t kLimit = std::numeric_limits<std::uint32_t>::max();
  if (fixups_.size() > kLimit || target.text.size() > kLimit - texts_.size())
    return qovrin::fail(qovrin::Error::TooManyFixups);
  if (!fixups_.empty() && fragment < fixups_.back().fragment) in_fragment_order_ = false;
  const auto text_start = static_cast<std::uint32_t>(texts_.size());
  texts_ += target.text;
  fixups_.push_back(Fixup{target.addend, text_start, static_cast<std::uint32_t>(target.text.size()), fragment, offset,
                          width, target.kind, pc_relative, FixupRangePolicy::wrap, false});
  return static_cast<std::uint32_t>(fixups_.size() - 1);
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

void FixupStore::moveNewest(std::uint32_t from, std::uint32_t to, std::uint32_t shift) noexcept {
  auto at = fixups_.rbegin();
  for (; at != fixups_.rend() && at->fragment == from; ++at) {
    at->fragment = to;
    at->offset += shift;
  }
  if (at == fixups_.rbegin()) return;
  if (at != fixups_.rend() && at->fragment > to) in_fragment_order_ = false;
  // The order by fragment may have changed under it.
  by_fragment_.clear();
}

}  // namespace frontend::fixup
