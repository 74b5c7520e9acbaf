#include <gtest/gtest.h>

#include <string>

#include "lower_test_support.hpp"

namespace {

using lower_test::expectCases;

// A statement function that calls itself until k reaches 0: depth + 1 nested calls.
std::string countdown(int depth) {
  return "fn down(k) {\n  if k > 0 {\n    down(k - 1)\n  }\n}\ndown(" + std::to_string(depth) + ")\n";
}

TEST(StatementFunctions, LetParametersWriteBack) {
  const std::string inc = "fn inc(let x) {\n  x = x + 1\n}\n";
  const std::string swap = "fn swap(let a, let b) {\n  let t = a\n  a = b\n  b = t\n}\n";
  expectCases({
      {inc + "let n = 1\ninc(n)\ninc(n)\n", {}, {{"n", 3}}},
      {inc + "let n = 1\n{\n  let n = 10\n  inc(n)\n}\n", {}, {{"n", 1}}},
      {inc + "let out = 0\n{\n  let n = 10\n  inc(n)\n  out = n\n}\n", {}, {{"out", 11}}},
      {inc + "inc(1)\n", {"main.qov:4:1: mutable function argument must be a direct let binding"}},
      {inc + "const c = 1\ninc(c)\n", {"main.qov:5:1: mutable function argument must resolve to a let binding"}},
      {inc + "{\n  const c = 1\n  inc(c)\n}\n",
       {"main.qov:6:3: mutable function argument must resolve to a let binding"}},
      {inc + "inc(nowhere)\n", {"main.qov:4:1: mutable function argument must resolve to a let binding"}},
      {swap + "let x = 1\nlet y = 2\nswap(x, y)\n", {}, {{"x", 2}, {"y", 1}}},
      {swap + "let x = 1\nswap(x, x)\n", {"main.qov:7:1: mutable function arguments cannot alias the same binding"}},
      {"fn keep(x) {\n  x = 5\n}\nlet n = 1\nkeep(n)\n", {"main.qov:2:3: lowering failed: InvalidValueDeclaration"}},
      {"fn typed(x: u8) {\n}\ntyped(256)\n", {"main.qov:3:1: lowering failed: InvalidValueDeclaration"}},
      {inc + "let n = 1\ninc(n, n)\n", {"main.qov:5:1: lowering failed: InvalidApiArity"}},
  });
}

// A let parameter may hold its caller's collection itself; the caller's
// binding still reads as it was until the call writes it back, whoever reads
// it, and an argument assigned by a later one is written back as read.
TEST(StatementFunctions, LetParametersLeaveTheCallersBindingUntilTheEnd) {
  const std::string peek = "fn peek() -> u64 {\n  return len(reg)\n}\nlet seen = 9\n";
  expectCases({
      {peek + "fn add(let m, k) {\n  m = map.set(m, k, 1)\n  seen = peek()\n}\n"
              "let reg = map.new()\nadd(reg, \"a\")\nlet n = len(reg)\n",
       {},
       {{"seen", 0}, {"n", 1}}},
      {peek + "fn add(let m, k) {\n  m = map.set(m, k, 1)\n  seen = len(reg)\n}\n"
              "let reg = map.new()\nadd(reg, \"a\")\nlet n = len(reg)\n",
       {},
       {{"seen", 0}, {"n", 1}}},
      {peek + "fn add(let reg, k) {\n  reg = list.push(reg, k)\n  seen = peek()\n}\nlet n = 0\n"
              "fn run() {\n  let reg = list.of(1)\n  add(reg, 5)\n  n = list.get(reg, 1)\n}\nrun()\n",
       {},
       {{"seen", 2}, {"n", 5}}},
      {"fn grow() -> u64 {\n  reg = map.set(reg, \"z\", 0)\n  return 1\n}\n"
       "fn add(let m, v) {\n  m = map.set(m, \"a\", v)\n}\nlet n = 0\n"
       "fn run() {\n  let reg = map.new()\n  add(reg, grow())\n  n = len(reg)\n}\nrun()\n",
       {},
       {{"n", 1}}},
      {"macro count(t) {\n  seen = len(operand.eval(t))\n}\nlet seen = 0\nfn add(let m) {\n  m = list.push(m, 2)\n  count reg\n}\n"
       "let reg = list.of(1)\nadd(reg)\nlet n = len(reg)\n",
       {},
       {{"seen", 1}, {"n", 2}}},
  });
}

// A macro operand that calls a value function captures what the function's
// body names as it is at the invocation, however the macro changes it.
TEST(MacroOperands, CalledFunctionsReadTheCapturedValues) {
  const std::string size = "let out = 0\nlet reg = list.of(1)\nfn size() -> u64 {\n  return len(reg)\n}\n";
  expectCases({
      {size + "macro m(a) {\n  reg = list.push(reg, 2)\n  out = operand.eval(a)\n}\nm size()\n", {}, {{"out", 1}}},
      {size + "fn outer() -> u64 {\n  return size()\n}\nmacro m(a) {\n  reg = list.push(reg, 2)\n"
              "  out = operand.eval(a)\n}\nm outer()\n",
       {},
       {{"out", 1}}},
  });
}

// A later argument's function that assigns the binding an earlier argument
// names, reached through any expression its body or the argument writes,
// leaves the earlier argument its value as read ("old0", not "new0"); a let
// parameter's body that includes another source leaves the caller's binding
// whole for it.
TEST(ValueFunctions, LaterArgumentsReachTheBindingThroughAnyExpression) {
  const std::string sets =
      "struct P {\n  x: u64\n}\nfn box(v) -> P {\n  let p = P{ x: v }\n  return p\n}\nfn norm(v) -> u64 {\n"
      "  return v\n}\nfn sets() -> u64 {\n  s = \"new\"\n  return 0\n}\nlet ok = 0\nfn run() {\n  let s = \"old\"\n"
      "  if sym.join(s, via()) == \"old0\" {\n    ok = 1\n  }\n}\n";
  const auto through = [&](std::string_view expression) {
    return sets + "fn via() -> u64 {\n  return " + std::string(expression) + "\n}\nrun()\n";
  };
  lower_test::Files files;
  files.texts["peek.qov"] = "seen = len(reg)\n";
  expectCases(
      {
          {through("sets()"), {}, {{"ok", 1}}},
          {through("1 * 2 - 2 + sets()"), {}, {{"ok", 1}}},
          {through("-sets()"), {}, {{"ok", 1}}},
          {through("norm(sets())"), {}, {{"ok", 1}}},
          {through("box(sets()).x"), {}, {{"ok", 1}}},
          {through("0").replace(sets.find("via()"), 5, "box(sets()).x"), {}, {{"ok", 1}}},
          {"let seen = 0\nfn add(let m) {\n  m = list.push(m, 2)\n  include(\"peek.qov\")\n}\nlet reg = list.of(1)\n"
           "add(reg)\nlet n = len(reg)\n",
           {},
           {{"seen", 1}, {"n", 2}}},
      },
      files);
}

TEST(StatementFunctions, DefinitionsAndScopes) {
  expectCases({
      {"fn f() {\n}\nfn f() {\n}\n", {"main.qov:3:1: lowering failed: DuplicateMetaFunction"}},
      {"let r = 0\nfn f() {\n  r = 1\n}\nfn f() -> u64 {\n  return 2\n}\nf()\nlet v = f()\n", {}, {{"r", 1}, {"v", 2}}},
      {"fn f() {\n}\nlet v = f()\n", {"main.qov:3:1: undefined name in this expression: f()"}},
      {"fn f() {\n  break\n}\nwhile true {\n  f()\n}\n", {"main.qov:2:3: break used outside of a Meta loop"}},
      {"let n = 0\nwhile n < 3 {\n  fn_in_loop()\n  n = n + 1\n}\n",
       {"main.qov:3:3: unknown call: fn_in_loop"}},
      {"fn f() {\n  let local = 1\n}\nf()\nlet v = local\n", {"main.qov:5:1: undefined name in this expression: local"}},
  });
}

TEST(MetaFunctions, NestingIsBounded) {
  const std::string depth = "fn depth(k) -> u64 {\n  if k == 0 {\n    return 0\n  }\n  return depth(k - 1) + 1\n}\n";
  expectCases({
      {countdown(127), {}},
      {countdown(128), {"main.qov:3:5: lowering failed: MetaCallDepthExceeded"}},
      {depth + "let r = depth(127)\n", {}, {{"r", 127}}},
      {depth + "let r = depth(128)\n", {"main.qov:5:3: lowering failed: InvalidExpression"}},
  });
}

TEST(ValueFunctions, ReturnConvertedAndSideEffectsRefused) {
  const std::string sq = "fn sq(v: u64) -> u64 {\n  return v * v\n}\n";
  expectCases({
      {sq + "let r = sq(3) + sq(sq(2))\n", {}, {{"r", 25}}},
      {"fn f() -> u64 {\n  let a = 1\n}\nlet r = f()\n", {"main.qov:4:1: lowering failed: InvalidExpression"}},
      {"fn f() -> u8 {\n  return 256\n}\nlet r = f()\n", {"main.qov:4:1: lowering failed: InvalidExpression"}},
      {"fn f() -> u64 {\n  if true {\n    return 4\n  }\n  return 5\n}\nlet r = f()\n", {}, {{"r", 4}}},
      {"let g = 0\nfn f() -> u64 {\n  g = 1\n  return 1\n}\nlet r = f()\n",
       {"main.qov:3:3: lowering failed: SideEffectInValueFunction"}},
      {"fn f() -> u64 {\n  here:\n  return 1\n}\nlet r = f()\n",
       {"main.qov:2:3: lowering failed: SideEffectInValueFunction"}},
      {"fn f() -> u64 {\n  origin(1)\n  return 1\n}\nlet r = f()\n",
       {"main.qov:2:3: lowering failed: SideEffectInValueFunction"}},
      {"fn f() -> u64 {\n  return g\n}\nlet g = 7\nlet r = f()\n", {}, {{"r", 7}}},
      {"fn f(a, b) -> u64 {\n  return a\n}\nlet r = f(1)\n", {"main.qov:4:1: lowering failed: InvalidExpression"}},
      {"fn f() -> u64 {\n  return 1\n}\nfn f() -> u64 {\n  return 2\n}\n",
       {"main.qov:4:1: lowering failed: DuplicateMetaFunction"}},
      {"let r = 0\nfn f() -> u64 {\n  let n = 0\n  while true {\n    n = n + 1\n    if n == 4 {\n      return n\n    }\n"
       "  }\n}\nr = f()\n",
       {},
       {{"r", 4}}},
  });
}

TEST(ValueFunctions, UniqueNamesCountPerRun) {
  expectCases({
      {"let ok = 0\nlet a = sym.unique(\"L\")\nlet b = sym.unique(\"L\")\nif a == \"L__0\" && b == \"L__1\" {\n"
       "  ok = 1\n}\n",
       {},
       {{"ok", 1}}},
  });
}

}  // namespace
