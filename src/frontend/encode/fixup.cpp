#include "frontend/encode/fixup.hpp"

#include <limits>

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

qovrin::Result<std::uint32_t> FixupStore::addOwnedTarget(std::uint32_t fragment, FixupTarget target,
                                                         bool pc_relative, std::uint32_t offset,
                                                         std::uint16_t width, const SourceLocation& place) {
  if (fixups_.size() > std::numeric_limits<std::uint32_t>::max()) return qovrin::fail(qovrin::Error::TooManyFixups);
  target.text = texts_.keep(target.text);
  fixups_.push_back(Fixup{target, fragment, offset, PackedLocation(place), width, pc_relative, FixupRangePolicy::wrap});
  return static_cast<std::uint32_t>(fixups_.size() - 1);
}

}  // namespace frontend::fixup
