#pragma once
// The frozen bodies of defer and late_layout blocks. Lowering keeps their
// statements as owned source text, independent of the meta scopes that are
// gone by the time assembly runs them; the module holds them until it is
// released.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "frontend/syntax/source_location.hpp"
#include "frontend/values/value.hpp"

namespace frontend::output::contracts {

struct DeferredStatement;
using DeferredStatementList = std::vector<DeferredStatement>;

// name(arg, ...), parsed again when the finalizer runs.
struct DeferredApiCall {
  std::string text;
  SourceLocation location;
};

struct MetaIf {
  std::string condition;
  DeferredStatementList then_statements;
  DeferredStatementList else_statements;  // an "else if" is one nested MetaIf
  SourceLocation location;
};

struct ValueDeclaration {
  std::string name;
  std::optional<std::string> type_name;
  std::string initializer;
  SourceLocation location;
  bool is_mutable = false;  // let; const is immutable
};

struct Assignment {
  std::string target;
  std::string value;
  SourceLocation location;
};

struct MetaWhile {
  std::string condition;
  DeferredStatementList body;
  SourceLocation location;
};

struct LoopBreak {
  SourceLocation location;
};

struct LoopContinue {
  SourceLocation location;
};

struct DeferredStatement {
  std::variant<DeferredApiCall, MetaIf, ValueDeclaration, Assignment, MetaWhile, LoopBreak, LoopContinue> payload;
};

// A local whose value has no literal form, read by the block under its name.
struct DeferredCapture {
  std::string name;
  value::Value value;
};

struct DeferredBlock {
  DeferredStatementList statements;
  // Present only for blocks frozen inside a meta scope.
  std::optional<std::vector<DeferredCapture>> captures;
  SourceLocation location;  // of the defer statement
};

struct LateLayoutStatement;
using LateLayoutStatementList = std::vector<LateLayoutStatement>;

struct LateLayoutCall {
  std::string text;
  SourceLocation location;
};

// Decided when the block runs; only blocks copied at top level keep one.
struct LateLayoutConditional {
  std::string condition;
  LateLayoutStatementList then_statements;
  LateLayoutStatementList else_statements;
  SourceLocation location;
};

struct LateLayoutStatement {
  std::variant<LateLayoutCall, LateLayoutConditional> payload;
};

struct LateLayoutBlock {
  LateLayoutStatementList statements;
  SourceLocation location;  // of the late_layout statement
};

}  // namespace frontend::output::contracts
