#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/lower/root.hpp"
#include "lower_test_support.hpp"

namespace {

using lower_test::Case;
using lower_test::expectCases;
using lower_test::Files;

// A chain of files: file i includes file i + 1 on its second line.
Files chain(std::size_t length) {
  Files files;
  for (std::size_t index = 1; index < length; ++index) {
    // Appended piece by piece: g++ -O3 misreads chains of temporaries.
    const std::string number = std::to_string(index);
    std::string text;
    text.append("let v").append(number).append(" = ").append(number).append("\n");
    if (index + 1 < length) text.append("include(\"f").append(std::to_string(index + 1)).append(".qov\")\n");
    files.texts[std::string("f").append(number).append(".qov")] = text;
  }
  return files;
}

TEST(IncludeStack, CyclesImportsAndFailures) {
  Files files;
  files.texts["main.qov"] = "include(\"main.qov\")\n";
  files.texts["lib.qov"] = "entry:\n";
  files.texts["a.qov"] = "include(\"b.qov\")\n";
  files.texts["b.qov"] = "let from_b = 2\ninclude(\"a.qov\")\n";
  files.texts["bad.qov"] = "let ok = 1\n}\n";
  files.texts["scoped.qov"] = "let seen = outer + 1\n";
  files.texts["inner.qov"] = "let inner = 4\n";
  expectCases(
      {
          {"include(\"main.qov\")\n", {"main.qov:1:1: lowering failed: IncludeCycle"}},
          {"import(\"lib.qov\")\nimport(\"lib.qov\")\n", {}},
          {"include(\"lib.qov\")\ninclude(\"lib.qov\")\n", {"lib.qov:1:1: lowering failed: DuplicateSymbol"}},
          {"include(\"a.qov\")\n", {"b.qov:2:1: lowering failed: IncludeCycle"}},
          {"include(\"missing.qov\")\n", {"main.qov:1:1: lowering failed: IncludeNotAvailable"}},
          {"include(\"bad.qov\")\n",
           {"bad.qov:2:1: invalid Meta statement or unmatched block delimiter; block headers must end with '{' on "
            "the same line"}},
          {"include()\n", {"main.qov:1:1: lowering failed: InvalidApiArity"}},
          {"include(1)\n", {"main.qov:1:1: lowering failed: InvalidApiArgument"}},
          {"{\n  import(\"lib.qov\")\n}\n", {"main.qov:2:3: lowering failed: InvalidMetaBlock"}},
          {"if true {\n  let outer = 1\n  include(\"scoped.qov\")\n  const copy = seen\n  x = copy\n}\nlet x = 0\n",
           {"main.qov:5:3: lowering failed: InvalidValueDeclaration"}},
          {"let name = \"inner.qov\"\ninclude(name)\n", {}, {{"inner", 4}}},
      },
      files);
}

TEST(IncludeStack, DepthLimitCountsTheRoot) {
  // The root and 127 included files make 128 nested sources; the 128th may not include more.
  expectCases({{"include(\"f1.qov\")\n", {}, {{"v127", 127}}}}, chain(128));
  expectCases({{"include(\"f1.qov\")\n", {"f127.qov:2:1: lowering failed: IncludeTooDeep"}}}, chain(130));
}

TEST(IncludeStack, WithoutFileAccessIncludesFail) {
  Files files;
  files.available = false;
  files.texts["lib.qov"] = "entry:\n";
  expectCases({{"import(\"lib.qov\")\n", {"main.qov:1:1: lowering failed: IncludeNotAvailable"}}}, files);
}

TEST(IncludeStack, ImportsHoldAcrossLoweringCalls) {
  Files files;
  files.texts["lib.qov"] = "entry:\n";
  frontend::module::Module module(frontend::target::Target::x86(64));
  EXPECT_TRUE(lower_test::lower(module, "import(\"lib.qov\")\n", files).status);
  EXPECT_TRUE(lower_test::lower(module, "import(\"lib.qov\")\n", files).status);
  EXPECT_EQ(files.requested.size(), 2u);
  EXPECT_EQ(module.sources().size(), 3u);  // two roots, one import
}

TEST(SourceParsing, OneDiagnosticAtTheFailingLine) {
  expectCases({
      {"", {}},
      {"let a = 1\n\n}\nlet b = 2\n",
       {"main.qov:3:1: invalid Meta statement or unmatched block delimiter; block headers must end with '{' on the "
        "same line"}},
      {"let a = 1\n  db 1\n",
       {"main.qov:2:3: legacy assembler directive is not supported; use modern QOVRIN API syntax"}},
      {"let a = 1\nif a == 1 {\n  let b = 2\n", {"main.qov:2:1: lowering failed: UnexpectedEndOfMetaIf"}},
      {"union U {\n  a: u8 = 1\n}\n",
       {"main.qov:2:3: union fields cannot declare defaults; a union literal must select exactly one active field"}},
  });
}

// Sources are lowered while they are parsed, a batch of statements at a
// time; a parse failure anywhere is still the one thing reported, even far
// behind a statement whose lowering failed or warned.
TEST(SourceParsing, AParseFailureWinsOverWhatLoweringReported) {
  std::string filler;
  for (int index = 0; index < 1000; ++index) filler += "let v" + std::to_string(index) + " = 1\n";
  const std::string unmatched =
      "invalid Meta statement or unmatched block delimiter; block headers must end with '{' on the same line";
  expectCases({
      {"let a = b\n" + filler + "}\n", {"main.qov:1002:1: " + unmatched}},
      {filler + "let v5 = 2\nlet z = 1\n", {"main.qov:1001:1: lowering failed: DuplicateSymbol"}},
  });
  frontend::module::Module module(frontend::target::Target::x86(64));
  EXPECT_FALSE(lower_test::lower(module, "mov al, 300\n" + filler + "}\n").status);
  EXPECT_EQ(lower_test::allDiagnostics(module),
            (std::vector<std::string>{"main.qov:1002:1: error: " + unmatched,
                                      "main.qov:1002:1: note: this '}' closes no open block"}));
}

TEST(Statements, LaterKindsFailVisiblyAtTheirLine) {
  expectCases({
      {"{\n  macro m(a) {\n  }\n}\n", {"main.qov:2:3: lowering failed: InvalidMacro"}},
      {"{\n  fn f() {\n  }\n}\n", {"main.qov:2:3: lowering failed: InvalidMetaFunction"}},
      {"return 1\n", {"main.qov:1:1: lowering failed: InvalidMetaFunction"}},
  });
}

TEST(Statements, LabelsTakeTheCursor) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  ASSERT_TRUE(module.emitBytes(0, std::vector<std::uint8_t>{1, 2, 3}, {}));
  const auto lowered = lower_test::lower(module, "start:\nstart:\n");
  EXPECT_EQ(lowered.diagnostics, std::vector<std::string>{"main.qov:2:1: lowering failed: DuplicateSymbol"});
  const auto* label = module.findSymbol("start")->label();
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->offset, 3u);
  EXPECT_EQ(label->fragment_position, 1u);
  EXPECT_TRUE(label->anchored);
}

}  // namespace
