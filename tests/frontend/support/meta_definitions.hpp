#pragma once
// Functions and macros defined as lowering defines them, for tests that ask
// about them without lowering a program.

#include <gtest/gtest.h>

#include <string_view>
#include <variant>

#include "frontend/lower/context.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/parser.hpp"

namespace frontend::test_support {

// Value functions go to the module, statement functions and macros to the
// context.
inline void defineAll(module::Module& module, lower::context::LowerContext& state, std::string_view text) {
  parser::Parser parser(text);
  auto statements = parser.parseSource();
  ASSERT_TRUE(statements);
  for (const ast::Statement& statement : *statements) {
    if (const auto* macro = std::get_if<ast::MacroStatement>(&statement.payload)) {
      ASSERT_TRUE(state.macros.add(*macro));
    } else {
      const auto& function = std::get<ast::MetaFunctionStatement>(statement.payload);
      ASSERT_TRUE(function.return_type ? module.metaFunctions().define(function) : state.functions.define(function));
    }
  }
}

}  // namespace frontend::test_support
