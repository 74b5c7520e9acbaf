#include "frontend/syntax/ast.hpp"

#include <limits>

#include "frontend/syntax/lexer.hpp"

namespace frontend::ast {

const SourceLocation& Statement::location() const noexcept {
  return std::visit([](const auto& statement) -> const SourceLocation& { return statement.location; }, payload);
}

std::string_view IsaTextStatement::apartTextFor(bool spirv) const noexcept {
  if (spirv) return lexer::spirvTextBeforeComment(text);
  return std::string_view(text).substr(0, other_size);
}

SourceLocation IsaTextStatement::apartLocationFor(bool spirv) const noexcept {
  SourceLocation cut = location;
  cut.span.end -= static_cast<std::uint32_t>(text.size() - apartTextFor(spirv).size());
  return cut;
}

qovrin::Status StructLiteralArgument::addField(std::string_view name, StructLiteralValue value) {
  constexpr std::size_t kMaxNames = std::numeric_limits<std::uint32_t>::max();
  if (name.size() > kMaxNames - names.size()) return qovrin::fail(qovrin::Error::SourceTooLarge);
  const auto offset = static_cast<std::uint32_t>(names.size());
  names += name;
  fields.push_back(StructLiteralField{offset, static_cast<std::uint32_t>(name.size()), std::move(value)});
  return {};
}

void ApiCallArguments::reserveList(std::size_t count) {
  spilled_.reserve(count);
  if (!single_) return;
  spilled_.push_back(std::move(*single_));
  single_.reset();
}

}  // namespace frontend::ast
