#include "main/diagnostics_output.hpp"

#include <gtest/gtest.h>

namespace {

using qovrin::main::lineColumnAt;

TEST(DiagnosticsOutput, LineAndColumnCountEveryKindOfLineEnd) {
  struct Case {
    std::string_view text;
    std::uint32_t offset, line, column;
  };
  const Case cases[] = {
      {"abc", 0, 1, 1},       {"a\r\nb", 3, 2, 1},   {"a\rb", 2, 2, 1},     {"a\n\rb", 3, 3, 1},
      {"ab\ncd", 99, 2, 3},   {"a\r\nb", 2, 2, 1},   {"\tx", 1, 1, 2},     {"a\r", 2, 2, 1},
  };
  for (const Case& c : cases) {
    const auto position = lineColumnAt(c.text, c.offset);
    EXPECT_EQ(position.line, c.line) << c.offset;
    EXPECT_EQ(position.column, c.column) << c.offset;
  }
}

TEST(DiagnosticsOutput, PrintsOnlyNewDiagnosticsAndRefusesUnknownSources) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  ASSERT_TRUE(module.addSource("demo.qov", "db(1)\r\n  warn(1)\n").has_value());
  auto& store = module.diagnostics();
  using frontend::diagnostic::Severity;
  store.addSingle(Severity::warning, {{0u, 9, 16}, std::nullopt}, "careful");
  store.addSingle(Severity::note, {}, "no place");

  std::string out;
  std::uint64_t printed = 0;
  ASSERT_TRUE(qovrin::main::appendNewDiagnostics(out, module, printed).has_value());
  EXPECT_EQ(out, "demo.qov:2:3: warning: careful\nnote: no place\n");
  EXPECT_EQ(printed, 2u);
  const std::string first = out;
  ASSERT_TRUE(qovrin::main::appendNewDiagnostics(out, module, printed).has_value());
  EXPECT_EQ(out, first);

  store.addSingle(Severity::error, {{1u, 0, 0}, std::nullopt}, "elsewhere");
  const auto bad = qovrin::main::appendNewDiagnostics(out, module, printed);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error(), qovrin::Error::InvalidSource);
  EXPECT_EQ(printed, 2u);
}

}  // namespace
