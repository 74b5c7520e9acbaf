#include "frontend/lower/context.hpp"

#include <limits>
#include <ranges>
#include <utility>

namespace frontend::lower::context {

using qovrin::Error;
using qovrin::fail;
using value::Value;

MetaLocal* MetaScope::find(std::string_view name) {
  return const_cast<MetaLocal*>(std::as_const(*this).find(name));
}

const MetaLocal* MetaScope::find(std::string_view name) const {
  if (!index_.empty()) {
    const auto found = index_.find(name);
    if (found != index_.end()) return &locals_[found->second];
    return view_ ? readModuleValue(name) : nullptr;
  }
  // Names are unique within a scope, so the direction of the scan cannot change the match.
  for (const MetaLocal& local : locals_)
    if (local.name == name) return &local;
  return view_ ? readModuleValue(name) : nullptr;
}

void MetaScope::viewModuleValues(const module::Module& module, std::shared_ptr<const value::ModuleSnapshot> snapshot) {
  view_ = std::make_unique<ModuleView>(ModuleView{&module, std::move(snapshot), {}});
}

const MetaLocal* MetaScope::readModuleValue(std::string_view name) const {
  if (const auto found = view_->read.find(name); found != view_->read.end()) return &found->second;
  const Value* seen = view_->module->valueAt(name, *view_->snapshot);
  if (seen == nullptr) return nullptr;
  const auto [kept, added] = view_->read.try_emplace(std::string(name), MetaLocal{std::string(name), *seen, false});
  return &kept->second;
}

qovrin::Status MetaScope::define(std::string_view name, Value&& value, bool is_mutable, LocalKind kind) {
  if (find(name) != nullptr) return fail(Error::DuplicateSymbol);
  if (locals_.size() >= std::numeric_limits<std::uint32_t>::max()) return fail(Error::OutOfMemory);
  const auto position = static_cast<std::uint32_t>(locals_.size());
  if (locals_.size() + 1 >= kIndexedFrom) {
    if (index_.empty())
      for (std::uint32_t earlier = 0; earlier < position; ++earlier) index_.emplace(locals_[earlier].name, earlier);
    index_.emplace(name, position);
  }
  locals_.push_back(MetaLocal{std::string(name), std::move(value), is_mutable, kind});
  return {};
}

LowerContext::LowerContext(const contracts::PathOptions& options)
    : paths{options.resolve_file_include,
            options.list_file_include_directory,
            options.is_file_include_directory,
            options.include_folders,
            options.unreadable_include,
            options.files_available,
            std::nullopt,
            options.copies_every_value} {}

ScopeGuard::ScopeGuard(LowerContext& context) : context_(context) { context_.scopes.emplace_back(); }

ScopeGuard::~ScopeGuard() { discardLastScope(context_); }

qovrin::Status defineLocalValue(LowerContext& context, std::string_view name, Value&& value, bool is_mutable,
                                LocalKind kind) {
  if (context.scopes.empty()) return fail(Error::InvalidMetaBlock);
  return context.scopes.back().define(name, std::move(value), is_mutable, kind);
}

MetaLocal* lookupLocal(LowerContext& context, std::string_view name) {
  for (MetaScope& scope : std::views::reverse(context.scopes))
    if (MetaLocal* local = scope.find(name)) return local;
  return nullptr;
}

qovrin::Result<bool> setLocalValue(LowerContext& context, std::string_view name, Value&& value) {
  MetaLocal* local = lookupLocal(context, name);
  if (local == nullptr) return false;
  if (!local->is_mutable) return fail(Error::InvalidValueDeclaration);
  local->value = std::move(value);
  return true;
}

Value* lookupLocalValue(LowerContext& context, std::string_view name) {
  MetaLocal* local = lookupLocal(context, name);
  return local == nullptr ? nullptr : &local->value;
}

MutableLocal lookupMutableLocalValue(LowerContext& context, std::string_view name) {
  MetaLocal* local = lookupLocal(context, name);
  if (local == nullptr) return {};
  if (!local->is_mutable) return {nullptr, MutableLookup::immutable};
  return {&local->value, MutableLookup::found};
}

qovrin::Result<std::optional<Value>> resolveLocalValue(LowerContext& context, std::string_view name) {
  const Value* found = lookupLocalValue(context, name);
  if (found == nullptr) return std::optional<Value>();
  return std::optional<Value>(*found);
}

void discardLastScope(LowerContext& context) noexcept {
  if (!context.scopes.empty()) context.scopes.pop_back();
}

}  // namespace frontend::lower::context
