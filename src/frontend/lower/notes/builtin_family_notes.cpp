#include "frontend/lower/notes/builtin_family_notes.hpp"

#include <span>
#include <vector>

#include "frontend/lower/reading.hpp"
#include "frontend/meta_std/meta_data.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "frontend/syntax/expr_builtin_names.hpp"

namespace frontend::lower::builtin_family_notes {

namespace {

// Appends the names of `names` that start with `family` (which ends in '.').
void collect(std::vector<std::string_view>& members, std::span<const std::string_view> names, std::string_view family) {
  for (const std::string_view name : names)
    if (name.starts_with(family)) members.push_back(name);
}

std::string listed(const std::vector<std::string_view>& names) {
  std::string text;
  for (std::size_t index = 0; index < names.size(); ++index) {
    if (index > 0) text += index + 1 == names.size() ? " and " : ", ";
    text += names[index];
  }
  return text;
}

}  // namespace

std::string familyMembers(std::string_view dotted_name) {
  const std::size_t dot = dotted_name.find('.');
  if (dot == std::string_view::npos) return {};
  const std::string_view family = dotted_name.substr(0, dot + 1);
  std::vector<std::string_view> members;
  collect(members, meta_std::kBuiltinNames, family);
  collect(members, meta_data::kBuiltinNames, family);
  for (const expr::EvaluatorBuiltin& builtin : expr::kEvaluatorBuiltins)
    if (builtin.name.starts_with(family)) members.push_back(builtin.name);
  if (members.empty()) return {};
  std::string text = "; the " + std::string(family.substr(0, dot)) + " builtins are " + listed(members);
  std::vector<std::string_view> statements;
  collect(statements, collection_mutation::kMutationNames, family);
  if (!statements.empty())
    text += ", and " + listed(statements) + (statements.size() == 1 ? " changes" : " change") +
            " a 'let' collection in place as a statement";
  return text;
}

std::string callFamilyMembers(std::string_view dotted_name, std::span<const std::string_view> calls) {
  const std::size_t dot = dotted_name.find('.');
  if (dot == std::string_view::npos) return {};
  std::vector<std::string_view> members;
  collect(members, calls, dotted_name.substr(0, dot + 1));
  if (members.empty()) return familyMembers(dotted_name);
  return "; the " + std::string(dotted_name.substr(0, dot)) + " calls are " + listed(members);
}

}  // namespace frontend::lower::builtin_family_notes
