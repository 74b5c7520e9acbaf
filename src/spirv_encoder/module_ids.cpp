#include "spirv_encoder/module_ids.hpp"

#include <algorithm>

namespace spirv_encoder::module_ids {

std::uint32_t& IdLedger::entry(std::uint32_t id) {
  if (id >= dense_limit_) return sparse_.try_emplace(id, kUnseen).first->second;
  if (id >= dense_.size())
    dense_.resize(std::min(dense_limit_, std::max<std::size_t>(std::size_t{id} + 1, dense_.size() * 2)), kUnseen);
  return dense_[id];
}

std::uint32_t IdLedger::find(std::uint32_t id) const {
  if (id < dense_.size()) return dense_[id];
  const auto found = sparse_.find(id);
  return found == sparse_.end() ? kUnseen : found->second;
}

std::optional<std::uint32_t> IdLedger::defineElsewhere(std::uint32_t id, std::uint32_t text) {
  std::uint32_t& state = entry(id);
  if (state != kUnseen && state != kUsedOnly) return state;
  state = text;
  return std::nullopt;
}

void IdLedger::useElsewhere(std::uint32_t id, LinePlace place) {
  std::uint32_t& state = entry(id);
  if (state != kUnseen) return;
  state = kUsedOnly;
  early_uses_.push_back({id, place});
}

std::optional<UndefinedUse> IdLedger::firstUndefined() const {
  for (const UndefinedUse& early : early_uses_)
    if (find(early.id) == kUsedOnly) return early;
  return std::nullopt;
}

}  // namespace spirv_encoder::module_ids
