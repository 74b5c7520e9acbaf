// Instruction lines lowered into a module: what each line holds once
// lowering put the meta values into its text (its bytes and the fixups they
// wait for, or the text of a line the encoders take only later), and the
// failures lowering reports for them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/lower/lower_test_support.hpp"

namespace {

using frontend::target::Target;

struct LineCase {
  Target target;
  const char* source;
  std::vector<std::string> lines;        // as lower_test::instructionLines gives them
  std::vector<std::string> diagnostics;  // errors lowering reports
};

TEST(IsaLowering, ReplacesMetaIntegersAndBuiltinCalls) {
  const Target x86 = Target::x86(64);
  const Target riscv = Target::riscv(64);
  const LineCase cases[] = {
      // mov eax, 4
      {x86, "let n = 4\nmov eax, n\n", {"b8 04 00 00 00"}, {}},
      {x86, "const r = \"x\"\nmov eax, r\n", {"b8 00 00 00 00 <r>"}, {}},
      // add rsp, 16; jmp start
      {x86, "const size = 16\nadd rsp, size\njmp start\nstart:\n", {"48 83 c4 10", "e9 fb ff ff ff <start>"}, {}},
      {x86, "mov eax, here\n", {"b8 00 00 00 00 <here>"}, {}},
      // nop; mov eax, 1
      {x86, "nop\nmov eax, here()\n", {"90", "b8 01 00 00 00"}, {}},
      {x86, "let eax = 7\nmov eax, 1\n", {"b8 01 00 00 00"}, {}},
      // addi a0, a0, 7
      {riscv, "let eax = 7\naddi a0, a0, eax\n", {"13 05 75 00"}, {}},
      {x86, "let add = 1\nlock add [x], 1\n", {"lock add [x], 1"}, {}},
      // mov eax, 10h + 3; mov eax, 0x10
      {x86, "const h = 3\nmov eax, 10h + h\nmov eax, 0x10\n", {"b8 13 00 00 00", "b8 10 00 00 00"}, {}},
      // mov eax, [rbp-8]
      {x86, "let off = -8\nmov eax, [rbp+off]\n", {"8b 45 f8"}, {}},
      {x86, "let s = 1\nmov eax, 's'\n", {"b8 73 00 00 00"}, {}},
      // lea eax, [2 + 2*4 + 's''n'], the string s'n
      {x86, "let n = 2\nlea eax, [n + n*4 + 's''n']\n", {"8d 04 25 7d 27 6e 00"}, {}},
      {x86, "let n = 2\nmov eax, (n)\nmov eax, (1)\n", {"b8 02 00 00 00", "b8 01 00 00 00"}, {}},
      // nop; mov eax, 1 + 5
      {x86, "let a = 5\nnop\nmov eax, here() + a\n", {"90", "b8 06 00 00 00"}, {}},
      // mov eax, k; mov eax, 3; mov eax, 2+3
      {x86,
       "mov eax, k\nconst k = 3\nmov eax, k\nlet w = 2\nmov eax, w+k\n",
       {"b8 00 00 00 00 <k>", "b8 03 00 00 00", "b8 05 00 00 00"},
       {}},
      {Target::spirv(), "const id = 5\n%id = OpTypeVoid\n", {"%5 = OpTypeVoid"}, {}},
      {x86, "mov eax, 'oops\n", {}, {"main.qov:1:1: lowering failed: InvalidExpression"}},
      {x86, "mov eax, x + 'a''b' + \"c\"\nmov eax, 'a', \"b\n", {"b8 00 00 00 00 <x + 'a''b' + \"c\">"},
       {"main.qov:2:1: lowering failed: InvalidExpression"}},
      // mov eax, 'a''b', the string a'b
      {x86, "const z = 1\nmov eax, 'a''b'\nmov eax, 'a', \"b\n", {"b8 61 27 62 00"},
       {"main.qov:3:1: lowering failed: InvalidExpression"}},
      {x86, "mov eax, label_addr(nowhere)\n", {}, {"main.qov:1:1: lowering failed: UndefinedSymbol"}},
      // A SPIR-V string takes backslash escapes, with or without names to replace.
      {Target::spirv(), "OpName %1 \"a\\\"b\"\n", {"OpName %1 \"a\\\"b\""}, {}},
      {Target::spirv(),
       "const b = 2\nOpEntryPoint Fragment %b \"a\\\" b\\\\\" %b\n",
       {"OpEntryPoint Fragment %2 \"a\\\" b\\\\\" %2"},
       {}},
      {Target::spirv(), "OpName %1 \"a\\\"\n", {}, {"main.qov:1:1: lowering failed: InvalidExpression"}},
      {x86, "mov eax, \"a\\\"b\"\n", {}, {"main.qov:1:1: lowering failed: InvalidExpression"}},
  };
  for (const auto& [target, source, lines, diagnostics] : cases) {
    frontend::module::Module module(target);
    const auto lowered = lower_test::lower(module, source);
    EXPECT_EQ(lowered.diagnostics, diagnostics) << source;
    EXPECT_EQ(lower_test::instructionLines(module), lines) << source;
  }
}

TEST(IsaLowering, LabelsAfterAnInstructionSeeItsSize) {
  frontend::module::Module module(Target::riscv(64));
  const auto lowered = lower_test::lower(module, "a:\nc.nop\nnop\nb:\n");
  ASSERT_TRUE(lowered.status) << lowered.diagnostics.front();
  const auto* b = module.findSymbol("b")->label();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->offset, 6u);
}

}  // namespace
