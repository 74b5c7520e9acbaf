#include "frontend/ast.hpp"

#include <limits>

namespace frontend::ast {

const SourceLocation& Statement::location() const noexcept {
  return std::visit([](const auto& statement) -> const SourceLocation& { return statement.location; }, payload);
}

qovrin::Status checkRoomForStatement(const StatementList& list) noexcept {
  // Statements are addressed by 32-bit indexes further on.
  if (list.size() > std::numeric_limits<std::uint32_t>::max()) return qovrin::fail(qovrin::Error::TooManyStatements);
  return {};
}

}  // namespace frontend::ast
