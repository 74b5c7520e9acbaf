#include "frontend/fixup.hpp"

#include <gtest/gtest.h>

#include "frontend/module.hpp"

namespace {

using frontend::fixup::classifyTargetText;
using frontend::fixup::FixupKind;
using frontend::fixup::FixupRangePolicy;
using frontend::fixup::FixupStore;

TEST(FixupStore, AppendsInOrderWithWrapPolicy) {
  FixupStore store;
  const frontend::SourceLocation place{{2, 10, 14}, 3};
  const auto first = store.addOwnedTarget(5, {"start", FixupKind::symbol, -4}, true, 1, 32, place);
  const auto second = store.addOwnedTarget(6, {"a + b", FixupKind::expression}, false, 2, 8, {});
  ASSERT_TRUE(first && second);
  EXPECT_EQ(*first, 0u);
  EXPECT_EQ(*second, 1u);
  ASSERT_EQ(store.size(), 2u);
  const auto& added = store[0];
  EXPECT_EQ(added.target.text, "start");
  EXPECT_EQ(added.target.addend, -4);
  EXPECT_EQ(added.fragment, 5u);
  EXPECT_EQ(added.offset, 1u);
  EXPECT_EQ(added.width, 32u);
  EXPECT_EQ(added.place, place);
  EXPECT_TRUE(added.pc_relative);
  EXPECT_EQ(added.range_policy, FixupRangePolicy::wrap);
  EXPECT_FALSE(store[1].pc_relative);
  EXPECT_EQ(store[1].target.kind, FixupKind::expression);

  frontend::module::Module module(frontend::target::Target::x86(64));
  EXPECT_TRUE(module.fixups().empty());
}

TEST(FixupStore, NamesAreSymbolsEverythingElseExpressions) {
  const std::pair<const char*, FixupKind> cases[] = {
      {"label", FixupKind::symbol},      {"_start", FixupKind::symbol}, {".local$1", FixupKind::symbol},
      {"a.b_c9", FixupKind::symbol},     {"", FixupKind::expression},   {"9lives", FixupKind::expression},
      {"$x", FixupKind::expression},     {"x + 4", FixupKind::expression},
      {"x-4", FixupKind::expression},    {"f(x)", FixupKind::expression},
  };
  for (const auto& [text, kind] : cases) EXPECT_EQ(classifyTargetText(text), kind) << text;
}

}  // namespace
