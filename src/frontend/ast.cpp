#include "frontend/ast.hpp"

#include <limits>

namespace frontend::ast {

const SourceLocation& Statement::location() const noexcept {
  return std::visit([](const auto& statement) -> const SourceLocation& { return statement.location; }, payload);
}

qovrin::Status append(StatementList& list, Statement statement) {
  // Statements are addressed by 32-bit indexes further on.
  if (list.size() > std::numeric_limits<std::uint32_t>::max()) return qovrin::fail(qovrin::Error::TooManyStatements);
  list.push_back(std::move(statement));
  return {};
}

}  // namespace frontend::ast
