#pragma once
// Stores of `fn` definitions and the deep copy that puts a definition into
// one. A stored definition owns all of its statements, so it outlives the
// source that was parsed for it (an included file is released once lowered).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <deque>

#include "common/error.hpp"
#include "frontend/syntax/ast.hpp"

namespace frontend::meta_function {

// Definitions in definition order, with unique names.
class Store {
 public:
  // DuplicateMetaFunction when the name is already defined here; otherwise
  // keeps a deep copy of the definition.
  qovrin::Status define(const ast::MetaFunctionStatement& statement);

  // Index of the definition with that name.
  std::optional<std::uint32_t> find(std::string_view name) const noexcept;
  bool empty() const noexcept { return functions_.empty(); }

  const ast::MetaFunctionStatement& at(std::uint32_t index) const noexcept { return functions_[index]; }
  std::size_t size() const noexcept { return functions_.size(); }

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
  };

  std::deque<ast::MetaFunctionStatement> functions_;  // stable while a body runs
  std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> index_;
};

// Deep copies. Parsed bodies are bounded in depth, which bounds the recursion.
ast::MetaFunctionStatement clone(const ast::MetaFunctionStatement& statement);
ast::StatementList cloneStatementSlice(const ast::StatementList& statements);
ast::StructLiteralValue cloneStructLiteral(const ast::StructLiteralValue& value);

}  // namespace frontend::meta_function
