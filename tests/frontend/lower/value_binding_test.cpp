#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "frontend/lower/root.hpp"
#include "frontend/support/failing_allocation.hpp"
#include "frontend/values/value.hpp"
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

// A struct W of 40 u8 fields f0 .. f39 (f39 defaults to 9), declared on
// lines 1 to 42, then the body.
std::string withWideStruct(std::string_view body) {
  std::string source = "struct W {\n";
  for (int index = 0; index < 40; ++index)
    source += "  f" + std::to_string(index) + ": u8" + (index == 39 ? " = 9\n" : "\n");
  source += "}\n";
  source += body;
  return source;
}

// "f<from>: <from>, ..." down to f<to>, so the literal lists fields in an
// order other than the declared one.
std::string fieldsDownFrom(int from, int to) {
  std::string fields;
  for (int index = from; index >= to; --index)
    fields += "f" + std::to_string(index) + ": " + std::to_string(index) + ", ";
  return fields;
}

// Literals wider than a short scan: fields are found by name, checked in
// order, the first fault found first.
TEST(StructLiterals, WideLiteralsMatchFieldsByName) {
  const std::string all = fieldsDownFrom(39, 0);
  expectCases({
      {withWideStruct("let w = W{ " + all + "}\nlet a = w.f0\nlet b = w.f17\nlet c = w.f39\n"),
       {},
       {{"a", 0}, {"b", 17}, {"c", 39}}},
      {withWideStruct("let w = W{ " + fieldsDownFrom(38, 0) + "}\nlet c = w.f39\n"), {}, {{"c", 9}}},
      {withWideStruct("let w = W{ " + fieldsDownFrom(39, 1) + "}\n"),
       {"main.qov:43:1: lowering failed: MissingStructFieldValue"}},
      {withWideStruct("let w = W{ " + all + "f20: 1 }\n"), {"main.qov:43:1: lowering failed: DuplicateFieldName"}},
      {withWideStruct("let w = W{ nope: 1, " + all + "f20: 1 }\n"), {"main.qov:43:1: lowering failed: UnknownField"}},
      {withWideStruct("let w = W{ f20: 2, nope: 1, " + all + "}\n"),
       {"main.qov:43:1: lowering failed: DuplicateFieldName"}},
      {withWideStruct("let w = W{ " + all + "f40: 1 }\n"), {"main.qov:43:1: lowering failed: UnknownField"}},
  });
}

TEST(StructLiterals, WideStructsPackInDeclaredOrder) {
  std::string bytes;
  for (int index = 0; index < 40; ++index) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", index);
    bytes += (index == 0 ? "" : " ") + std::string(hex);
  }
  lower_test::expectOutputCases({
      {withWideStruct("emit.struct(W{ " + fieldsDownFrom(39, 0) + "})\n"), bytes},
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

namespace {

// An assignment whose value changes the binding it replaces gives what a copy
// would give: other bindings keep their values, reads in the other arguments
// see the old value, and calls that may reach the binding keep the copy.
TEST(Assignments, ChangingTheReplacedBinding) {
  expectCases({
      {"let a = list.of(1)\nlet b = list.push(a, 2)\nlet na = len(a)\nlet nb = len(b)\n", {}, {{"na", 1}, {"nb", 2}}},
      {"let a = list.of(1)\nlet b = a\nb = list.push(b, 2)\nlet na = len(a)\nlet nb = len(b)\n",
       {},
       {{"na", 1}, {"nb", 2}}},
      {"let l = list.of()\nfor i in range(0, 4) {\n  l = list.push(l, len(l) * 10 + i)\n}\nlet n = len(l)\n"
       "let last = list.get(l, 3)\n",
       {},
       {{"n", 4}, {"last", 33}}},
      {"let l = list.of(1)\nl = list.push(l, l)\nlet inner = len(list.get(l, 1))\n", {}, {{"inner", 1}}},
      {"{\n  let l = list.of(1, 2)\n  let k = l\n  l = list.set(l, 0, 9)\n  emit.u8(list.get(l, 0))\n"
       "  emit.u8(list.get(k, 0))\n}\nlet n = load.u8(0) * 10 + load.u8(1)\n",
       {},
       {{"n", 91}}},
      {"let m = map.set(map.new(), \"a\", 1)\nlet keep = m\nm = map.set(m, \"b\", m)\nlet n = len(map.keys(m))\n"
       "let inner = len(map.keys(map.get(m, \"b\")))\nlet kept = len(map.keys(keep))\n",
       {},
       {{"n", 2}, {"inner", 1}, {"kept", 1}}},
      {"let l = list.of(1)\nfn f() -> u64 {\n  return len(l)\n}\nl = list.push(l, f())\nlet v = list.get(l, 1)\n",
       {},
       {{"v", 1}}},
      {"let l = list.of(1, 2, 3)\nlet n = 0\nfor x in l {\n  l = list.push(l, x)\n  l = list.push(l, x)\n  n = n + x\n}\n"
       "let k = len(l)\n",
       {},
       {{"n", 6}, {"k", 9}}},
      {"let l = list.of(1)\nl = list.set(l, 3, 0)\n", {"main.qov:2:1: lowering failed: InvalidExpression"}},
      {"const c = list.of(1)\nc = list.push(c, 2)\n", {"main.qov:2:1: lowering failed: InvalidValueDeclaration"}},
  });
}

// Collections copied as values every round share their storage, so that a
// round asks the heap for what it adds rather than for a copy of all: twice
// the rounds ask for about twice the bytes, where copies would ask for four
// times. Each source builds `rounds` items in a loop written as "LOOP".
TEST(SharedCollections, EveryRoundCostsWhatItAdds) {
  const std::string norm = "fn norm(x) -> u64 {\n  return x & 0xffff\n}\n";
  const std::string cases[] = {
      "struct S {\n  n: u64\n}\nlet l = list.of()\nLOOP  l = list.push(l, S{ n: i })\n}\nlet n = len(l)\n",
      "fn size_of(x: list) -> u64 {\n  return len(x)\n}\nlet l = list.of()\nlet n = 0\n"
      "LOOP  l = list.push(l, i)\n  n = size_of(l)\n}\n",
      "fn add(let l, v) {\n  l = list.push(l, v)\n}\nlet l = list.of()\nLOOP  add(l, i)\n}\nlet n = len(l)\n",
      "let l = list.of()\nLOOP  l = list.concat(l, list.of(i))\n}\nlet n = len(l)\n",
      "let b = bytes.new()\nLOOP  b = bytes.concat(b, bytes.le(i, 1))\n}\nlet n = len(b)\n",
      "let b = bytes.new()\nLOOP  b = bytes.insert(b, len(b), bytes.le(i, 1))\n}\nlet n = len(b)\n",
      "let m = map.set(map.set(map.new(), \"a\", list.of()), \"b\", list.of())\n"
      "LOOP  m = map.set(m, \"a\", list.push(map.get(m, \"a\"), i))\n}\nlet n = len(map.get(m, \"a\"))\n",
      "let l = list.of()\nmacro m(a) {\n  l = list.push(l, operand.eval(a))\n}\nLOOP  m i\n}\nlet n = len(l)\n",
      "let l = list.of()\nfn ident(x) -> u64 {\n  return x\n}\nmacro m(a) {\n  l = list.push(l, operand.eval(a))\n}\n"
      "LOOP  m ident(i)\n}\nlet n = len(l)\n",
      "let n = 0\nfn go() {\n  let l = list.of()\n  LOOP    l = list.push(l, i)\n  }\n"
      "  LOOP    defer {\n      let s = len(l)\n    }\n  }\n  n = len(l)\n}\ngo()\n",
      "fn add(let m, k, v) {\n  m = map.set(m, k, v)\n}\nlet reg = map.new()\nLOOP  add(reg, to_string(i), i)\n}\n"
      "let n = len(reg)\n",
      "fn add(let m, k) {\n  m = map.set(m, k, 1)\n}\nlet n = 0\nfn go() {\n  let m = map.new()\n"
      "  LOOP    add(m, to_string(i))\n  }\n  n = len(m)\n}\ngo()\n",
      "let reg = map.new()\nfn ident(x) -> u64 {\n  return x\n}\nmacro m(a) {\n"
      "  reg = map.set(reg, to_string(operand.eval(a)), 1)\n}\nLOOP  m ident(i)\n}\nlet n = len(reg)\n",
      norm + "fn add(let m, k, v) {\n  m = map.set(m, k, norm(v))\n}\nlet reg = map.new()\n"
             "LOOP  add(reg, to_string(i), i)\n}\nlet n = len(reg)\n",
      norm + "fn put(let m, k, v) {\n  m = map.set(m, k, norm(v))\n}\nfn add(let m, k, v) {\n  put(m, k, v)\n}\n"
             "let reg = map.new()\nLOOP  add(reg, to_string(i), i)\n}\nlet n = len(reg)\n",
      "fn log(k) {\n  let t = k\n}\nfn add(let m, k) {\n  m = map.set(m, k, 1)\n  log(k)\n}\n"
      "let reg = map.new()\nLOOP  add(reg, to_string(i))\n}\nlet n = len(reg)\n",
      norm + "fn put(let l, i) {\n  l = list.set(l, i, norm(i))\n}\nlet l = list.of()\nLOOP  l = list.push(l, 0)\n}\n"
             "LOOP  put(l, i)\n}\nlet n = len(l)\n",
      norm + "let reg = map.new()\nfn ident(x) -> u64 {\n  return norm(x)\n}\nmacro m(a) {\n"
             "  reg = map.set(reg, to_string(operand.eval(a)), 1)\n}\nLOOP  m ident(i)\n}\nlet n = len(reg)\n",
  };
  for (const std::string& shape : cases) {
    SCOPED_TRACE(shape);
    std::size_t asked[2] = {};
    for (const std::uint64_t rounds : {1500u, 3000u}) {
      std::string source = shape;
      const std::string loop = "for i in range(0, " + std::to_string(rounds) + ") {\n";
      for (std::size_t at = source.find("LOOP"); at != std::string::npos; at = source.find("LOOP"))
        source.replace(at, 4, loop);
      frontend::module::Module module(frontend::target::Target::x86(64));
      const frontend::testing::HeapTraffic traffic;
      const auto lowered = lower_test::lower(module, source);
      asked[rounds == 3000u] = traffic.bytes();
      ASSERT_TRUE(lowered.status) << (lowered.diagnostics.empty() ? "" : lowered.diagnostics.front());
      EXPECT_EQ(lower_test::integerValue(module, "n"), rounds);
    }
    EXPECT_LT(asked[1], asked[0] * 5 / 2);
  }
}

// Builtins that only read a list, map or text borrow the binding for the call
// and give it back: each case reads the binding again afterwards.
TEST(BorrowedArguments, ReadsLeaveTheBindingWhole) {
  expectCases({
      {"let l = list.of(1, 2, 3)\nlet n = len(l) + len(l)\nlet k = len(l)\n", {}, {{"n", 6}, {"k", 3}}},
      {"let l = list.of(4, 5)\nlet same = 0\nif list.eq(l, l) {\n  same = 1\n}\nlet k = list.get(l, 1)\n",
       {},
       {{"same", 1}, {"k", 5}}},
      {"let l = list.of(5, 6, 7)\nlet last = list.get(l, len(l) - 1)\nlet k = len(l)\n", {}, {{"last", 7}, {"k", 3}}},
      {"fn f(x) -> u64 {\n  let t = list.of(x, x)\n  return len(t)\n}\nlet l = list.of(1, 2, 3)\n"
       "let g = list.get(l, f(1))\nlet k = len(l)\n",
       {},
       {{"g", 3}, {"k", 3}}},
      {"let out = 0\n{\n  let m = map.new()\n  m = map.set(m, \"a\", 4)\n  if map.has(m, \"a\") {\n"
       "    out = map.get(m, \"a\") + len(map.keys(m)) + len(m)\n  }\n}\n",
       {},
       {{"out", 6}}},
      {"let l = list.of(1, 2, 3)\nlet n = 0\n{\n  let l = list.of(9)\n  n = len(l) + list.get(l, 0)\n}\n"
       "let k = len(l)\n",
       {},
       {{"n", 10}, {"k", 3}}},
      {"let s = \"ab\"\nlet t = sym.join(s, s, 1)\nlet n = len(t) + len(s)\n", {}, {{"n", 7}}},
      {"let l = list.of(1)\nlet v = list.get(l, 1)\n", {"main.qov:2:1: lowering failed: InvalidExpression"}},
  });
}

// bytes.push and sym.join append to the binding they replace.
TEST(BorrowedArguments, AppendingCallsReplaceTheirBinding) {
  expectCases({
      {"let b = bytes.new()\nfor i in range(0, 300) {\n  b = bytes.push(b, i & 255)\n}\nlet n = len(b)\n", {}, {{"n", 300}}},
      {"let b = bytes.new()\nfor i in range(0, 3) {\n  b = bytes.push(b, i + 7)\n}\nlet same = 0\n"
       "if bytes.eq(b, bytes.from_hex(\"070809\")) {\n  same = 1\n}\n",
       {},
       {{"same", 1}}},
      {"let s = \"\"\nfor i in range(0, 12) {\n  s = sym.join(s, i)\n}\nlet n = len(s)\n", {}, {{"n", 14}}},
      {"let s = \"x\"\ns = sym.join(s, list.of(1))\n", {"main.qov:2:1: lowering failed: InvalidExpression"}},
      {"let b = bytes.new()\nb = bytes.push(b, 256)\n", {"main.qov:2:1: lowering failed: InvalidApiInteger"}},
  });
}

}  // namespace
