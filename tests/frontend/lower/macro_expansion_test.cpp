#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/module/module.hpp"
#include "lower_test_support.hpp"

namespace {

using lower_test::expectCases;

TEST(Macros, OverloadsByOperandCount) {
  const std::string counter = "let n = 0\nmacro m() {\n  n = n + 1\n}\n";
  const std::string overloads =
      "let r = 0\nmacro m(a) {\n  r = 1\n}\nmacro m(a, b) {\n  r = 2\n}\nmacro m(a, ...rest) {\n  r = 3\n}\n";
  expectCases({
      {counter + "m\nm\n", {}, {{"n", 2}}},
      {counter + "m x\n", {"main.qov:5:1: MacroArityMismatch: macro 'm' does not accept 1 operands"}},
      {counter + "m(1)\n", {"main.qov:5:1: macro calls use instruction syntax without parentheses"}},
      {overloads + "m 1\n", {}, {{"r", 1}}},
      {overloads + "m 1, 2\n", {}, {{"r", 2}}},
      {overloads + "m 1, 2, 3\n", {}, {{"r", 3}}},
      {overloads + "m (1, 2)\n", {}, {{"r", 1}}},
      {"let r = 0\nmacro v(a, ...rest) {\n  r = r * 10 + len(rest)\n}\nv 1\nv 1, 2, 3\n", {}, {{"r", 2}}},
      {"macro v(a, ...rest) {\n}\nv\n", {"main.qov:3:1: MacroArityMismatch: macro 'v' does not accept 0 operands"}},
      {"macro m(a) {\n}\nmacro m(b) {\n}\n", {"main.qov:3:1: lowering failed: DuplicateMacro"}},
      {"macro m(...a) {\n}\nmacro m(b, ...c) {\n}\n", {"main.qov:3:1: lowering failed: DuplicateMacro"}},
      {"macro m(a, b, c) {\n}\nm a,,b\n", {"main.qov:3:1: lowering failed: InvalidMacroOperands"}},
      {"macro m(a) {\n}\nm a,\n", {"main.qov:3:1: lowering failed: InvalidMacroOperands"}},
      {"macro m(a) {\n  a = 1\n}\nm x\n", {"main.qov:2:3: lowering failed: InvalidValueDeclaration"}},
  });
}

TEST(Macros, OperandsEvaluateWhereTheyWereWritten) {
  const std::string eval = "let r = 0\nmacro e(op) {\n  let x = 100\n  r = operand.eval(op)\n}\n";
  // inner sees the text "x + 1 * x": the first x is the top-level one, the
  // second the one outer wrote.
  const std::string nested = "let r = 0\nmacro inner(p) {\n  let x = 1000\n  r = operand.eval(p)\n}\n"
                             "macro outer(o) {\n  let x = 10\n  inner o * x\n}\n";
  expectCases({
      {eval + "{\n  let x = 5\n  e x + 1\n}\n", {}, {{"r", 6}}},
      {eval + "let x = 7\ne x * 2\n", {}, {{"r", 14}}},
      {nested + "{\n  let x = 5\n  outer x + 1\n}\n", {}, {{"r", 15}}},
      {eval + "start:\ne start + 4\n", {"main.qov:4:3: undefined name in this expression: operand.eval(op)"}},
      {eval + "e nowhere\n", {"main.qov:4:3: undefined name in this expression: operand.eval(op)"}},
      {eval + "e 1 2\n", {"main.qov:4:3: lowering failed: InvalidExpression"}},
      {"let r = 0\nmacro t(op) {\n  r = len(operand.text(op))\n}\nt  a + b \n", {}, {{"r", 5}}},
      {"let r = 0\nmacro s(op) {\n  let inside = operand.slice(op, 1, len(operand.text(op)) - 1)\n"
       "  let parts = operand.split(inside)\n  r = len(parts) * 100 + operand.eval(list.get(parts, 2))\n}\n"
       "let z = 7\ns (1, 2, z + 1)\n",
       {},
       {{"r", 308}}},
      {"macro s(op) {\n  let bad = operand.slice(op, 2, 1)\n}\ns abc\n",
       {"main.qov:2:3: lowering failed: InvalidApiArgument"}},
      {"let r = 0\nmacro s(op) {\n  r = len(operand.text(operand.slice(op, 0, 0)))\n}\ns abc\n", {}, {{"r", 0}}},
      {"let r = operand.text(1)\n", {"main.qov:1:1: lowering failed: InvalidExpression"}},
  });
}

// Module values named in an operand read as they were at the invocation,
// whatever the body or later statements assign to them, also through nested
// macros, field reads, slices, value functions and operands kept in a module
// value.
TEST(Macros, OperandsReadModuleValuesAsAtTheInvocation) {
  const std::string values = "let k = 3\nlet r = 0\n";
  const std::string nested = "macro inner(p) {\n  k = 1000\n  r = operand.eval(p)\n}\n"
                             "macro outer(o) {\n  k = 10\n  inner o * k\n}\n";
  expectCases({
      {values + "macro e(op) {\n  k = 50\n  r = operand.eval(op)\n}\ne k + 1\n", {}, {{"r", 4}, {"k", 50}}},
      {values + nested + "outer k + 1\n", {}, {{"r", 13}}},
      {values + "struct P {\n  x: u8\n}\nlet p = P{ x: 5 }\nmacro f(op) {\n  p = P{ x: 9 }\n"
                "  r = operand.eval(op)\n}\nf p.x + 1\n",
       {},
       {{"r", 6}}},
      {values + "let keep = list.of()\nmacro grab(op) {\n  keep = list.push(keep, op)\n}\ngrab k * 2\nk = 8\n"
                "r = operand.eval(list.get(keep, 0))\n",
       {},
       {{"r", 6}}},
      {values + "macro s(op) {\n  k = 70\n  let parts = operand.split(operand.slice(op, 1, len(operand.text(op)) - 1))\n"
                "  r = operand.eval(list.get(parts, 0)) * 100 + operand.eval(list.get(parts, 1))\n}\ns [k, k + 1]\n",
       {},
       {{"r", 304}}},
      {values + "fn kv() -> u64 {\n  return k\n}\nmacro e(op) {\n  k = 50\n  r = operand.eval(op)\n}\ne kv() + 1\n",
       {},
       {{"r", 4}}},
  });
}

// Only whole names of operand parameters are replaced by the caller's text;
// quoted text, bytes literals and longer names stay as written.
TEST(Macros, CaptureReplacesWholeParameterNamesOnly) {
  const std::string macros = "let r = \"\"\nmacro inner(p) {\n  r = operand.text(p)\n}\nmacro outer(o) {\n  inner ";
  const auto expectText = [&](const std::string& operand, const std::string& text) {
    frontend::module::Module module(frontend::target::Target::x86(64));
    const auto lowered = lower_test::lower(module, macros + operand + "\n}\nouter abc\n");
    ASSERT_TRUE(lowered.status) << operand;
    const auto* value = module.findSymbol("r")->value()->value.asString();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, text) << operand;
  };
  expectText("xo + o", "xo + abc");
  expectText("'o' + o", "'o' + abc");
  expectText("b\"o\" + o.x + o$", "b\"o\" + o.x + o$");
  expectText("(o, [o])", "(abc, [abc])");
}

TEST(Macros, ExpansionLimitsAndRefusals) {
  expectCases({
      {"macro rec() {\n  rec\n}\nrec\n", {"main.qov:2:3: lowering failed: MetaCallDepthExceeded"}},
      {"macro m() {\n}\nfor i in range(0, 100001) {\n  m\n}\n",
       {"main.qov:4:3: lowering failed: MacroExpansionLimitExceeded"}},
      {"macro m() {\n}\nfn f() -> u64 {\n  m\n  return 1\n}\nlet r = f()\n",
       {"main.qov:4:3: lowering failed: SideEffectInValueFunction"}},
      {"macro m() {\n  break\n}\nwhile true {\n  m\n}\n", {"main.qov:2:3: break used outside of a Meta loop"}},
      {"macro m() {\n  macro n() {\n  }\n}\nm\n", {"main.qov:2:3: lowering failed: InvalidMacro"}},
      // Each expansion captures the operand the one before stored in g:
      // 128 captures deep is the most.
      {"let g = 0\nmacro m(a) {\n  g = a\n}\nlet i = 0\nwhile i < 300 {\n  m g\n  i = i + 1\n}\n",
       {"main.qov:7:3: lowering failed: MacroCaptureDepthExceeded"}},
      {"let g = 0\nmacro m(a) {\n  g = a\n}\nlet i = 0\nwhile i < 128 {\n  m g\n  i = i + 1\n}\n", {}},
      {"let g = 0\nmacro m(a) {\n  g = a\n}\nlet i = 0\nwhile i < 129 {\n  m g\n  i = i + 1\n}\n",
       {"main.qov:7:3: lowering failed: MacroCaptureDepthExceeded"}},
  });
}

TEST(Macros, DiagnosticsLeadBackToTheInvocation) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  const std::string source = "macro bad() {\n  let v: u8 = 256\n}\nbad\n";
  const auto lowered = lower_test::lower(module, source);
  EXPECT_FALSE(lowered.status);
  const auto& diagnostics = module.diagnostics().diagnostics();
  ASSERT_EQ(diagnostics.size(), 3u);
  EXPECT_EQ(diagnostics[0].message, "lowering failed: InvalidValueDeclaration");
  EXPECT_EQ(diagnostics[0].location.span.start, source.find("let"));
  EXPECT_EQ(diagnostics[1].message, "macro invoked here");
  EXPECT_EQ(diagnostics[1].location.span.start, source.rfind("bad"));
  EXPECT_EQ(diagnostics[2].message, "macro defined here");
  EXPECT_EQ(diagnostics[2].location.span.start, 0u);
}

}  // namespace

namespace {

struct LineCase {
  std::string source;
  std::vector<std::string> lines;  // as lower_test::instructionLines gives them
  std::vector<std::string> diagnostics = {};
};

void expectLines(const std::vector<LineCase>& cases) {
  for (const LineCase& test : cases) {
    SCOPED_TRACE(test.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    const auto lowered = lower_test::lower(module, test.source);
    EXPECT_EQ(lowered.diagnostics, test.diagnostics);
    EXPECT_EQ(lower_test::instructionLines(module), test.lines);
  }
}

// Operands put back into instruction lines keep the caller's meaning; the
// target's own words are never replaced.
TEST(MacroLines, OperandsRenderAsTheCallerWroteThem) {
  const std::string load = "macro ld(reg, v) {\n  let eax = 99\n  let off = 3\n  mov reg, v + off\n}\n";
  expectLines({
      {load + "{\n  let n = 4\n  ld eax, n\n}\n", {"b8 07 00 00 00"}},  // mov eax, 4 + 3
      {load + "start:\nld ecx, [start + 2]\n", {"mov ecx, [start + 2] + 3"}},
      {load + "let base = 7\nld rax, base * later * 'a,b'\n",
       {"48 b8 00 00 00 00 00 00 00 00 <7 * later * 'a,b' + 3>"}},
      {"macro pos(r) {\n  nop\n  mov r, here()\n}\nnop\npos eax\n", {"90", "90", "b8 02 00 00 00"}},
      {"macro two(a, b) {\n  push a\n  push b\n}\ntwo rax, rbx\n", {"50", "53"}},  // push rax, push rbx
      {"macro wrap(x) {\n  inner x\n}\nmacro inner(y) {\n  add y, 1\n}\n{\n  let r = 5\n  wrap [r]\n}\n",
       {"add [5], 1"}},
      {"macro q(a) {\n  mov a, 'open\n}\nq eax\n", {}, {"main.qov:2:3: lowering failed: InvalidMacroOperands"}},
      {"macro q(a) {\n  mov eax, sizeof(a)\n}\nq 1\n", {}, {"main.qov:2:3: lowering failed: InvalidExpression"}},
  });
}

}  // namespace
