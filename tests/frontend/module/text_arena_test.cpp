#include "frontend/module/text_arena.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using frontend::text_arena::TextArena;

// Texts of every size, across many blocks, keep their characters and their
// addresses, also after the arena moves.
TEST(TextArena, KeptTextsStayWhereTheyAre) {
  TextArena arena;
  std::vector<std::string> wanted;
  std::vector<std::string_view> kept;
  for (std::size_t index = 0; index < 4000; ++index) {
    const std::size_t size = index % 97 == 0 ? 40000 : index % 23;
    wanted.push_back(std::string(size, static_cast<char>('a' + index % 26)));
    kept.push_back(arena.keep(wanted.back()));
  }
  const TextArena moved(std::move(arena));
  for (std::size_t index = 0; index < kept.size(); ++index) ASSERT_EQ(kept[index], wanted[index]) << index;
  // A text that has a block of its own leaves the shared block's tail in use.
  EXPECT_LT(moved.capacity(), 4000u * 23 + 42 * 40000 + 64 * 1024 * 2);
}

}  // namespace
