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
  qovrin::main::PrintedDiagnostics printed;
  ASSERT_TRUE(qovrin::main::appendNewDiagnostics(out, module, printed).has_value());
  EXPECT_EQ(out, "demo.qov:2:3: warning: careful\nnote: no place\n");
  EXPECT_EQ(printed.count, 2u);
  const std::string first = out;
  ASSERT_TRUE(qovrin::main::appendNewDiagnostics(out, module, printed).has_value());
  EXPECT_EQ(out, first);

  store.addSingle(Severity::error, {{1u, 0, 0}, std::nullopt}, "elsewhere");
  const auto bad = qovrin::main::appendNewDiagnostics(out, module, printed);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error(), qovrin::Error::InvalidSource);
  EXPECT_EQ(printed.count, 2u);
}

// A warning past its share goes with the notes that explain it, not with a
// note of its own that follows it; the count carries from one batch to the
// next and is told once.
TEST(DiagnosticsOutput, RepeatedWarningsArePrintedAHundredTimesThenCounted) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  auto& store = module.diagnostics();
  using frontend::diagnostic::Note;
  using frontend::diagnostic::Severity;
  const Note because[] = {{"because", std::nullopt}};
  const auto batch = [&](int count) {
    for (int round = 0; round < count; ++round) {
      store.addWithNotes(Severity::warning, {}, "same", because);
      store.addSingle(Severity::note, {}, "printed");
    }
  };
  qovrin::main::PrintedDiagnostics printed;
  std::string out;
  batch(60);
  ASSERT_TRUE(qovrin::main::appendNewDiagnostics(out, module, printed).has_value());
  batch(60);
  store.add(Severity::warning, {}, "other");
  ASSERT_TRUE(qovrin::main::appendNewDiagnostics(out, module, printed).has_value());
  qovrin::main::appendLeftOutWarnings(out, printed.warnings);
  const auto lines = [&](std::string_view line) {
    std::size_t found = 0;
    for (std::size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) ++found;
    return found;
  };
  EXPECT_EQ(lines("warning: same\n"), 100u);
  EXPECT_EQ(lines("note: because\n"), 100u);
  EXPECT_EQ(lines("note: printed\n"), 120u);
  EXPECT_EQ(lines("warning: other\n"), 1u);
  EXPECT_TRUE(out.ends_with("warning: other\nnote: ... 20 more warnings \"same\" left out; each warning is shown 100 "
                            "times at most\n"))
      << out.substr(out.size() - 200);
  const std::string told = out;
  qovrin::main::appendLeftOutWarnings(out, printed.warnings);
  EXPECT_EQ(out, told);
}

}  // namespace
