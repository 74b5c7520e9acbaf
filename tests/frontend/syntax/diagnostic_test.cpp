#include "frontend/syntax/diagnostic.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using frontend::SourceLocation;
using frontend::SourceSpan;
using frontend::diagnostic::DiagnosticStore;
using frontend::diagnostic::Severity;

SourceLocation at(std::uint32_t start, std::optional<std::uint32_t> expansion = std::nullopt) {
  return SourceLocation{SourceSpan{0u, start, start + 1}, expansion};
}

TEST(DiagnosticStore, WarningAloneHasNoNotesAndNoErrors) {
  DiagnosticStore store;
  store.add(Severity::warning, at(3), "careful");
  ASSERT_EQ(store.diagnostics().size(), 1u);
  EXPECT_EQ(store.diagnostics()[0].message, "careful");
  EXPECT_FALSE(store.hasErrors());
}

TEST(DiagnosticStore, TwoExpansionsDeepGivesFourNotesInnermostFirst) {
  DiagnosticStore store;
  const auto outer = store.beginExpansion(SourceSpan{0u, 10, 20}, at(1));
  ASSERT_EQ(outer, qovrin::Result<std::uint32_t>(0u));
  store.setCurrentExpansion(*outer);
  const auto inner = store.beginExpansion(SourceSpan{0u, 30, 40}, at(2, 0u));
  ASSERT_EQ(inner, qovrin::Result<std::uint32_t>(1u));
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
  EXPECT_EQ(all[1].location, (SourceLocation{SourceSpan{0u, 30, 40}, 0u}));
  EXPECT_EQ(all[2].location, at(2, 0u));
  EXPECT_EQ(all[3].location, (SourceLocation{SourceSpan{0u, 10, 20}, std::nullopt}));
  EXPECT_TRUE(store.hasErrors());
}

TEST(DiagnosticStore, CurrentExpansionOrAStaleIndexDecidesTheNotes) {
  DiagnosticStore store;
  store.add(Severity::error, at(9, 7u), "stale index ends the walk quietly");
  EXPECT_EQ(store.diagnostics().size(), 1u);
  ASSERT_TRUE(store.beginExpansion(SourceSpan{0u, 1, 2}, at(0)));
  store.setCurrentExpansion(0u);
  store.add(Severity::error, at(9), "plain location inside the current expansion");
  EXPECT_EQ(store.diagnostics().size(), 4u);
}

// The messages after the diagnostic itself, "I" for an invocation note, "D"
// for a definition note and the summary note's own text otherwise.
std::vector<std::string> noteShapes(const DiagnosticStore& store) {
  std::vector<std::string> shapes;
  for (std::size_t index = 1; index < store.diagnostics().size(); ++index) {
    const auto& message = store.diagnostics()[index].message;
    shapes.push_back(message == "macro invoked here" ? "I" : message == "macro defined here" ? "D" : message);
  }
  return shapes;
}

TEST(DiagnosticStore, RecursionKeepsEightAlikePairsAndTheOutermostCall) {
  struct Case {
    std::uint32_t nested;  // expansions invoked from the macro's own body
    std::size_t pairs;     // pairs printed in all
    std::string summary;   // empty: no summary note
  };
  const Case cases[] = {
      {7, 8, ""},
      {8, 9, ""},
      {9, 9, "... 1 more expansions of the same macro"},
      {127, 9, "... 119 more expansions of the same macro"},
  };
  for (const Case& tested : cases) {
    DiagnosticStore store;
    // The call from top level, then the same body line again and again.
    auto current = store.beginExpansion(SourceSpan{0u, 100, 101}, at(0));
    ASSERT_TRUE(current);
    for (std::uint32_t level = 0; level < tested.nested; ++level) {
      store.setCurrentExpansion(*current);
      current = store.beginExpansion(SourceSpan{0u, 20, 21}, at(0));
      ASSERT_TRUE(current);
    }
    store.add(Severity::error, at(20, *current), "too deep");
    std::vector<std::string> expected;
    for (std::size_t pair = 0; pair + 1 < tested.pairs; ++pair) expected.insert(expected.end(), {"I", "D"});
    if (!tested.summary.empty()) expected.push_back(tested.summary);
    expected.insert(expected.end(), {"I", "D"});
    EXPECT_EQ(noteShapes(store), expected) << tested.nested;
    const auto& last = store.diagnostics()[store.diagnostics().size() - 2];
    EXPECT_EQ(last.location.span.start, 100u) << "the outermost call is always shown";
    if (!tested.summary.empty()) {
      EXPECT_FALSE(store.diagnostics()[2 * 8 + 1].location.span.source) << "the summary has no place";
    }
  }
}

}  // namespace
