#include "frontend/module/section.hpp"

#include <limits>

namespace frontend::section {

using qovrin::Error;

qovrin::Result<std::uint32_t> SectionStore::addWithKind(std::string_view name, SectionKind kind) {
  // The new index must itself fit in 32 bits.
  if (sections_.size() > std::numeric_limits<std::uint32_t>::max()) return qovrin::fail(Error::TooManySections);
  Section added;
  added.name = name;
  added.kind = kind;
  sections_.push_back(std::move(added));
  return static_cast<std::uint32_t>(sections_.size() - 1);
}

qovrin::Status SectionStore::appendFragment(std::uint32_t section, std::uint32_t fragment) {
  if (!contains(section)) return qovrin::fail(Error::InvalidSection);
  sections_[section].fragments.push_back(fragment);
  return {};
}

qovrin::Status SectionStore::reserveFragmentSlot(std::uint32_t section) {
  if (!contains(section)) return qovrin::fail(Error::InvalidSection);
  auto& fragments = sections_[section].fragments;
  if (fragments.size() == fragments.capacity()) fragments.reserve(fragments.size() < 4 ? 8 : fragments.size() * 2);
  return {};
}

}  // namespace frontend::section
