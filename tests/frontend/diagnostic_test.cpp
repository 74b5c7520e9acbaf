#include "frontend/diagnostic.hpp"

#include <gtest/gtest.h>

namespace {

using frontend::SourceLocation;
using frontend::SourceSpan;
using frontend::diagnostic::DiagnosticStore;
using frontend::diagnostic::Severity;

SourceLocation at(std::uint32_t start, std::optional<std::uint32_t> expansion = std::nullopt) {
  return SourceLocation{SourceSpan{0u, start, start + 1}, expansion};
}

TEST(DiagnosticStore, PlainDiagnosticHasNoNotes) {
  DiagnosticStore store;
  store.add(Severity::warning, at(3), "careful");
  ASSERT_EQ(store.diagnostics().size(), 1u);
  EXPECT_EQ(store.diagnostics()[0].message, "careful");
  EXPECT_EQ(store.diagnostics()[0].severity, Severity::warning);
  EXPECT_FALSE(store.hasErrors());
}

TEST(DiagnosticStore, TwoExpansionsDeepGivesFourNotesInnermostFirst) {
  DiagnosticStore store;
  const auto outer = store.beginExpansion(SourceSpan{0u, 10, 20}, at(1));
  ASSERT_TRUE(outer);
  EXPECT_EQ(*outer, 0u);
  store.setCurrentExpansion(*outer);
  const auto inner = store.beginExpansion(SourceSpan{0u, 30, 40}, at(2, 0u));
  ASSERT_TRUE(inner);
  EXPECT_EQ(*inner, 1u);
  EXPECT_EQ(store.expansions()[1].parent, std::optional<std::uint32_t>(0u));

  store.add(Severity::error, at(50, *inner), "bad operand");
  const auto& all = store.diagnostics();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].severity, Severity::error);
  const char* texts[] = {"macro invoked here", "macro defined here", "macro invoked here", "macro defined here"};
  for (std::size_t index = 1; index < 5; ++index) {
    EXPECT_EQ(all[index].message, texts[index - 1]);
    EXPECT_EQ(all[index].severity, Severity::note);
  }
  // The inner invocation note sits in the context of the outer expansion.
  EXPECT_EQ(all[1].location.span.start, 30u);
  EXPECT_EQ(all[1].location.expansion, std::optional<std::uint32_t>(0u));
  EXPECT_EQ(all[2].location, at(2, 0u));
  EXPECT_EQ(all[3].location.span.start, 10u);
  EXPECT_FALSE(all[3].location.expansion.has_value());
  EXPECT_TRUE(store.hasErrors());
}

TEST(DiagnosticStore, CurrentExpansionSuppliesNotesForPlainLocations) {
  DiagnosticStore store;
  ASSERT_TRUE(store.beginExpansion(SourceSpan{0u, 1, 2}, at(0)));
  store.setCurrentExpansion(0u);
  store.add(Severity::error, at(9), "x");
  EXPECT_EQ(store.diagnostics().size(), 3u);
}

TEST(DiagnosticStore, StaleExpansionIndexEndsTheWalkQuietly) {
  DiagnosticStore store;
  store.add(Severity::error, at(9, 7u), "x");
  EXPECT_EQ(store.diagnostics().size(), 1u);
}

}  // namespace
