#include <gtest/gtest.h>

#include "frontend/lower/root.hpp"
#include "frontend/value.hpp"
#include "lower_test_support.hpp"

namespace {

using lower_test::expectCases;

constexpr std::string_view kTypes =
    "struct P {\n  x: u8\n  y: i8 = -1\n  z: u16 = 7\n}\n"
    "union U {\n  a: u8\n  b: u32\n}\n"
    "struct Outer {\n  p: P\n  n: u8\n}\n";

std::string withTypes(std::string_view body) {
  std::string source(kTypes);
  source += body;
  return source;
}

// Each case's source follows the type declarations, which take 13 lines.
TEST(StructLiterals, FieldsDefaultsAndRanges) {
  expectCases({
      {withTypes("let p = P{ z: 2, x: 1 }\nlet x = p.x\nlet y = p.y\nlet z = p.z\n"),
       {},
       {{"x", 1}, {"y", ~std::uint64_t{0}}, {"z", 2}}},
      {withTypes("let p = P{ y: 1 }\n"), {"main.qov:14:1: lowering failed: MissingStructFieldValue"}},
      {withTypes("let p = P{ x: 1, x: 2 }\n"), {"main.qov:14:1: lowering failed: DuplicateFieldName"}},
      {withTypes("let p = P{ x: 1, w: 2 }\n"), {"main.qov:14:1: lowering failed: UnknownField"}},
      {withTypes("let p = P{ x: 256 }\n"), {"main.qov:14:1: lowering failed: InvalidApiInteger"}},
      {withTypes("let p = P{ x: 1, y: -128 }\nlet y = p.y\n"), {}, {{"y", std::uint64_t{0} - 128}}},
      {withTypes("let p = P{ x: 1, y: 128 }\n"), {"main.qov:14:1: lowering failed: InvalidApiInteger"}},
      {withTypes("let p = P{ x: P{ x: 1 } }\n"), {"main.qov:14:1: lowering failed: InvalidValueDeclaration"}},
      {withTypes("let u = U{ b: 5 }\nlet b = u.b\n"), {}, {{"b", 5}}},
      {withTypes("let u = U{ a: 1, b: 2 }\n"), {"main.qov:14:1: lowering failed: InvalidValueDeclaration"}},
      {withTypes("let u = U{ }\n"), {"main.qov:14:1: lowering failed: InvalidValueDeclaration"}},
      {withTypes("let o = Outer{ p: P{ x: 3 }, n: 4 }\nlet x = o.p.x\nlet z = o.p.z\n"), {}, {{"x", 3}, {"z", 7}}},
      {withTypes("let o = Outer{ p: U{ a: 3 }, n: 4 }\n"), {"main.qov:14:1: lowering failed: InvalidValueDeclaration"}},
      {withTypes("let o = Outer{ n: 4 }\n"), {"main.qov:14:1: lowering failed: MissingStructFieldValue"}},
      {withTypes("let q = Q{ x: 1 }\n"), {"main.qov:14:1: lowering failed: UnknownTypeName"}},
      {withTypes("let q = u8{ x: 1 }\n"), {"main.qov:14:1: lowering failed: ExpectedStruct"}},
      {withTypes("let p = P{ x: nope }\n"), {"main.qov:14:1: undefined name in this expression: struct literal"}},
  });
}

TEST(StructDeclarations, FieldTypesAndDefaults) {
  expectCases({
      {"struct A {\n  x: nosuch\n}\n", {"main.qov:1:1: lowering failed: UnknownTypeName"}},
      {"struct A {\n  x: u8 = 256\n}\n", {"main.qov:1:1: lowering failed: InvalidApiInteger"}},
      {"struct A {\n  x: u8 = \"a\"\n}\n", {"main.qov:1:1: lowering failed: InvalidExpression"}},
      {"struct A {\n  x: u8\n}\nstruct B {\n  a: A = 1\n}\n", {"main.qov:4:1: lowering failed: InvalidStructField"}},
      {"struct A {\n  x: u8\n}\nstruct A {\n  y: u8\n}\n", {"main.qov:4:1: lowering failed: DuplicateTypeName"}},
      {"const base = 4\nstruct A {\n  x: u8 = base + 1\n}\nlet a = A{ }\nlet x = a.x\n", {}, {{"x", 5}}},
  });
}

TEST(UndefinedNames, ReportedOncePerPlaceWithTheExpression) {
  expectCases({
      {"let u = nope + 1\n", {"main.qov:1:1: undefined name in this expression: (nope + 1)"}},
      {"let u = !(nope == \"a\")\n", {"main.qov:1:1: undefined name in this expression: (!(nope == \"a\"))"}},
      {"let u = f(nope)\n", {"main.qov:1:1: undefined name in this expression: f(nope)"}},
      {"let u = a.b * (2 + nope)\n", {"main.qov:1:1: undefined name in this expression: (a.b * (2 + nope))"}},
      {"let u = 1\n{\n  u = u + missing\n}\n", {"main.qov:3:3: undefined name in this expression: (u + missing)"}},
  });
}

TEST(UndefinedNames, ALongExpressionIsCut) {
  std::string expression = "nope";
  for (int index = 0; index < 40; ++index) expression += " + 1";
  frontend::module::Module module(frontend::target::Target::x86(64));
  const auto lowered = lower_test::lower(module, "let u = " + expression + "\n");
  ASSERT_EQ(lowered.diagnostics.size(), 1u);
  const std::string prefix = "main.qov:1:1: undefined name in this expression: ";
  EXPECT_EQ(lowered.diagnostics[0].size(), prefix.size() + 120);
}

}  // namespace
