#include "frontend/lower/macro.hpp"

#include <limits>

#include "frontend/module/meta_function.hpp"

namespace frontend::macro {

using qovrin::Error;
using qovrin::fail;

qovrin::Status Store::add(const ast::MetaFunctionStatement& statement) {
  const auto existing = by_name_.find(statement.name);
  if (existing != by_name_.end()) {
    for (const std::uint32_t index : existing->second) {
      const MacroEntry& entry = entries_[index];
      if (entry.variadic != statement.variadic) continue;
      if (statement.variadic || entry.statement.params.size() == statement.params.size())
        return fail(Error::DuplicateMacro);
    }
  }
  if (entries_.size() >= std::numeric_limits<std::uint32_t>::max()) return fail(Error::OutOfMemory);
  entries_.push_back(MacroEntry{meta_function::clone(statement), statement.variadic});
  try {
    by_name_[statement.name].push_back(static_cast<std::uint32_t>(entries_.size() - 1));
  } catch (...) {
    entries_.pop_back();
    throw;
  }
  return {};
}

const MacroEntry* Store::select(std::string_view name, std::size_t operand_count) const noexcept {
  const auto found = by_name_.find(name);
  if (found == by_name_.end()) return nullptr;
  const MacroEntry* variadic = nullptr;
  for (const std::uint32_t index : found->second) {
    const MacroEntry& entry = entries_[index];
    const std::size_t params = entry.statement.params.size();
    if (!entry.variadic && params == operand_count) return &entry;
    if (entry.variadic && operand_count + 1 >= params) variadic = &entry;
  }
  return variadic;
}

}  // namespace frontend::macro
