// The index finds each name at the position it was added with, across
// growth, and answers nothing for names it never saw, including names whose
// hash bits land in an occupied run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/module/name_index.hpp"

namespace {

using frontend::name_index::NameIndex;

TEST(NameIndex, FindsEveryAddedNameAcrossGrowth) {
  std::vector<std::string> names;
  NameIndex index;
  const auto name_of = [&](std::uint32_t position) -> std::string_view { return names[position]; };
  EXPECT_FALSE(index.find("L0", name_of));
  for (std::uint32_t position = 0; position < 5000; ++position) {
    names.push_back("L" + std::to_string(position));
    index.reserveOne(name_of);
    index.add(names.back(), position);
    // The newest name and one added long before are both found after every add.
    ASSERT_EQ(index.find(names.back(), name_of), position);
    ASSERT_EQ(index.find(names[position / 2], name_of), position / 2);
  }
  for (const std::string absent : {"L5000", "L-1", "", "l0", "L0 ", "L00"})
    EXPECT_FALSE(index.find(absent, name_of)) << absent;
}

}  // namespace
