#include "frontend/module/meta_function.hpp"

#include <limits>
#include <type_traits>
#include <utility>

namespace frontend::meta_function {

using qovrin::Error;
using qovrin::fail;

namespace {

ast::StructLiteralArgument cloneLiteralArgument(const ast::StructLiteralArgument& literal) {
  ast::StructLiteralArgument copy;
  copy.type_name = literal.type_name;
  copy.names = literal.names;
  copy.fields.reserve(literal.fields.size());
  for (const ast::StructLiteralField& field : literal.fields)
    copy.fields.push_back(ast::StructLiteralField{field.name_offset, field.name_size, cloneStructLiteral(field.value)});
  return copy;
}

ast::ApiCallArgument cloneCallArgument(const ast::ApiCallArgument& argument) {
  if (const auto* expression = argument.expression()) return ast::ApiCallArgument{expr::clone(*expression)};
  if (const auto text = argument.string()) return ast::ApiCallArgument::ofString(*text);
  return ast::ApiCallArgument::ofStructLiteral(*argument.structLiteralText());
}

ast::ApiCallStatement cloneCall(const ast::ApiCallStatement& call) {
  ast::ApiCallStatement copy{call.call_text, call.name, {}, call.location};
  copy.arguments.reserve(call.arguments.size());
  for (const ast::ApiCallArgument& argument : call.arguments) copy.arguments.push_back(cloneCallArgument(argument));
  return copy;
}

ast::MetaForSource cloneForSource(const ast::MetaForSource& source) {
  ast::MetaForSource copy{expr::clone(source.first), std::nullopt};
  if (source.second) copy.second = expr::clone(*source.second);
  return copy;
}

// Each statement record, field by field where a member holds an expression
// tree (which has no copy constructor), by plain copy where none does.
ast::Statement cloneStatement(const ast::Statement& statement) {
  return std::visit(
      [](const auto& record) -> ast::Statement {
        using Record = std::decay_t<decltype(record)>;
        if constexpr (std::is_same_v<Record, ast::ValueDeclarationStatement>) {
          return ast::Statement(ast::ValueDeclarationStatement{record.name, record.type_name,
                                                               cloneStructLiteral(record.initializer),
                                                               record.location, record.is_mutable});
        } else if constexpr (std::is_same_v<Record, ast::AssignmentStatement>) {
          return ast::Statement(
              ast::AssignmentStatement{record.target, cloneStructLiteral(record.value), record.location});
        } else if constexpr (std::is_same_v<Record, ast::ApiCallStatement>) {
          return ast::Statement(cloneCall(record));
        } else if constexpr (std::is_same_v<Record, ast::MetaIfStatement>) {
          return ast::Statement(ast::MetaIfStatement{record.condition, cloneStatementSlice(record.then_statements),
                                                     cloneStatementSlice(record.else_statements), record.location});
        } else if constexpr (std::is_same_v<Record, ast::MetaWhileStatement>) {
          return ast::Statement(
              ast::MetaWhileStatement{record.condition, cloneStatementSlice(record.body), record.location});
        } else if constexpr (std::is_same_v<Record, ast::MetaForRangeStatement>) {
          return ast::Statement(ast::MetaForRangeStatement{record.variable, cloneForSource(record.source),
                                                           cloneStatementSlice(record.body), record.location});
        } else if constexpr (std::is_same_v<Record, ast::MetaFunctionStatement>) {
          return ast::Statement(clone(record));
        } else if constexpr (std::is_same_v<Record, ast::MacroStatement>) {
          return ast::Statement(ast::MacroStatement{clone(record)});
        } else if constexpr (std::is_same_v<Record, ast::ReturnStatement>) {
          return ast::Statement(ast::ReturnStatement{expr::clone(record.value), record.location});
        } else if constexpr (std::is_same_v<Record, ast::BlockStatement> ||
                             std::is_same_v<Record, ast::DeferStatement> ||
                             std::is_same_v<Record, ast::LateLayoutStatement>) {
          return ast::Statement(Record{cloneStatementSlice(record.body), record.location});
        } else {
          return ast::Statement(Record(record));
        }
      },
      statement.payload);
}

}  // namespace

ast::StructLiteralValue cloneStructLiteral(const ast::StructLiteralValue& value) {
  if (!ast::isStructLiteral(value)) return expr::clone(ast::expressionOf(value));
  return std::make_unique<ast::StructLiteralArgument>(cloneLiteralArgument(ast::structLiteralOf(value)));
}

ast::StatementList cloneStatementSlice(const ast::StatementList& statements) {
  ast::StatementList copy;
  copy.reserve(statements.size());
  for (const ast::Statement& statement : statements) copy.push_back(cloneStatement(statement));
  return copy;
}

ast::MetaFunctionStatement clone(const ast::MetaFunctionStatement& statement) {
  return ast::MetaFunctionStatement{statement.name,           statement.params,
                                    statement.return_type,    cloneStatementSlice(statement.body),
                                    statement.location,       statement.variadic};
}

qovrin::Status Store::define(const ast::MetaFunctionStatement& statement) {
  if (index_.contains(statement.name)) return fail(Error::DuplicateMetaFunction);
  if (functions_.size() >= std::numeric_limits<std::uint32_t>::max()) return fail(Error::OutOfMemory);
  functions_.push_back(clone(statement));
  try {
    index_.emplace(statement.name, static_cast<std::uint32_t>(functions_.size() - 1));
  } catch (...) {
    functions_.pop_back();
    throw;
  }
  return {};
}

std::optional<std::uint32_t> Store::find(std::string_view name) const noexcept {
  // Every call statement asks, and most programs define no function.
  if (index_.empty()) return std::nullopt;
  const auto found = index_.find(name);
  if (found == index_.end()) return std::nullopt;
  return found->second;
}

}  // namespace frontend::meta_function
