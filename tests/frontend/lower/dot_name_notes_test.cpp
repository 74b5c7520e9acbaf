#include "frontend/lower/notes/dot_name_notes.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace frontend::lower::dot_name_notes {
namespace {

// The name is found only where it stops the reading, never inside a name,
// a number or a text that reads.
TEST(DotNameNotesTest, FindsTheDotNameThatStopsAnExpression) {
  const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
      {".end - .start", ".end"},
      {"1 + .a", ".a"},
      {"(2 * ._x$1) + 1", "._x$1"},
      {"4 *  \t..b", "..b"},
      {"a.b + 1", std::nullopt},
      {"1 + .5", std::nullopt},
      {"1 +", std::nullopt},
      {"end - start", std::nullopt},
      {"x .a", std::nullopt},
  };
  for (const auto& [expression, name] : cases)
    EXPECT_EQ(dotNameStoppingExpression(expression), name) << expression;
}

}  // namespace
}  // namespace frontend::lower::dot_name_notes
