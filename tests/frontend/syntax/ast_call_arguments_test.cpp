#include <gtest/gtest.h>

#include <cstddef>
#include <utility>

#include "frontend/syntax/ast.hpp"

namespace {

namespace ast = frontend::ast;
namespace expr = frontend::expr;

// One argument stays in the record, more go to a list: every way of getting
// there keeps the arguments in order, also across a move of the record.
TEST(ApiCallArguments, KeepOrderFromOneToManyWithOrWithoutRoomReserved) {
  for (std::size_t count = 0; count <= 4; ++count) {
    for (const std::size_t reserved : {std::size_t{0}, std::size_t{1}, count}) {
      SCOPED_TRACE(testing::Message() << count << " arguments, room for " << reserved);
      ast::ApiCallArguments arguments;
      arguments.reserve(reserved);
      for (std::size_t index = 0; index < count; ++index) {
        if (index == 1) arguments.reserve(reserved);
        arguments.emplace_back(expr::Node::integerLiteral(10 + index));
      }
      const ast::ApiCallStatement call{"f()", "f", std::move(arguments), {}};
      ASSERT_EQ(call.arguments.size(), count);
      EXPECT_EQ(call.arguments.empty(), count == 0);
      std::size_t index = 0;
      for (const ast::ApiCallArgument& argument : call.arguments) {
        ASSERT_NE(argument.expression(), nullptr);
        EXPECT_EQ(argument.expression()->integer(), 10 + index);
        EXPECT_EQ(&argument, &call.arguments[index]);
        ++index;
      }
    }
  }
}

}  // namespace
